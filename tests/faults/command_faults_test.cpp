// The user commands with their camera commands failing - the three setters, the date and the
// time, the release - and the release-and-reconnect path of "Open File Folder" with the
// reconnection failing at each of its steps. Every case starts connected to the camera on E:
// with all three settings read as 1.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "tests/faults/panel_faults.h"

namespace faults {
namespace {

using Handler = void (*)(PanelWindow&);

struct CommandFault {
    const char* name;
    Handler handler;
    int combo;  // the combo whose pick the handler sends, 0 for none
    int code;   // the vendor code that fails
    std::optional<sim::Fault> fault;
    int vanishAfter;  // the camera vanishes after this many of the handler's commands; -1 never
    const char* box;
    const char* codes;  // the vendor codes the camera received
};

void PrintTo(const CommandFault& row, std::ostream* out) {
    *out << row.name;
}

// clang-format off
const CommandFault kCommandFaults[] = {
    {"LoopCallFails", OnOverwriteChange, IDC_OVERWRITE, 2, sim::Fault::CallFails(), -1,
     "Loop recording error.", "2"},
    {"LoopShortAnswer", OnOverwriteChange, IDC_OVERWRITE, 2, sim::Fault::ShortAnswer(0), -1,
     "Loop recording off.", "2"},
    {"LoopCheckCondition", OnOverwriteChange, IDC_OVERWRITE, 2, sim::Fault::CheckCondition(0), -1,
     "Loop recording off.", "2"},
    {"LoopCameraGone", OnOverwriteChange, IDC_OVERWRITE, 2, std::nullopt, 0,
     "Loop recording error.", "2"},
    {"TimestampCallFails", OnTimestampChange, IDC_TIMESTAMP, 11, sim::Fault::CallFails(), -1,
     "Time Stamp Display change error.", "11"},
    {"TimestampShortAnswer", OnTimestampChange, IDC_TIMESTAMP, 11, sim::Fault::ShortAnswer(0), -1,
     "Time stamp display turned off.", "11"},
    {"TimestampCheckCondition", OnTimestampChange, IDC_TIMESTAMP, 11,
     sim::Fault::CheckCondition(0), -1, "Time stamp display turned off.", "11"},
    {"TimestampCameraGone", OnTimestampChange, IDC_TIMESTAMP, 11, std::nullopt, 0,
     "Time Stamp Display change error.", "11"},
    {"ResolutionCallFails", OnResolutionChange, IDC_RESOLUTION, 1, sim::Fault::CallFails(), -1,
     "Video Relution change error.", "1"},
    {"ResolutionShortAnswer", OnResolutionChange, IDC_RESOLUTION, 1, sim::Fault::ShortAnswer(0),
     -1, "Video resolution set to 1080P.", "1"},
    {"ResolutionCheckCondition", OnResolutionChange, IDC_RESOLUTION, 1,
     sim::Fault::CheckCondition(0), -1, "Video resolution set to 1080P.", "1"},
    {"ResolutionCameraGone", OnResolutionChange, IDC_RESOLUTION, 1, std::nullopt, 0,
     "Video Relution change error.", "1"},
    // The date goes first; the time is sent only after the date succeeded.
    {"DateCallFails", OnSyncTime, 0, 4, sim::Fault::CallFails(), -1, "Time Sync error.", "4"},
    {"DateShortAnswer", OnSyncTime, 0, 4, sim::Fault::ShortAnswer(0), -1, "Time Sync Completed.",
     "4 3"},
    {"DateCheckCondition", OnSyncTime, 0, 4, sim::Fault::CheckCondition(0), -1,
     "Time Sync Completed.", "4 3"},
    {"TimeCallFails", OnSyncTime, 0, 3, sim::Fault::CallFails(), -1, "Time Sync error.", "4 3"},
    {"TimeShortAnswer", OnSyncTime, 0, 3, sim::Fault::ShortAnswer(0), -1, "Time Sync Completed.",
     "4 3"},
    {"TimeCheckCondition", OnSyncTime, 0, 3, sim::Fault::CheckCondition(0), -1,
     "Time Sync Completed.", "4 3"},
    {"CameraGoneBeforeTheDate", OnSyncTime, 0, 4, std::nullopt, 0, "Time Sync error.", "4"},
    {"CameraGoneBetweenDateAndTime", OnSyncTime, 0, 4, std::nullopt, 1, "Time Sync error.",
     "4 3"},
};
// clang-format on

class CommandFaultTest : public PanelFaultTest,
                         public ::testing::WithParamInterface<CommandFault> {};

// The command confirms what the platform call reported, the user's pick stays shown, and the
// panel stays connected with its one handle.
TEST_P(CommandFaultTest, ConfirmsThePlatformCallsOutcomeAndStaysConnected) {
    const CommandFault& c = GetParam();
    ConnectCleanly();
    if (c.fault) {
        Inject(world, c.code, *c.fault);
    }
    int seen = 0;
    world.SetObserver([&](const sim::Event& event) {
        if (event.IsPassThrough() && ++seen == c.vanishAfter) {
            world.UnplugCamera('E');
        }
    });
    if (c.vanishAfter == 0) {
        world.UnplugCamera('E');
    }
    Selections shown = {1, 1, 1};
    if (c.combo != 0) {
        window.Pick(c.combo, 0);
        shown[c.combo == IDC_OVERWRITE ? 0 : c.combo == IDC_RESOLUTION ? 1 : 2] = 0;
    }
    window.localTime.tm_year = 125;
    window.localTime.tm_mon = 2;
    window.localTime.tm_mday = 7;
    window.localTime.tm_hour = 14;
    window.localTime.tm_min = 5;
    window.localTime.tm_sec = 9;

    c.handler(window);
    world.SetObserver(nullptr);

    EXPECT_EQ(window.Lines("box "), std::vector<std::string>{std::string("box ") + c.box});
    EXPECT_EQ(Codes(world.VendorCodes()), c.codes);
    ExpectPanel(Connected(shown), 1);
    EXPECT_EQ(g_nLinkError, 0) << "a failed user command writes no link error";
}

INSTANTIATE_TEST_SUITE_P(EachCommand, CommandFaultTest, ::testing::ValuesIn(kCommandFaults),
                         zqtest::ByName());

// "Open File Folder": the release, the volume lookup and the reconnection. Between the first
// connection and the release the camera's settings change to 0, so that a re-read shows 0 and a
// combo left alone still shows 1.
struct ReleaseFault {
    const char* name;
    int code;
    std::optional<sim::Fault> fault;  // none: the camera stays a plain disk after the release
    bool folderOpened;
    Look look;
    std::size_t openHandles;
    const char* codes;
};

void PrintTo(const ReleaseFault& row, std::ostream* out) {
    *out << row.name;
}

const Selections kReread = {0, 0, 0};
const Selections kBefore = {1, 1, 1};
const char* const kReleaseAndReconnect = "15 14 26 27 28 2 1 11";

// clang-format off
const ReleaseFault kReleaseFaults[] = {
    // The release itself: the handle is closed whatever became of command 15.
    {"ReleaseCallFails", 15, sim::Fault::CallFails(), false, Connected(kReread), 1,
     kReleaseAndReconnect},
    {"ReleaseShortAnswer", 15, sim::Fault::ShortAnswer(0), true, Connected(kReread), 1,
     kReleaseAndReconnect},
    {"ReleaseCheckCondition", 15, sim::Fault::CheckCondition(0), false, Connected(kReread),
     1, kReleaseAndReconnect},
    // The reconnection failing at each step.
    {"ReconnectInquiryFails", kInquiry, sim::Fault::CallFails(), true, Released(kBefore), 0,
     "15"},
    {"ReconnectInquiryShort", kInquiry, sim::Fault::ShortAnswer(2), true,
     Released(kBefore), 0, "15"},
    {"ReconnectStateFails", 14, sim::Fault::CallFails(), true, Released(kBefore), 0,
     "15 14"},
    {"ReconnectStateNotReady", 14, sim::Fault::ShortAnswer(0), true, Released(kBefore), 0,
     "15 14"},
    {"ReconnectFirmware26Fails", 26, sim::Fault::CallFails(), true,
     Connected(kReread, kFirmwareErrorLine), 1, "15 14 26 2 1 11"},
    {"ReconnectFirmware27Fails", 27, sim::Fault::CallFails(), true,
     Connected(kReread, kFirmwareErrorLine), 1, "15 14 26 27 2 1 11"},
    {"ReconnectFirmware28Fails", 28, sim::Fault::CallFails(), true,
     Connected(kReread, kFirmwareErrorLine), 1, kReleaseAndReconnect},
    {"ReconnectLoopFails", 2, sim::Fault::CallFails(), true, Connected({1, 0, 0}), 1,
     kReleaseAndReconnect},
    {"ReconnectResolutionFails", 1, sim::Fault::CallFails(), true, Connected({0, 1, 0}), 1,
     kReleaseAndReconnect},
    {"ReconnectTimestampFails", 11, sim::Fault::CallFails(), true, Connected({0, 0, 1}), 1,
     kReleaseAndReconnect},
    {"CameraStaysAPlainDisk", kInquiry, std::nullopt, true, Released(kBefore), 0, "15"},
};
// clang-format on

class ReleaseFaultTest : public PanelFaultTest,
                         public ::testing::WithParamInterface<ReleaseFault> {};

TEST_P(ReleaseFaultTest, ReleasesOpensTheVolumeAndReconnectsAsFarAsTheCameraAnswers) {
    const ReleaseFault& c = GetParam();
    ConnectCleanly();
    sim::Camera& camera = world.camera();
    camera.loopRecording = 0;
    camera.resolution = 0;
    camera.timestampDisplay = 0;
    if (c.fault) {
        Inject(world, c.code, *c.fault);
    } else {
        camera.storageAnswers = sim::StorageAnswers::kPlainDisk;
    }

    OnOpenFolder(window);

    EXPECT_TRUE(window.Lines("box ").empty()) << "the release path shows no message box";
    EXPECT_EQ(window.Lines("open "),
              c.folderOpened ? std::vector<std::string>{"open E:\\"} : std::vector<std::string>{});
    EXPECT_EQ(Codes(world.VendorCodes()), c.codes);
    ExpectPanel(c.look, c.openHandles);

    // Released: every command now answers "Device not connected." and sends nothing, and the
    // combo keeps the user's pick.
    if (c.look.connected == 0) {
        Forget();
        window.Pick(IDC_OVERWRITE, 0);
        OnOverwriteChange(window);
        EXPECT_EQ(window.Lines("box "), std::vector<std::string>{"box Device not connected."});
        EXPECT_TRUE(world.VendorCodes().empty());
        EXPECT_EQ(Selection(IDC_OVERWRITE), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EachStep, ReleaseFaultTest, ::testing::ValuesIn(kReleaseFaults),
                         zqtest::ByName());

TEST_F(ReleaseFaultTest, CameraGoneBeforeTheReleaseLeavesTheReleasedPanelWithNothingOpen) {
    ConnectCleanly();
    world.UnplugCamera('E');

    OnOpenFolder(window);

    EXPECT_EQ(Codes(world.VendorCodes()), "15");
    EXPECT_TRUE(window.Lines("open ").empty());
    EXPECT_TRUE(window.Lines("box ").empty());
    ExpectPanel(Released(kBefore), 0);
    EXPECT_EQ(g_nLinkError, LINK_ERR_NOT_OPEN);
}

}  // namespace
}  // namespace faults
