// The world file of the simulated program: which lines it takes and what they lay out, the
// errors it reports with their line numbers, how a changed file is applied to a running world,
// the before-call hook that lets the program re-read it, and the lines of the trace file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "os/os.h"
#include "sim/world_file.h"
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
    if (described.camera) {
        const sim::CameraDescription& camera = *described.camera;
        std::string firmware;
        for (const sim::FirmwarePiece& piece : camera.firmware) {
            firmware += "[" + Hex(piece) + "]";
        }
        add(std::string("camera ") + camera.letter + " state=" + std::to_string(camera.state) +
            " overwrite=" + std::to_string(camera.loopRecording) +
            " timestamp=" + std::to_string(camera.timestampDisplay) +
            " resolution=" + std::to_string(camera.resolution) + " firmware=" + firmware);
    }
    if (!(described.storage == sim::StorageDescription{})) {
        const sim::StorageDescription& storage = described.storage;
        add(std::string("storage letter=") + (storage.letter == 0 ? '-' : storage.letter) +
            " type=" + std::to_string(storage.type) +
            " vendor=" + (storage.vendor ? "[" + *storage.vendor + "]" : "none") + " answers=" +
            (storage.answers == sim::StorageAnswers::kKeepsAnswering ? "keep" : "plaindisk"));
    }
    for (const sim::FaultDescription& fault : described.faults) {
        const char* kind = fault.fault.kind == sim::FaultKind::kCallFails     ? "fails"
                           : fault.fault.kind == sim::FaultKind::kShortAnswer ? "short"
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
        {"fault 26 fails", "fault 26 fails bytes=0 times=1"},
        {"fault 0x1B short=3 times=2\nfault inquiry check=0 times=always",
         "fault 27 short bytes=3 times=2; fault inquiry check bytes=0 times=-1"},
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
         "[timestamp=N] [resolution=N] [firmware=A,B,C]\n"},
        {"camera E state=-1", "line 1: state must be a number from 0 to 255, not \"-1\"\n"},
        {"camera E overwrite=0x",
         "line 1: overwrite must be a number from 0 to 255, not "
         "\"0x\"\n"},
        {"camera E firmware=A,B,C,D", "line 1: firmware has three pieces at most, not 4\n"},
        {"camera E firmware=ABCDEFGHI",
         "line 1: a firmware piece has 8 characters at most: "
         "\"ABCDEFGHI\"\n"},
        {"camera E firmware=\"A\"B", "line 1: firmware pieces are separated by commas\n"},
        {"camera E\ncamera F", "line 2: a second camera (there is one camera)\n"},
        {"camera E\ndrive E fixed", "line 2: drive E is the camera's letter (line 1)\n"},
        {"storage letter=F", "line 1: a storage line without a camera line\n"},
        {"camera E\nstorage letter=F\nstorage letter=G", "line 3: a second storage line\n"},
        {"drive F fixed\ncamera E\nstorage letter=F",
         "line 1: drive F is where the camera's storage volume appears (line 3)\n"},
        {"camera E\nstorage answers=maybe",
         "line 2: answers must be keep or plaindisk, not \"maybe\"\n"},
        {"fault 26",
         "line 1: too short; the form is: fault CODE|inquiry fails|short=N|check=N "
         "[times=N|always]\n"},
        {"fault 26 breaks", "line 1: a fault fails, or is short=N or check=N, not \"breaks\"\n"},
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
         "trace, notify)\n"},
        {"drive C fixed\nplug E\ncamera E state=x\n# fine\ndrive D fixed",
         "line 2: unknown statement \"plug\" (drive, camera, storage, fault, trace, notify)\n"
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

TEST(WorldFileParse, TheExampleWorldOfTheDocumentationIsValid) {
    std::ifstream file(ZQ_EXAMPLE_WORLD, std::ios::binary);
    ASSERT_TRUE(file) << ZQ_EXAMPLE_WORLD;
    std::stringstream text;
    text << file.rdbuf();
    const sim::ParsedWorld parsed = sim::ParseWorldFile(text.str());
    EXPECT_EQ(Errors(parsed), "");
    ASSERT_TRUE(parsed.world.camera);
    EXPECT_EQ(parsed.world.camera->state, 2);
}

// ---- laying out ----

class WorldFileApply : public zqtest::SimTest {
  protected:
    // Parses `text` (which must be valid) and applies it as the change from the last one.
    void Load(const std::string& text) {
        sim::ParsedWorld parsed = sim::ParseWorldFile(text);
        ASSERT_EQ(Errors(parsed), "") << text;
        sim::ApplyWorldFile(world, parsed.world, loaded_ ? &*loaded_ : nullptr);
        loaded_ = std::move(parsed.world);
    }

    // The camera's firmware line as the link reads it.
    std::string Firmware() {
        char text[kFirmwareTextSize] = {};
        std::int32_t err = 0;
        return GetFirmwareVersion(text, err) ? std::string(text) : "(failed)";
    }

    static std::int32_t Read(bool (*read)(std::int32_t&, std::int32_t&)) {
        std::int32_t value = -1;
        std::int32_t err = 0;
        return read(value, err) ? value : -1;
    }

    std::optional<sim::WorldDescription> loaded_;
    std::int32_t err_ = 0;
};

TEST_F(WorldFileApply, LaysOutDrivesCameraAndFaults) {
    Load(
        "drive C fixed\n"
        "drive D cdrom inquiry=5\n"
        "drive G removable vendor=\"KMZ     \"\n"
        "camera E state=3 overwrite=1 timestamp=1 resolution=1 firmware=V1.0,2024,B7\n"
        "fault 2 fails\n");
    EXPECT_TRUE(world.drive('C').present);
    EXPECT_EQ(world.drive('C').type, os::kDriveFixed);
    EXPECT_EQ(world.drive('D').scsi, sim::ScsiDevice::kDisk);
    EXPECT_EQ(world.drive('D').inquiryByte3, 5);
    EXPECT_EQ(world.drive('G').type, os::kDriveRemovable);
    EXPECT_FALSE(world.drive('F').present);

    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\E:");
    EXPECT_EQ(Read(GetCameraState), 3);
    EXPECT_EQ(Firmware(), "Firmware Version:   V1.02024B7");
    EXPECT_EQ(Read(GetLoopRecording), -1) << "the fault hits the first command 2";
    EXPECT_EQ(Read(GetLoopRecording), 1);
    EXPECT_EQ(Read(GetTimestampDisplay), 1);
    EXPECT_EQ(Read(GetResolution), 1);
}

TEST_F(WorldFileApply, SettingsTheProgramChangedSurviveAReloadUnlessTheFileChangesThem) {
    Load("camera E overwrite=0 timestamp=0 resolution=0");
    ASSERT_TRUE(FindCamera(err_));
    ASSERT_TRUE(SetLoopRecording(1, err_));
    ASSERT_TRUE(SetResolution(1, err_));

    Load("camera E overwrite=0 timestamp=1 resolution=0\ndrive C fixed");
    EXPECT_EQ(Read(GetLoopRecording), 1);
    EXPECT_EQ(Read(GetResolution), 1);
    EXPECT_EQ(Read(GetTimestampDisplay), 1) << "the file changed this one";
    EXPECT_TRUE(world.IsOpenHandle(g_hCamera));

    Load("camera E overwrite=0 timestamp=1 resolution=0 state=7 firmware=X,Y,Z\ndrive C fixed");
    EXPECT_EQ(Read(GetLoopRecording), 1);
    EXPECT_EQ(Read(GetCameraState), 7);
    EXPECT_EQ(Firmware(), "Firmware Version:   XYZ");

    Load("camera E overwrite=1 timestamp=1 resolution=0 state=7 firmware=X,Y,Z\ndrive C fixed");
    EXPECT_EQ(Read(GetLoopRecording), 1) << "changed in the file to the value it had";
}

TEST_F(WorldFileApply, RemovingAndAddingTheCameraLineUnplugsAndPlugsAFreshCamera) {
    Load("drive C fixed\ncamera E overwrite=1");
    ASSERT_TRUE(FindCamera(err_));
    const os::Handle before = g_hCamera;
    ASSERT_TRUE(SetResolution(1, err_));

    Load("drive C fixed");
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_EQ(Read(GetResolution), -1) << "a call on the handle of an unplugged camera fails";
    EXPECT_TRUE(world.drive('C').present);
    EXPECT_FALSE(FindCamera(err_));

    Load("drive C fixed\ncamera E overwrite=1");
    g_hCamera = before;
    EXPECT_EQ(Read(GetResolution), -1) << "the handle from before the unplug stays dead";
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(Read(GetResolution), 0) << "a fresh camera has the file's settings";
    EXPECT_EQ(Read(GetLoopRecording), 1);

    Load("drive C fixed\ncamera G overwrite=1");
    EXPECT_FALSE(world.drive('E').present) << "moved to another letter";
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\G:");
}

TEST_F(WorldFileApply, AChangedDriveLineReplugsThatDriveOnly) {
    Load("drive D removable\ndrive F removable\ncamera E");
    const os::Handle d = os::CreateFileW(L"\\\\.\\D:", 0, 3, os::kOpenExisting, 0);
    const os::Handle f = os::CreateFileW(L"\\\\.\\F:", 0, 3, os::kOpenExisting, 0);
    ASSERT_TRUE(FindCamera(err_));
    std::uint8_t query[12] = {};
    std::uint8_t descriptor[64] = {};
    std::uint32_t returned = 0;
    ASSERT_TRUE(os::DeviceIoControl(f, os::kIoctlStorageQueryProperty, query, 12, descriptor, 64,
                                    &returned));

    Load("drive D removable\ndrive F removable vendor=KMZ\ncamera E");
    EXPECT_FALSE(os::DeviceIoControl(f, os::kIoctlStorageQueryProperty, query, 12, descriptor, 64,
                                     &returned));
    EXPECT_TRUE(os::DeviceIoControl(d, os::kIoctlStorageQueryProperty, query, 12, descriptor, 64,
                                    &returned));
    EXPECT_EQ(Read(GetCameraState), 2) << "the camera was not touched";

    Load("drive F removable vendor=KMZ\ncamera E");
    EXPECT_FALSE(world.drive('D').present);
    EXPECT_TRUE(world.drive('F').present);
}

TEST_F(WorldFileApply, AChangedFaultListReplacesTheFaultsLeft) {
    Load("camera E\nfault 14 fails times=1");
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(Read(GetCameraState), -1);
    EXPECT_EQ(Read(GetCameraState), 2);

    Load("camera E\nfault 14 fails times=1\ndrive C fixed");
    EXPECT_EQ(Read(GetCameraState), 2) << "an unchanged fault list does not arm its faults again";

    Load("camera E\nfault 14 fails times=2\ndrive C fixed");
    EXPECT_EQ(Read(GetCameraState), -1);
    EXPECT_EQ(Read(GetCameraState), -1);
    EXPECT_EQ(Read(GetCameraState), 2);

    Load("camera E\nfault 2 fails times=always\nfault 14 fails times=always\ndrive C fixed");
    Load("camera E\nfault 2 fails times=always\ndrive C fixed");
    EXPECT_EQ(Read(GetCameraState), 2) << "a fault line that went takes its fault along";
    EXPECT_EQ(Read(GetLoopRecording), -1);
}

TEST_F(WorldFileApply, TheCameraStaysOnItsStorageVolumeAcrossAnUnchangedReload) {
    Load("camera E\nstorage letter=F answers=plaindisk");
    ASSERT_TRUE(FindCamera(err_));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_TRUE(world.drive('F').present);
    EXPECT_EQ(world.drive('F').type, os::kDriveRemovable);

    Load("camera E\nstorage letter=F answers=plaindisk\ndrive C fixed");
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_EQ(world.camera().mode, sim::CameraMode::kStorage);
    EXPECT_FALSE(FindCamera(err_)) << "a plain disk does not carry the camera's mark";

    Load("drive C fixed");
    EXPECT_FALSE(world.drive('F').present) << "unplugging takes the storage volume along";
    Load("drive C fixed\ncamera E\nstorage letter=F answers=plaindisk");
    EXPECT_TRUE(FindCamera(err_)) << "plugged in again, in command mode";
}

TEST_F(WorldFileApply, TheStorageLineShapesTheVolumeAfterTheRelease) {
    Load("camera E\nstorage letter=F vendor=none type=fixed");
    ASSERT_TRUE(FindCamera(err_));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_EQ(world.drive('F').type, os::kDriveFixed);
    EXPECT_EQ(world.drive('F').descriptor.bytes, sim::DescriptorWithoutVendor().bytes);
}

// ---- the before-call hook ----

TEST_F(WorldFileApply, TheHookRunsBeforeEveryDeviceCallAndCanChangeWhatItFinds) {
    Load("drive C fixed\ncamera E");
    std::vector<std::size_t> eventsSeen;
    world.SetBeforeCall([&] { eventsSeen.push_back(world.events().size()); });
    wchar_t list[64];
    os::GetLogicalDriveStringsW(64, list);
    os::GetDriveTypeW(L"C:\\");
    const os::Handle handle = os::CreateFileW(L"\\\\.\\E:", 0, 3, os::kOpenExisting, 0);
    std::uint32_t returned = 0;
    os::DeviceIoControl(handle, os::kIoctlStorageQueryProperty, nullptr, 0, nullptr, 0, &returned);
    os::CloseHandle(handle);
    os::ShellExecuteW(nullptr, L"explorer", L"E:\\", nullptr, 5);
    EXPECT_EQ(eventsSeen, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));

    // A hook that unplugs the camera: the very call that triggered it no longer finds it.
    world.SetBeforeCall([&] { Load("drive C fixed"); });
    EXPECT_FALSE(FindCamera(err_));
    world.SetBeforeCall(nullptr);
}

TEST_F(WorldFileApply, ResetRemovesTheHook) {
    int calls = 0;
    world.SetBeforeCall([&] { ++calls; });
    world.Reset();
    os::GetDriveTypeW(L"C:\\");
    EXPECT_EQ(calls, 0);
}

// ---- the trace ----

TEST(TraceLine, RendersEachCall) {
    sim::Event open;
    open.call = sim::Call::kCreateFile;
    open.path = L"\\\\.\\E:";
    open.access = 0xC0000000u;
    open.share = 3;
    open.disposition = 3;
    open.result = true;
    open.letter = 'E';
    open.handle = reinterpret_cast<os::Handle>(std::uintptr_t{0x1000});

    sim::Event failedOpen = open;
    failedOpen.path = L"\\\\.\\D:";
    failedOpen.result = false;
    failedOpen.handle = os::InvalidHandle();

    sim::Event command;
    command.call = sim::Call::kDeviceIoControl;
    command.letter = 'E';
    command.handle = open.handle;
    command.ioctl = os::kIoctlScsiPassThrough;
    command.inSize = 44;
    command.outSize = 88;
    command.head = {44, 0,  0, 0, 1, 0,  16, 24, 1, 0,    0,    0,    8,    0,    0, 0, 2, 0, 0,
                    0,  80, 0, 0, 0, 48, 0,  0,  0, 0xFA, 0x55, 0x66, 0xFE, 0x06, 0, 0, 1, 1};
    std::copy_n(command.head.begin() + 28, 16, command.cdb.begin());
    command.result = true;
    command.scsiStatus = 0;
    command.dataBytes = 8;
    command.bytesReturned = 88;

    sim::Event refused = command;
    refused.letter = 0;
    refused.result = false;

    sim::Event query;
    query.call = sim::Call::kDeviceIoControl;
    query.letter = 'F';
    query.handle = reinterpret_cast<os::Handle>(std::uintptr_t{0x1004});
    query.ioctl = os::kIoctlStorageQueryProperty;
    query.inSize = 12;
    query.outSize = 551;
    query.result = true;
    query.bytesReturned = 67;

    sim::Event other = query;
    other.ioctl = 0x12345;
    other.result = false;

    sim::Event close;
    close.call = sim::Call::kCloseHandle;
    close.letter = 'E';
    close.handle = open.handle;
    close.result = true;

    sim::Event list;
    list.call = sim::Call::kGetLogicalDriveStrings;
    list.inSize = 0;
    list.value = 13;

    sim::Event type;
    type.call = sim::Call::kGetDriveType;
    type.path = L"F:\\";
    type.value = 2;

    sim::Event shell;
    shell.call = sim::Call::kShellExecute;
    shell.file = L"explorer";
    shell.parameters = L"F:\\";
    shell.showCommand = 5;

    struct Case {
        const sim::Event& event;
        const char* line;
    };
    const Case cases[] = {
        {open,
         "CreateFileW \"\\\\.\\E:\" access=C0000000 share=00000003 disposition=3 flags=00000000 "
         "-> handle 00001000"},
        {failedOpen,
         "CreateFileW \"\\\\.\\D:\" access=C0000000 share=00000003 disposition=3 flags=00000000 "
         "-> INVALID_HANDLE_VALUE"},
        {command,
         "DeviceIoControl E: handle 00001000 IOCTL_SCSI_PASS_THROUGH in=44 out=88 "
         "head=2C 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 50 00 00 00 30 00 00 "
         "00 cdb=FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00 -> ok status=00 data=8 "
         "returned=88"},
        {refused,
         "DeviceIoControl ?: handle 00001000 IOCTL_SCSI_PASS_THROUGH in=44 out=88 "
         "head=2C 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 50 00 00 00 30 00 00 "
         "00 cdb=FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00 -> failed"},
        {query,
         "DeviceIoControl F: handle 00001004 IOCTL_STORAGE_QUERY_PROPERTY in=12 out=551 "
         "query=00 00 00 00 00 00 00 00 00 00 00 00 -> ok returned=67"},
        {other, "DeviceIoControl F: handle 00001004 ioctl=00012345 in=12 out=551 -> failed"},
        {close, "CloseHandle E: handle 00001000 -> ok"},
        {list, "GetLogicalDriveStringsW length=0 -> 13"},
        {type, "GetDriveTypeW \"F:\\\" -> 2 (removable)"},
        {shell,
         "ShellExecuteW operation=null file=\"explorer\" parameters=\"F:\\\" directory=null "
         "show=5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim::TraceLine(c.event), c.line);
    }
}

TEST(TraceLine, TextsAreUtf8BothWays) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const Case cases[] = {
        {L"E:\\", "E:\\"},
        {L"caf\u00E9", "caf\xC3\xA9"},
        {L"\u20AC", "\xE2\x82\xAC"},
        {L"\U0001F4F7", "\xF0\x9F\x93\xB7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim::ToUtf8(c.wide), c.utf8);
        EXPECT_EQ(sim::FromUtf8(c.utf8), c.wide);
    }
    EXPECT_EQ(sim::FromUtf8("a\xFF"
                            "b\xC3"),
              L"a\uFFFDb\uFFFD");
    EXPECT_EQ(sim::FromUtf8("\xC0\x80"), L"\uFFFD\uFFFD") << "an overlong zero";
}

}  // namespace
