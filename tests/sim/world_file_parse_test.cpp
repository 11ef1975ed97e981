// Reading a world file: which lines it takes and what they describe, and the errors it reports
// with their line numbers.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/world_file_parse.h"
#include "tests/support/sim_test.h"

namespace {

using zqtest::Hex;

// A compact rendering of a description, so that a table can say what a file means.
std::string Summary(const sim::WorldDescription& described) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        text += (text.empty() ? "" : "; ") + part;
    };
    for (const sim::DriveDescription& drive : described.drives) {
        const char* scsi = drive.scsi == sim::ScsiDevice::kNone   ? "none"
                           : drive.scsi == sim::ScsiDevice::kDisk ? "disk"
                                                                  : "refuses";
        add(std::string("drive ") + drive.letter + " type=" + std::to_string(drive.type) +
            " scsi=" + scsi + " inquiry=" + std::to_string(drive.inquiryByte3) +
            " opens=" + (drive.opens ? "yes" : "no") +
            " vendor=" + (drive.vendor ? "[" + *drive.vendor + "]" : "none") +
            (drive.queryFails ? " query=fails" : ""));
    }
    for (const sim::CameraDescription& camera : described.cameras) {
        std::string firmware;
        for (const sim::FirmwarePiece& piece : camera.firmware) {
            firmware += "[" + Hex(piece) + "]";
        }
        add(std::string("camera ") + camera.letter + " state=" + std::to_string(camera.state) +
            " overwrite=" + std::to_string(camera.loopRecording) +
            " timestamp=" + std::to_string(camera.timestampDisplay) +
            " resolution=" + std::to_string(camera.resolution) + " firmware=" + firmware +
            (camera.inquiryVendor != "KMZ" ? " inquiry-vendor=[" + camera.inquiryVendor + "]"
                                           : "") +
            (camera.answerDelayMs != 0 ? " delay=" + std::to_string(camera.answerDelayMs) : ""));
    }
    for (const sim::StorageDescription& storage : described.storage) {
        add(std::string("storage ") +
            (storage.camera != 0 ? std::string("camera=") + storage.camera + " " : "") + "letter=" +
            (storage.letter == 0 ? '-' : storage.letter) + " type=" + std::to_string(storage.type) +
            " vendor=" + (storage.vendor ? "[" + *storage.vendor + "]" : "none") + " answers=" +
            (storage.answers == sim::StorageAnswers::kKeepsAnswering ? "keep" : "plaindisk"));
    }
    for (const sim::FaultDescription& fault : described.faults) {
        const char* kind = fault.fault.kind == sim::FaultKind::kCallFails     ? "fails"
                           : fault.fault.kind == sim::FaultKind::kShortAnswer ? "short"
                           : fault.fault.kind == sim::FaultKind::kIgnored     ? "ignored"
                                                                              : "check";
        add(std::string("fault ") + (fault.inquiry ? "inquiry" : std::to_string(fault.code)) + " " +
            kind + " bytes=" + std::to_string(fault.fault.dataBytes) +
            " times=" + std::to_string(fault.fault.times));
    }
    if (described.trace) {
        add("trace [" + *described.trace + "]");
    }
    if (described.notify) {
        add("notify");
    }
    return text;
}

std::string Errors(const sim::ParsedWorld& parsed) {
    std::string text;
    for (const sim::WorldFileError& error : parsed.errors) {
        text += sim::Describe(error) + "\n";
    }
    return text;
}

// The firmware pieces rendered as Summary does.
std::string Pieces(const char* a, const char* b, const char* c) {
    return "[" + Hex(sim::MakeFirmwarePiece(a)) + "][" + Hex(sim::MakeFirmwarePiece(b)) + "][" +
           Hex(sim::MakeFirmwarePiece(c)) + "]";
}

const std::string kDefaultFirmware = Pieces("V1.1", ".07", "20240101");

TEST(WorldFileParse, TakesEveryStatementAndItsDefaults) {
    struct Case {
        const char* text;
        std::string summary;
    };
    const Case cases[] = {
        {"", ""},
        {"# only a comment\n\n   \t\n", ""},
        {"drive C fixed", "drive C type=3 scsi=none inquiry=2 opens=yes vendor=none"},
        {"drive c: removable  # lower case and a colon",
         "drive C type=2 scsi=none inquiry=2 opens=yes vendor=none"},
        {"drive D cdrom inquiry=5", "drive D type=5 scsi=disk inquiry=5 opens=yes vendor=none"},
        {"drive D fixed scsi=disk", "drive D type=3 scsi=disk inquiry=2 opens=yes vendor=none"},
        {"drive F 7 scsi=refuses", "drive F type=7 scsi=refuses inquiry=2 opens=yes vendor=none"},
        {"drive G removable opens=no vendor=\"KMZ     \" query=fails",
         "drive G type=2 scsi=none inquiry=2 opens=no vendor=[KMZ     ] query=fails"},
        {"drive H removable vendor=\"\\tKMZ\\xA0\" # tab and no-break space",
         "drive H type=2 scsi=none inquiry=2 opens=yes vendor=[\tKMZ\xA0]"},
        {"drive H removable vendor=KMZ",
         "drive H type=2 scsi=none inquiry=2 opens=yes vendor=[KMZ]"},
        {"drive H removable vendor=\"say \\\"hi\\\" #1\"",
         "drive H type=2 scsi=none inquiry=2 opens=yes vendor=[say \"hi\" #1]"},
        {"drive R remote\r\ndrive S ramdisk\r\n",
         "drive R type=4 scsi=none inquiry=2 opens=yes vendor=none; "
         "drive S type=6 scsi=none inquiry=2 opens=yes vendor=none"},
        {"camera E",
         "camera E state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware},
        {"camera E state=3 overwrite=1 timestamp=0x01 resolution=7 firmware=V1.0,2024,B7",
         "camera E state=3 overwrite=1 timestamp=1 resolution=7 firmware=" +
             Pieces("V1.0", "2024", "B7")},
        {"camera F firmware=\"V 1,0\",,ABCDEFGH",
         "camera F state=2 overwrite=0 timestamp=0 resolution=0 firmware=" +
             Pieces("V 1,0", "", "ABCDEFGH")},
        {"camera F inquiry-vendor=\"ACME CO\"",
         "camera F state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             " inquiry-vendor=[ACME CO]"},
        {"camera G delay=0x10 state=3\ncamera H delay=2000",
         "camera G state=3 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             " delay=16; camera H state=2 overwrite=0 timestamp=0 resolution=0 firmware=" +
             kDefaultFirmware + " delay=2000"},
        {"camera F firmware=ONLY",
         "camera F state=2 overwrite=0 timestamp=0 resolution=0 "
         "firmware=" +
             Pieces("ONLY", "", "")},
        {"camera E\nstorage letter=F type=fixed vendor=none answers=plaindisk",
         "camera E state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             "; storage letter=F type=3 vendor=none answers=plaindisk"},
        {"camera E\nstorage vendor=\"kmz\"",
         "camera E state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             "; storage letter=- type=2 vendor=[kmz] answers=keep"},
        {"storage letter=F answers=plaindisk  # no camera now; for the one that comes",
         "storage letter=F type=2 vendor=[KMZ     ] answers=plaindisk"},
        {"camera E\ncamera g: state=3 overwrite=1",
         "camera E state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             "; camera G state=3 overwrite=1 timestamp=0 resolution=0 firmware=" +
             kDefaultFirmware},
        {"camera E\ncamera G\nstorage letter=F\nstorage camera=g: letter=H answers=plaindisk",
         "camera E state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             "; camera G state=2 overwrite=0 timestamp=0 resolution=0 firmware=" +
             kDefaultFirmware +
             "; storage letter=F type=2 vendor=[KMZ     ] answers=keep"
             "; storage camera=G letter=H type=2 vendor=[KMZ     ] answers=plaindisk"},
        {"camera E\ncamera G\nstorage camera=G letter=G\nstorage letter=E",
         "camera E state=2 overwrite=0 timestamp=0 resolution=0 firmware=" + kDefaultFirmware +
             "; camera G state=2 overwrite=0 timestamp=0 resolution=0 firmware=" +
             kDefaultFirmware +
             "; storage camera=G letter=G type=2 vendor=[KMZ     ] answers=keep"
             "; storage letter=E type=2 vendor=[KMZ     ] answers=keep"},
        {"storage camera=G letter=H  # for a camera to come on G",
         "storage camera=G letter=H type=2 vendor=[KMZ     ] answers=keep"},
        {"fault 26 fails", "fault 26 fails bytes=0 times=1"},
        {"fault 0x1B short=3 times=2\nfault inquiry check=0 times=always",
         "fault 27 short bytes=3 times=2; fault inquiry check bytes=0 times=-1"},
        {"fault 2 ignored times=always", "fault 2 ignored bytes=8 times=-1"},
        {"trace out.txt", "trace [out.txt]"},
        {"notify  # tell the windows", "notify"},
        {"trace \"C:\\\\My traces\\\\t.txt\"", "trace [C:\\My traces\\t.txt]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const sim::ParsedWorld parsed = sim::ParseWorldFile(c.text);
        EXPECT_EQ(Errors(parsed), "");
        EXPECT_EQ(Summary(parsed.world), c.summary);
    }
}

TEST(WorldFileParse, ReportsEachBadLineWithItsNumber) {
    struct Case {
        const char* text;
        const char* errors;  // Describe() of each error, one a line
    };
    const Case cases[] = {
        {"drive",
         "line 1: too short; the form is: drive LETTER TYPE [scsi=none|disk|refuses] "
         "[inquiry=N] [opens=yes|no] [vendor=TEXT|none] [query=works|fails]\n"},
        {"\n\ndrive 5 fixed", "line 3: a drive letter A to Z is needed, not \"5\"\n"},
        {"drive EF fixed", "line 1: a drive letter A to Z is needed, not \"EF\"\n"},
        {"drive E floppy",
         "line 1: unknown drive type \"floppy\" (removable, fixed, cdrom, remote, ramdisk, "
         "unknown, noroot or a number)\n"},
        {"drive E fixed colour=red", "line 1: unknown key \"colour\" in a drive line\n"},
        {"drive E fixed opens", "line 1: expected key=value in a drive line, not \"opens\"\n"},
        {"drive E fixed opens=maybe", "line 1: opens must be yes or no, not \"maybe\"\n"},
        {"drive E fixed inquiry=256",
         "line 1: inquiry must be a number from 0 to 255, not "
         "\"256\"\n"},
        {"drive E fixed inquiry=1 inquiry=2", "line 1: inquiry given twice\n"},
        {"drive E fixed scsi=none inquiry=1", "line 1: inquiry is only answered by scsi=disk\n"},
        {"drive E fixed vendor=\"KMZ", "line 1: a quoted text is not closed\n"},
        {"drive E fixed vendor=\"KMZ\"x",
         "line 1: text after the closing quote in the value of vendor\n"},
        {"drive E fixed vendor=\"\\q\"",
         "line 1: unknown escape in the value of vendor (use \\\\, \\\", \\t or \\xHH)\n"},
        {"drive E fixed vendor=\"a\\x00\"", "line 1: the vendor text cannot hold a zero byte\n"},
        {"drive E fixed\ndrive e: removable", "line 2: drive E is described twice\n"},
        {"camera",
         "line 1: too short; the form is: camera LETTER [state=N] [overwrite=N] "
         "[timestamp=N] [resolution=N] [firmware=A,B,C] [inquiry-vendor=TEXT] [delay=MS]\n"},
        {"camera E delay=2001", "line 1: delay must be a number from 0 to 2000, not \"2001\"\n"},
        {"camera E state=-1", "line 1: state must be a number from 0 to 255, not \"-1\"\n"},
        {"camera E overwrite=0x",
         "line 1: overwrite must be a number from 0 to 255, not "
         "\"0x\"\n"},
        {"camera E firmware=A,B,C,D", "line 1: firmware has three pieces at most, not 4\n"},
        {"camera E inquiry-vendor=NINECHARS",
         "line 1: inquiry-vendor has 8 characters at most: \"NINECHARS\"\n"},
        {"camera E firmware=ABCDEFGHI",
         "line 1: a firmware piece has 8 characters at most: "
         "\"ABCDEFGHI\"\n"},
        {"camera E firmware=\"A\"B", "line 1: firmware pieces are separated by commas\n"},
        {"camera E\ncamera G\ncamera e:", "line 3: a second camera on E (line 1)\n"},
        {"camera E\ncamera G\ndrive G fixed", "line 3: drive G is the camera's letter (line 2)\n"},
        {"camera E\nstorage camera=E letter=F\nstorage letter=H",
         "line 3: a second storage line for the camera on E: the storage line without a camera "
         "is the first camera's (line 2)\n"},
        {"camera G\ncamera E\nstorage letter=H\nstorage camera=G letter=F",
         "line 4: a second storage line for the camera on G: the storage line without a camera "
         "is the first camera's (line 3)\n"},
        {"storage camera=G letter=F\nstorage camera=g:",
         "line 2: a second storage line for the camera on G\n"},
        {"storage camera=GH", "line 1: a drive letter A to Z is needed, not \"GH\"\n"},
        {"camera E\ncamera G\nstorage letter=G",
         "line 3: the storage volume would appear on G, the letter of another camera (line 2)\n"},
        {"camera E\ncamera G\nstorage camera=G letter=E",
         "line 3: the storage volume would appear on E, the letter of another camera (line 1)\n"},
        {"camera E\ncamera G\nstorage letter=F\nstorage camera=G letter=F",
         "line 4: the storage volume would appear on F, as another camera's does (line 3)\n"},
        {"camera E\ndrive E fixed", "line 2: drive E is the camera's letter (line 1)\n"},
        {"drive F fixed\nstorage letter=F",
         "line 1: drive F is where the camera's storage volume appears (line 2)\n"},
        {"camera E\nstorage letter=F\nstorage letter=G", "line 3: a second storage line\n"},
        {"drive F fixed\ncamera E\nstorage letter=F",
         "line 1: drive F is where the camera's storage volume appears (line 3)\n"},
        {"camera E\nstorage answers=maybe",
         "line 2: answers must be keep or plaindisk, not \"maybe\"\n"},
        {"fault 26",
         "line 1: too short; the form is: fault CODE|inquiry fails|short=N|check=N|ignored "
         "[times=N|always]\n"},
        {"fault 26 breaks",
         "line 1: a fault fails, is ignored, or is short=N or check=N, not \"breaks\"\n"},
        {"fault 300 fails",
         "line 1: a fault's command code must be a number from 0 to 255, not "
         "\"300\"\n"},
        {"fault 2 short=37", "line 1: short must be a number from 0 to 36, not \"37\"\n"},
        {"fault 2 fails times=0", "line 1: times must be at least 1\n"},
        {"trace", "line 1: the form is: trace PATH (quote a path with blanks)\n"},
        {"trace a\ntrace b", "line 2: a second trace line\n"},
        {"notify yes", "line 1: notify stands alone on its line\n"},
        {"Camera E",
         "line 1: unknown statement \"Camera\" (drive, camera, storage, fault, "
         "trace, notify, hostile)\n"},
        {"drive C fixed\nplug E\ncamera E state=x\n# fine\ndrive D fixed",
         "line 2: unknown statement \"plug\" (drive, camera, storage, fault, trace, notify, "
         "hostile)\n"
         "line 3: state must be a number from 0 to 255, not \"x\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const sim::ParsedWorld parsed = sim::ParseWorldFile(c.text);
        EXPECT_FALSE(parsed.ok());
        EXPECT_EQ(Errors(parsed), c.errors);
    }
}

TEST(WorldFileParse, KeepsTheGoodLinesAroundBadOnes) {
    const sim::ParsedWorld parsed =
        sim::ParseWorldFile("drive C fixed\nplug E\ncamera E state=x\ndrive D fixed\n");
    EXPECT_EQ(parsed.errors.size(), 2u);
    EXPECT_EQ(Summary(parsed.world),
              "drive C type=3 scsi=none inquiry=2 opens=yes vendor=none; "
              "drive D type=3 scsi=none inquiry=2 opens=yes vendor=none");
}

TEST(WorldFileParse, EachCameraHasTheVolumeOfItsStorageLine) {
    struct Case {
        const char* text;
        char camera;
        char volume;  // 0: the camera's own letter
        sim::StorageAnswers answers;
    };
    using enum sim::StorageAnswers;
    const Case cases[] = {
        {"camera E\nstorage letter=F answers=plaindisk", 'E', 'F', kPlainDisk},
        {"camera E\ncamera G\nstorage letter=F answers=plaindisk", 'E', 'F', kPlainDisk},
        {"camera E\ncamera G\nstorage letter=F answers=plaindisk", 'G', 0, kKeepsAnswering},
        {"camera E\ncamera G\nstorage camera=G letter=H", 'E', 0, kKeepsAnswering},
        {"camera E\ncamera G\nstorage camera=G letter=H", 'G', 'H', kKeepsAnswering},
        {"camera E\nstorage camera=E letter=H", 'E', 'H', kKeepsAnswering},
        // The first camera line, not the first letter.
        {"camera G\ncamera E\nstorage letter=F", 'G', 'F', kKeepsAnswering},
        {"camera G\ncamera E\nstorage letter=F", 'E', 0, kKeepsAnswering},
        {"camera G\ncamera E\nstorage letter=F\nstorage camera=E letter=H", 'E', 'H',
         kKeepsAnswering},
        {"camera E", 'E', 0, kKeepsAnswering},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / camera " + c.camera);
        const sim::ParsedWorld parsed = sim::ParseWorldFile(c.text);
        ASSERT_EQ(Errors(parsed), "");
        const sim::StorageDescription storage = parsed.world.StorageOf(c.camera);
        EXPECT_EQ(storage.letter, c.volume);
        EXPECT_EQ(storage.answers, c.answers);
    }
}

TEST(WorldFileParse, TheExampleWorldOfTheDocumentationIsValid) {
    std::ifstream file(ZQ_EXAMPLE_WORLD, std::ios::binary);
    ASSERT_TRUE(file) << ZQ_EXAMPLE_WORLD;
    std::stringstream text;
    text << file.rdbuf();
    const sim::ParsedWorld parsed = sim::ParseWorldFile(text.str());
    EXPECT_EQ(Errors(parsed), "");
    ASSERT_EQ(parsed.world.cameras.size(), 1u);
    EXPECT_EQ(parsed.world.cameras[0].state, 2);
}

}  // namespace
