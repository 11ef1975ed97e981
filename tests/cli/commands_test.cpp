// Each command's output and exit code against a table of simulated computers, and what the camera
// received.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/pacing.h"
#include "os/os.h"
#include "tests/cli/cli_fixture.h"

namespace {

using zqtest::CliTest;
using zqtest::ToolRun;

// The vendor command blocks sent, in order.
std::vector<std::array<std::uint8_t, 16>> VendorCdbs(const sim::World& world) {
    std::vector<std::array<std::uint8_t, 16>> cdbs;
    for (const auto& cdb : world.Cdbs()) {
        if (cdb[0] == 0xFA) {
            cdbs.push_back(cdb);
        }
    }
    return cdbs;
}

// ---- the worlds ----

void DiskOnD(sim::World& world) {
    world.AddDisk('C');
    world.AddDisk('D');
}

// The camera on E: (overwrite on) and another on G: (720p, firmware "V2"), a disk on D:.
void TwoCameras(sim::World& world) {
    DiskOnD(world);
    world.PlugCamera('E').loopRecording = 1;
    sim::Camera& second = world.PlugCamera('G');
    second.resolution = 1;
    second.firmware = {sim::MakeFirmwarePiece("V2"), sim::MakeFirmwarePiece(""),
                       sim::MakeFirmwarePiece("")};
}

void CameraOnE(sim::World& world) {
    DiskOnD(world);
    world.PlugCamera('E');
}

void NotReadyOnE(sim::World& world) {
    CameraOnE(world);
    world.camera().state = 5;
}

void AccessDeniedOnF(sim::World& world) {
    DiskOnD(world);
    world.AddDrive('F', os::kDriveRemovable).opens = false;
}

std::function<void(sim::World&)> WithFault(std::uint8_t code, sim::Fault fault) {
    return [code, fault](sim::World& world) {
        CameraOnE(world);
        world.InjectVendorFault(code, fault);
    };
}

void VolumeNeverAppears(sim::World& world) {
    CameraOnE(world);
    world.camera().storageDescriptor = sim::DescriptorWithoutVendor();
}

struct Row {
    const char* name;
    std::function<void(sim::World&)> world;
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> out;  // fragments standard output holds
    std::vector<std::string> err;  // fragments standard error holds
};

constexpr char kGenFailure[] =
    "A device attached to the system is not functioning. (system error 31)";

// clang-format off
const std::vector<Row> kRows = {
    {"list: no camera", DiskOnD, {"list"}, 3,
     {}, {"zelquin-cli: no camera found on D: to Z:\n"}},
    {"list: two cameras", TwoCameras, {"list"}, 0,
     {"E:     2      yes    V1.1.0720240101  on", "G:     2      yes    V2               off"}, {}},
    {"list: a camera that is not ready is listed", NotReadyOnE, {"list"}, 0,
     {"E:     5      no     -         -          -          -"}, {}},
    {"list: a drive that cannot be opened is told, not taken for absent", AccessDeniedOnF,
     {"list"}, 3, {},
     {"F: could not be opened: Access is denied. (system error 5)",
      "no camera found on D: to Z:; one drive could not be opened and may hold one"}},
    {"list: a failed call", WithFault(kCmdFirmware1, sim::Fault::CallFails()), {"list"}, 5,
     {}, {std::string("E: get firmware version, first piece (command 26) failed: ") + kGenFailure}},

    {"status: not ready", NotReadyOnE, {"status"}, 4,
     {"  State:      5 (not ready)\n"},
     {"zelquin-cli: E: the camera is not ready: its state is 5 (ready is 2 or 3)\n"}},
    {"status: a drive that is no camera", CameraOnE, {"status", "--drive", "d:"}, 3,
     {}, {"D: not a camera: its INQUIRY byte 3 is 2, a camera answers 1"}},
    {"status: a drive that is not there", CameraOnE, {"status", "--drive", "H"}, 3,
     {}, {"H: there is no such drive"}},
    {"status: a drive that cannot be opened", AccessDeniedOnF, {"status", "-d", "F:"}, 5,
     {}, {"F: could not be opened: Access is denied. (system error 5)"}},
    {"status: a drive whose INQUIRY fails", [](sim::World& w) {
         w.AddDrive('F', os::kDriveRemovable); }, {"status", "-d", "F:"}, 5,
     {}, {std::string("F: the INQUIRY failed: ") + kGenFailure}},
    {"status: a refused read", WithFault(kCmdCameraState, sim::Fault::CheckCondition(0)),
     {"status"}, 6, {},
     {"E: the camera refused get camera state (command 14): SCSI status 0x02 (CHECK CONDITION), "
      "sense key 0xB (ABORTED COMMAND), additional sense 0x00/0x00 (no additional sense "
      "information), sense data 70 00 0B 00 00 00 00 0A 00 00 00 00 00 00 00 00 00 00"}},
    {"status: a read that sends no byte", WithFault(kCmdLoopRecording, sim::Fault::ShortAnswer(0)),
     {"status"}, 6, {},
     {"E: the camera answered get loop recording (command 2) with 0 of the 8 bytes it must send"}},
    // A transfer cut short confirms nothing, even where the bytes the tool reads did arrive.
    {"status: a read one byte short", WithFault(kCmdCameraState, sim::Fault::ShortAnswer(7)),
     {"status"}, 6, {},
     {"E: the camera answered get camera state (command 14) with 7 of the 8 bytes it must send"}},
    {"status: a firmware piece cut short", WithFault(kCmdFirmware2, sim::Fault::ShortAnswer(3)),
     {"status"}, 6, {},
     {"E: the camera answered get firmware version, second piece (command 27) with 3 of the 8 "
      "bytes it must send"}},
    {"set: a set answered without its data", WithFault(kCmdTimestampDisplay,
                                                          sim::Fault::ShortAnswer(0)),
     {"set", "timestamp=on"}, 6, {"E: timestamp=on FAILED\n"},
     {"E: the camera answered set time-stamp display (command 11) with 0 of the 8 bytes it must "
      "send"}},
    {"sync-time: a time command answered without its data", WithFault(kCmdSetTime,
                                                                         sim::Fault::ShortAnswer(0)),
     {"sync-time"}, 6, {},
     {"E: the camera answered set time (command 3) with 0 of the 8 bytes it must send"}},

    {"set: taken", CameraOnE, {"set", "overwrite=on", "Resolution=720P"}, 0,
     {"E: overwrite=on confirmed\nE: resolution=720p confirmed\n"}, {}},
    {"set: a setting that does not stick", WithFault(kCmdResolution, sim::Fault::Ignored()),
     {"set", "resolution=720p", "timestamp=on"}, 7,
     {"E: resolution=720p NOT TAKEN, reads back 1080p\nE: timestamp=on confirmed\n"},
     {"zelquin-cli: E: resolution was set to 720p but reads back 1080p\n"}},
    {"set: refused", WithFault(kCmdLoopRecording, sim::Fault::CheckCondition(0)),
     {"set", "overwrite=on"}, 6, {"E: overwrite=on FAILED\n"},
     {"E: the camera refused set loop recording (command 2): SCSI status 0x02 (CHECK CONDITION)"}},
    {"set: a failed call", WithFault(kCmdTimestampDisplay, sim::Fault::CallFails()),
     {"set", "timestamp=on"}, 5, {"E: timestamp=on FAILED\n"},
     {std::string("E: set time-stamp display (command 11) failed: ") + kGenFailure}},
    {"set: not ready", NotReadyOnE, {"set", "overwrite=on"}, 4, {},
     {"E: the camera is not ready: its state is 5"}},
    {"set: no camera", DiskOnD, {"set", "overwrite=on"}, 3, {}, {"no camera found"}},

    {"sync-time", CameraOnE, {"sync-time"}, 0, {"E: " + zqtest::ClockReport(zqtest::kClock) + "\n"},
     {}},
    {"sync-time: date refused", WithFault(kCmdSetDate, sim::Fault::CheckCondition(0)),
     {"sync-time"}, 6, {}, {"E: the camera refused set date (command 4)"}},
    {"sync-time: time call fails", WithFault(kCmdSetTime, sim::Fault::CallFails()),
     {"sync-time"}, 5, {}, {"E: set time (command 3) failed"}},

    {"release", CameraOnE, {"release"}, 0, {"E:\\\n"}, {}},
    {"release: the volume on another letter", [](sim::World& w) {
         CameraOnE(w); w.camera().storageLetter = 'H'; }, {"release"}, 0, {"H:\\\n"}, {}},
    {"release: the volume never appears", VolumeNeverAppears, {"release"}, 8, {},
     {"zelquin-cli: E: the camera's storage volume did not appear within 10 s of the release "
      "command\n"}},
    {"release: refused", WithFault(kCmdRelease, sim::Fault::CheckCondition(0)), {"release"}, 6,
     {}, {"E: the camera refused release (command 15)"}},
    {"release: unconfirmed, but the volume appears", [](sim::World& w) {
         // The camera switches over, but its answer is lost on the way.
         CameraOnE(w);
         w.InjectVendorFault(kCmdRelease, sim::Fault::CallFails());
         w.SetObserver([&w](const sim::Event& event) {
             if (event.VendorCode() == kCmdRelease) {
                 w.drive('E').descriptor = sim::DescriptorWithVendor(sim::kCameraVendorId);
                 w.camera().mode = sim::CameraMode::kStorage;
             }
         }); },
     {"release"}, 0, {"E:\\\n"},
     {"zelquin-cli: E: the release command was not confirmed (release (command 15) failed: "
      "A device attached to the system is not functioning. (system error 31)), but the "
      "camera's volume appeared\n"}},
    {"release: unconfirmed, and no volume", [](sim::World& w) {
         VolumeNeverAppears(w); w.InjectVendorFault(kCmdRelease, sim::Fault::CallFails()); },
     {"release"}, 5, {}, {"E: release (command 15) failed"}},
    {"release: not ready", NotReadyOnE, {"release"}, 4, {}, {"not ready"}},
};
// clang-format on

class CommandTableTest : public CliTest, public ::testing::WithParamInterface<Row> {};

TEST_P(CommandTableTest, ExitCodeAndOutput) {
    const Row& row = GetParam();
    row.world(world);

    const ToolRun run = Run(row.args);

    EXPECT_EQ(run.exit, row.exit) << "stdout:\n" << run.out << "stderr:\n" << run.err;
    for (const std::string& fragment : row.out) {
        EXPECT_NE(run.out.find(fragment), std::string::npos)
            << "stdout lacks [" << fragment << "]:\n"
            << run.out;
    }
    for (const std::string& fragment : row.err) {
        EXPECT_NE(run.err.find(fragment), std::string::npos)
            << "stderr lacks [" << fragment << "]:\n"
            << run.err;
    }
    if (row.err.empty()) {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_NE(run.err, "") << "a failure is always told";
    }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.name; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Worlds, CommandTableTest, ::testing::ValuesIn(kRows), RowName);

// ---- whole outputs and what the camera received ----

class CommandTest : public CliTest {};

TEST_F(CommandTest, ListPrintsOneRowPerCameraUnderItsHeadings) {
    TwoCameras(world);

    const ToolRun run = Run({"list"});

    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.out,
              "DRIVE  STATE  READY  FIRMWARE         OVERWRITE  TIMESTAMP  RESOLUTION\n"
              "E:     2      yes    V1.1.0720240101  on         off        1080p\n"
              "G:     2      yes    V2               off        off        720p\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(CommandTest, StatusReportsTheFirstCameraAndLeavesTheOthersUnopened) {
    TwoCameras(world);

    const ToolRun run = Run({"status"});

    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out,
              "Camera on E:\n"
              "  Identity:   KMZ DV CAMERA 1.00\n"
              "  State:      2 (ready)\n"
              "  Firmware:   V1.1.0720240101\n"
              "  Overwrite:  on\n"
              "  Time stamp: off\n"
              "  Resolution: 1080p\n");
    EXPECT_EQ(world.OpenedLetters(), (std::vector<char>{'D', 'E'}));
}

TEST_F(CommandTest, StatusOfANamedDriveOpensThatDriveOnly) {
    TwoCameras(world);

    const ToolRun run = Run({"status", "--drive", "g:"});

    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.out.find("Camera on G:\n"), std::string::npos);
    EXPECT_NE(run.out.find("  Resolution: 720p\n"), std::string::npos);
    EXPECT_EQ(world.OpenedLetters(), (std::vector<char>{'G'}));
}

TEST_F(CommandTest, ASettingOutsideTheKnownValuesIsShownAsSuch) {
    CameraOnE(world);
    world.camera().timestampDisplay = 7;

    const ToolRun run = Run({"status"});

    EXPECT_EQ(run.exit, 0);
    EXPECT_NE(run.out.find("  Time stamp: unknown (7)\n"), std::string::npos) << run.out;
}

TEST_F(CommandTest, FirmwareBytesThatAreNoCharactersAreShownEscaped) {
    CameraOnE(world);
    world.camera().firmware = {sim::MakeFirmwarePiece("V1\x01"), sim::MakeFirmwarePiece("\xE9"),
                               sim::MakeFirmwarePiece("")};

    const ToolRun run = Run({"status"});

    // Byte 0xE9 of the ANSI code page is U+00E9; byte 1 is no printable character.
    EXPECT_NE(run.out.find("  Firmware:   V1\\x01\xC3\xA9\n"), std::string::npos) << run.out;
}

TEST_F(CommandTest, SetSendsTheSameBlocksAsThePanelAndReadsEachBack) {
    CameraOnE(world);

    const ToolRun run = Run({"set", "resolution=720p", "overwrite=off"});

    ASSERT_EQ(run.exit, 0) << run.err;
    const auto cdbs = VendorCdbs(world);
    ASSERT_EQ(cdbs.size(), 5u);  // state, set and get resolution, set and get overwrite
    EXPECT_EQ(zqtest::Hex(cdbs[0]), "FA 55 66 FE 60 00 00 0E 00 00 00 00 00 00 00 00");
    EXPECT_EQ(zqtest::Hex(cdbs[1]), "FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00");
    EXPECT_EQ(zqtest::Hex(cdbs[2]), "FA 55 66 FE 60 00 00 01 00 00 00 00 00 00 00 00");
    EXPECT_EQ(zqtest::Hex(cdbs[3]), "FA 55 66 FE 06 00 00 02 00 00 00 00 00 00 00 00");
    EXPECT_EQ(zqtest::Hex(cdbs[4]), "FA 55 66 FE 60 00 00 02 00 00 00 00 00 00 00 00");
    EXPECT_EQ(world.camera().resolution, 1);
    EXPECT_EQ(world.camera().loopRecording, 0);
}

TEST_F(CommandTest, SetStopsAtAFailedCallButGoesOnAfterARefusal) {
    CameraOnE(world);
    world.InjectVendorFault(kCmdLoopRecording, sim::Fault::CheckCondition(0));
    Run({"set", "overwrite=on", "timestamp=on"});
    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14, 2, 11, 11}));
    EXPECT_EQ(world.camera().timestampDisplay, 1);

    world.Reset();
    CameraOnE(world);
    world.InjectVendorFault(kCmdLoopRecording, sim::Fault::CallFails());
    Run({"set", "overwrite=on", "timestamp=on"});
    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14, 2}));
    EXPECT_EQ(world.camera().timestampDisplay, 0);
}

TEST_F(CommandTest, SetAllWorksOnEveryCameraAndExitsWithTheFirstFailure) {
    TwoCameras(world);
    world.PlugCamera('H').state = 9;
    sim::Camera& second = *world.CameraOn('G');
    second.state = 0;

    const ToolRun run = Run({"set", "--all", "timestamp=on"});

    EXPECT_EQ(run.exit, 4);
    EXPECT_EQ(world.camera().timestampDisplay, 1);
    EXPECT_NE(run.err.find("G: the camera is not ready: its state is 0"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("H: the camera is not ready: its state is 9"), std::string::npos);
    EXPECT_EQ(run.out, "E: timestamp=on confirmed\n");
}

TEST_F(CommandTest, NotReadyCameraIsSentNothingButTheStateQuery) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"set", "overwrite=on"}, {"sync-time"}, {"release"}}) {
        SCOPED_TRACE(args[0]);
        world.Reset();
        NotReadyOnE(world);
        EXPECT_EQ(Run(args).exit, 4);
        EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14}));
    }
}

TEST_F(CommandTest, SyncTimeSendsTheLocalDateThenTheTime) {
    CameraOnE(world);
    sim::TheSystem().SetUtcOffset(3600);
    const zqtest::ClockRow& row = zqtest::kClockRows[1];
    SetLocalClock(row);

    const ToolRun run = Run({"sync-time"});

    ASSERT_EQ(run.exit, 0) << run.err;
    const auto cdbs = VendorCdbs(world);
    ASSERT_EQ(cdbs.size(), 3u);
    EXPECT_EQ(zqtest::Hex(cdbs[1]),
              "FA 55 66 FE 06 00 00 04 " + zqtest::ClockHex(row.date) + " 00 00 00 00 00");
    EXPECT_EQ(zqtest::Hex(cdbs[2]),
              "FA 55 66 FE 06 00 00 03 " + zqtest::ClockHex(row.time) + " 00 00 00 00 00");
    EXPECT_EQ(run.out, "E: " + zqtest::ClockReport(row) + "\n");
}

TEST_F(CommandTest, SyncTimeWithoutALocalTimeSendsNoClockCommand) {
    CameraOnE(world);
    sim::TheSystem().FailLocalTime(true);

    const ToolRun run = Run({"sync-time"});

    EXPECT_EQ(run.exit, 5);
    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14}));
    EXPECT_NE(run.err.find("E: the local time could not be read"), std::string::npos);
}

TEST_F(CommandTest, SyncTimeWhoseDateIsRefusedSendsNoTime) {
    CameraOnE(world);
    world.InjectVendorFault(kCmdSetDate, sim::Fault::CheckCondition(0));

    EXPECT_EQ(Run({"sync-time"}).exit, 6);
    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14, 4}));
    EXPECT_FALSE(world.camera().timeReceived);
}

TEST_F(CommandTest, ReleaseWaitsForTheVolumeAsLongAsItIsTold) {
    struct Case {
        std::vector<std::string> args;
        std::uint32_t timeoutMs;
        std::uint64_t sleptMs;  // the pause between the state query and the release command
        const char* told;
    };
    for (const Case& c :
         std::vector<Case>{{{"release"}, 10000, kSettingPauseMs, "within 10 s"},
                           {{"release", "--timeout", "2"}, 2000, kSettingPauseMs, "within 2 s"},
                           {{"release", "--timeout", "0"}, 0, kSettingPauseMs, "within 0 s"},
                           {{"release", "--pace", "0"}, 10000, 0, "within 10 s"}}) {
        SCOPED_TRACE(c.args.back());
        world.Reset();
        sim::TheSystem().Reset();
        VolumeNeverAppears(world);

        const ToolRun run = Run(c.args);

        EXPECT_EQ(run.exit, 8);
        EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
        EXPECT_EQ(arrivals.timeoutGiven, c.timeoutMs);
        EXPECT_EQ(sim::TheSystem().TotalSleptMs(), c.sleptMs);
        EXPECT_EQ(world.camera().releases, 1);
    }
}

TEST_F(CommandTest, ReleaseFindsAVolumeThatArrivesWhileItWaits) {
    VolumeNeverAppears(world);
    arrivals.meanwhile = {
        [this] { world.AddDrive('K', os::kDriveRemovable); },  // a memory stick: not the camera's
        [this] {
            world.AddDrive('M', os::kDriveRemovable).descriptor =
                sim::DescriptorWithVendor(sim::kCameraVendorId);
        },
    };

    const ToolRun run = Run({"release"});

    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "M:\\\n");
    EXPECT_TRUE(arrivals.meanwhile.empty());
}

// The camera's command-mode drive may itself say KMZ: it is not the volume until the volume
// arrives there (the camera presents its medium), and without that arrival there is none.
TEST_F(CommandTest, ReleaseTakesNoVolumeThatWasThereBeforeTheCommand) {
    for (const bool arrives : {false, true}) {
        SCOPED_TRACE(arrives ? "the medium arrives later" : "nothing arrives");
        world.Reset();
        CameraOnE(world);
        world.drive('E').descriptor = sim::DescriptorWithVendor(sim::kCameraVendorId);
        world.InjectVendorFault(kCmdRelease, sim::Fault::Ignored());  // no switch yet
        if (arrives) {
            arrivals.meanwhile = {[this] { world.camera().mode = sim::CameraMode::kStorage; }};
        }

        const ToolRun run = Run({"release", "--timeout", "3"});

        EXPECT_EQ(run.exit, arrives ? 0 : 8) << run.err;
        EXPECT_EQ(run.out, arrives ? "E:\\\n" : "");
    }
}

TEST_F(CommandTest, ReleaseWithoutArrivalsToListenToFails) {
    CameraOnE(world);
    arrivals.failToStart = true;
    arrivals.startError = 1400;  // ERROR_INVALID_WINDOW_HANDLE

    const ToolRun run = Run({"release"});

    EXPECT_EQ(run.exit, 5);
    EXPECT_NE(run.err.find("E: cannot watch for the camera's storage volume: "), std::string::npos)
        << run.err;
    EXPECT_EQ(world.camera().releases, 0) << "released with nobody to hear the volume";
}

TEST_F(CommandTest, ReleaseIgnoresTheVolumeOfAnotherCameraAlreadyInStorageMode) {
    CameraOnE(world);
    world.camera().storageLetter = 'H';
    world.camera().storageDescriptor = sim::DescriptorWithoutVendor();
    world.AddDrive('F', os::kDriveRemovable).descriptor =
        sim::DescriptorWithVendor(sim::kCameraVendorId);

    const ToolRun run = Run({"release", "--timeout", "1"});

    EXPECT_EQ(run.exit, 8) << run.out;
    EXPECT_EQ(run.out, "");
}

TEST_F(CommandTest, ReleaseOpenStartsTheFileManagerOnTheVolume) {
    CameraOnE(world);

    const ToolRun run = Run({"release", "--open"});

    EXPECT_EQ(run.exit, 0) << run.err;
    const auto shells = world.Calls(sim::Call::kShellExecute);
    ASSERT_EQ(shells.size(), 1u);
    EXPECT_EQ(shells[0].operation, std::nullopt);
    EXPECT_EQ(shells[0].file, L"explorer");
    EXPECT_EQ(shells[0].parameters, L"E:\\");
    EXPECT_EQ(shells[0].showCommand, 5);
}

TEST_F(CommandTest, ReleaseOpenThatCannotStartTheFileManagerSaysSo) {
    CameraOnE(world);
    world.FailShellExecute(true);

    const ToolRun run = Run({"release", "--open"});

    EXPECT_EQ(run.exit, 5);
    EXPECT_EQ(run.out, "E:\\\n");
    EXPECT_NE(run.err.find("E: the file manager could not be started on E:\\"), std::string::npos);
}

TEST_F(CommandTest, VerboseTellsEveryDriveThatWasThere) {
    DiskOnD(world);
    world.AddDrive('F', os::kDriveRemovable).opens = false;
    world.AddDrive('G', os::kDriveRemovable);
    world.PlugCamera('H');

    const ToolRun quiet = Run({"list"});
    const ToolRun verbose = Run({"list", "-v"});

    EXPECT_EQ(quiet.err,
              "zelquin-cli: F: could not be opened: Access is denied. (system error 5)\n");
    EXPECT_EQ(verbose.err,
              "zelquin-cli: D: is not a camera (INQUIRY byte 3 is 2; a camera answers 1)\n"
              "zelquin-cli: F: could not be opened: Access is denied. (system error 5)\n"
              "zelquin-cli: G: opened, but its INQUIRY failed: A device attached to the system "
              "is not functioning. (system error 31)\n");
}

}  // namespace
