// The connection sequence: what the simulated camera and the window see, in order, while the
// panel connects and disconnects, and what each failure leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "panel/control_ids.h"
#include "panel/panel.h"
#include "tests/support/panel_fixture.h"

namespace {

using zqtest::ConnectionLines;
using zqtest::DisconnectionLines;
using zqtest::Lines;

using zqtest::ControlName;
using zqtest::kCombos;
using zqtest::kCommandControls;

class ConnectTest : public zqtest::PanelTest {};

TEST_F(ConnectTest, ConnectionAsTheCameraAndTheWindowSeeIt) {
    world.AddDisk('C');  // never scanned
    world.AddDisk('D');  // a disk: INQUIRY byte 3 = 2
    sim::Camera& cam = world.PlugCamera('E');
    cam.loopRecording = 1;
    cam.resolution = 0;
    cam.timestampDisplay = 1;
    world.AddDisk('G', 1, os::kDriveRemovable);  // would also pass as the camera

    ConnectCamera(window);

    // clang-format off
    const Lines expected = {
        "create D", "inquiry D", "close D",
        "create E", "inquiry E",
        "get 14",
        "get 26", "get 27", "get 28",
        "status Firmware Version:   V1.1.0720240101",
        "pause 200", "get 2", "select IDC_OVERWRITE 1",
        "pause 200", "get 1", "select IDC_RESOLUTION 0",
        "pause 200", "get 11", "select IDC_TIMESTAMP 1",
        "enable IDC_SYNC_TIME 1", "enable IDC_OPEN_FOLDER 1",
        "enable IDC_OVERWRITE 1", "enable IDC_RESOLUTION 1", "enable IDC_TIMESTAMP 1",
    };
    // clang-format on
    EXPECT_EQ(journal.lines, expected);
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(g_strStatus, L"Firmware Version:   V1.1.0720240101");
    EXPECT_EQ(window.status, L"Firmware Version:   V1.1.0720240101");
    EXPECT_EQ(world.OpenHandleCount(), 1u);
    EXPECT_TRUE(world.IsOpenHandle(g_hCamera));
    // The values shown are not written back, and nothing is confirmed.
    EXPECT_EQ(cam.loopRecording, 1);
    EXPECT_EQ(cam.timestampDisplay, 1);
    EXPECT_TRUE(window.boxes.empty());
}

// A state query that fails or is refused: tests/faults/connect_faults_test.cpp.
TEST_F(ConnectTest, ConnectionGoesOnOnlyWhenTheCameraReportsReady) {
    struct Case {
        const char* name;
        std::uint8_t state;
        Lines lines;
        bool connected;
    };
    const Lines notReady = {"create E", "inquiry E", "get 14", "close E"};
    const std::vector<Case> cases = {
        {"state 0", 0, notReady, false},
        {"state 1", 1, notReady, false},
        {"state 4", 4, notReady, false},
        {"state 255", 255, notReady, false},
        {"state 2", 2, ConnectionLines('E', 0, 0, 0), true},
        {"state 3", 3, ConnectionLines('E', 0, 0, 0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        world.PlugCamera('E').state = c.state;

        ConnectCamera(window);

        EXPECT_EQ(journal.lines, c.lines);
        EXPECT_EQ(g_bConnected, c.connected ? 1 : 0);
        // No handle is held behind a panel that did not connect.
        EXPECT_EQ(world.OpenHandleCount(), c.connected ? 1u : 0u);
        EXPECT_EQ(g_hCamera != nullptr, c.connected);
        EXPECT_EQ(world.BadCloses(), 0u);
        if (!c.connected) {
            EXPECT_EQ(window.status, L"Device not connected.");
            EXPECT_TRUE(g_strStatus.empty());
        }
    }
}

TEST_F(ConnectTest, CameraThatBecomesReadyConnectsOnTheNextAttempt) {
    world.PlugCamera('E').state = 1;
    ConnectCamera(window);
    camera().state = 3;

    ConnectCamera(window);

    EXPECT_EQ(journal.lines, zqtest::Concat({{"create E", "inquiry E", "get 14", "close E"},
                                             ConnectionLines('E', 0, 0, 0)}));
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
}

TEST_F(ConnectTest, StaleCameraHandleIsNotKeptBesideTheNewOne) {
    world.PlugCamera('E');
    std::int32_t err = 0;
    ASSERT_TRUE(FindCamera(err));  // held while the panel is not connected
    const os::Handle stale = g_hCamera;

    ConnectCamera(window);

    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
    EXPECT_FALSE(world.IsOpenHandle(stale));
    EXPECT_TRUE(world.IsOpenHandle(g_hCamera));
}

TEST_F(ConnectTest, NoCameraChangesNothingInTheWindow) {
    world.AddDisk('D');
    world.AddDrive('F', os::kDriveRemovable).scsi = sim::ScsiDevice::kRefusesInquiry;
    world.AddDrive('G', os::kDriveRemovable);  // no SCSI device at all

    ConnectCamera(window);

    // clang-format off
    const Lines expected = {
        "create D", "inquiry D", "close D",
        "create F", "inquiry F refused", "close F",
        "create G", "inquiry G failed", "close G",
    };
    // clang-format on
    EXPECT_EQ(journal.lines, expected);
    EXPECT_TRUE(window.calls.empty());
    EXPECT_EQ(g_bConnected, 0);
    EXPECT_EQ(g_nLinkError, LINK_ERR_NOT_OPEN);
    EXPECT_EQ(world.OpenHandleCount(), 0u);
}

// One setting that cannot be read, and each firmware piece that cannot be: the table of
// tests/faults/connect_faults_test.cpp.
TEST_F(ConnectTest, SettingsThatCannotBeReadLeaveTheirCombosAlone) {
    world.PlugCamera('E');  // every setting 0
    for (const int id : kCombos) {
        window.selection[id] = 1;  // what the combos showed before
    }
    const std::uint8_t failing[] = {2, 1, 11};
    for (const std::uint8_t code : failing) {
        world.InjectVendorFault(code, sim::Fault::CallFails());
    }

    ConnectCamera(window);

    const Lines expected = zqtest::Concat(
        {{"create E", "inquiry E", "get 14", "get 26", "get 27", "get 28",
          "status Firmware Version:   V1.1.0720240101"},
         {"pause 200", "get 2 failed", "pause 200", "get 1 failed", "pause 200", "get 11 failed"},
         {"enable IDC_SYNC_TIME 1", "enable IDC_OPEN_FOLDER 1", "enable IDC_OVERWRITE 1",
          "enable IDC_RESOLUTION 1", "enable IDC_TIMESTAMP 1"}});
    EXPECT_EQ(journal.lines, expected);
    EXPECT_EQ((std::vector<int>{window.Selected(IDC_OVERWRITE), window.Selected(IDC_RESOLUTION),
                                window.Selected(IDC_TIMESTAMP)}),
              (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(g_bConnected, 1);
}

TEST_F(ConnectTest, OnlyLoopRecordingReadOnFirstConnectionLeavesTheOtherCombosEmpty) {
    world.PlugCamera('E').loopRecording = 1;
    world.InjectVendorFault(1, sim::Fault::CallFails());
    world.InjectVendorFault(11, sim::Fault::CallFails());

    ConnectCamera(window);

    EXPECT_EQ(window.Lines("select "), (Lines{"select IDC_OVERWRITE 1"}));
    EXPECT_EQ(window.Selected(IDC_OVERWRITE), 1);
    EXPECT_EQ(window.Selected(IDC_RESOLUTION), -1);
    EXPECT_EQ(window.Selected(IDC_TIMESTAMP), -1);
    for (const int id : kCommandControls) {
        EXPECT_TRUE(window.IsEnabled(id)) << ControlName(id);
    }
}

TEST_F(ConnectTest, SettingValueOutsideTheListLeavesTheComboEmpty) {
    struct Case {
        const char* name;
        std::uint8_t sim::Camera::*field;
        int combo;
    };
    const Case settings[] = {
        {"loop recording", &sim::Camera::loopRecording, IDC_OVERWRITE},
        {"resolution", &sim::Camera::resolution, IDC_RESOLUTION},
        {"time-stamp display", &sim::Camera::timestampDisplay, IDC_TIMESTAMP},
    };
    for (const Case& s : settings) {
        for (const int value : {2, 255}) {
            SCOPED_TRACE(std::string(s.name) + " " + std::to_string(value));
            Restart();
            sim::Camera& cam = world.PlugCamera('E');
            cam.loopRecording = 1;
            cam.resolution = 1;
            cam.timestampDisplay = 1;
            cam.*s.field = static_cast<std::uint8_t>(value);

            ConnectCamera(window);

            const std::string line = "select " + ControlName(s.combo) + " " + std::to_string(value);
            EXPECT_EQ(window.Lines(line).size(), 1u);
            EXPECT_EQ(window.Selected(s.combo), -1);
            for (const int other : kCombos) {
                if (other != s.combo) {
                    EXPECT_EQ(window.Selected(other), 1) << ControlName(other);
                }
            }
            EXPECT_EQ(g_bConnected, 1);
            EXPECT_EQ(window.Lines("enable ").size(), 5u);
        }
    }
}

TEST_F(ConnectTest, ConnectWhileConnectedSendsNothingAndChangesNothing) {
    ConnectTo('E');
    const std::wstring status = g_strStatus;

    ConnectCamera(window);

    EXPECT_TRUE(journal.lines.empty());
    EXPECT_TRUE(world.events().empty());
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(g_strStatus, status);
}

TEST_F(ConnectTest, DisconnectClosesTheCameraThenRestoresTheDisconnectedLook) {
    ConnectTo('E');

    DisconnectCamera(window);

    EXPECT_EQ(journal.lines, DisconnectionLines('E'));
    EXPECT_EQ(g_bConnected, 0);
    EXPECT_EQ(window.status, L"Device not connected.");
    EXPECT_EQ(g_strStatus, L"Firmware Version:   V1.1.0720240101");  // left as it was
    EXPECT_EQ(world.OpenHandleCount(), 0u);
    EXPECT_EQ(g_hCamera, nullptr);
    for (const int id : kCommandControls) {
        EXPECT_FALSE(window.IsEnabled(id)) << ControlName(id);
    }
    for (const int id : kCombos) {
        EXPECT_EQ(window.Selected(id), -1) << ControlName(id);
    }
}

TEST_F(ConnectTest, SecondDisconnectClosesNothingAndLeavesTheSameLook) {
    ConnectTo('E');
    DisconnectCamera(window);
    Forget();

    DisconnectCamera(window);

    // clang-format off
    const Lines expected = {
        "enable IDC_SYNC_TIME 0", "enable IDC_OPEN_FOLDER 0",
        "enable IDC_OVERWRITE 0", "select IDC_OVERWRITE -1",
        "enable IDC_RESOLUTION 0", "select IDC_RESOLUTION -1",
        "enable IDC_TIMESTAMP 0", "select IDC_TIMESTAMP -1",
        "status Device not connected.",
    };
    // clang-format on
    EXPECT_EQ(journal.lines, expected);
    EXPECT_EQ(world.BadCloses(), 0u);
    EXPECT_EQ(g_bConnected, 0);
}

TEST_F(ConnectTest, ReconnectAfterDisconnectRunsTheWholeSequenceAgain) {
    ConnectTo('E');
    DisconnectCamera(window);
    camera().firmware = {sim::MakeFirmwarePiece("V2.0"), sim::MakeFirmwarePiece(""),
                         sim::MakeFirmwarePiece("B")};
    camera().loopRecording = 1;
    camera().timestampDisplay = 1;
    Forget();

    ConnectCamera(window);

    EXPECT_EQ(journal.lines, ConnectionLines('E', 1, 0, 1, "Firmware Version:   V2.0B"));
    EXPECT_EQ(g_strStatus, L"Firmware Version:   V2.0B");
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
}

TEST_F(ConnectTest, FirmwareTextIsConvertedFromTheAnsiCodePage) {
    // Code page 1252: 0xE9 is U+00E9, 0x80 is U+20AC, 0x9F is U+0178.
    world.PlugCamera('E').firmware = {sim::MakeFirmwarePiece("Caf\xE9"),
                                      sim::MakeFirmwarePiece("\x80"),
                                      sim::MakeFirmwarePiece("\x9F")};

    ConnectCamera(window);

    EXPECT_EQ(window.Lines("status "),
              (Lines{"status Firmware Version:   Caf<U+00E9><U+20AC><U+0178>"}));
    EXPECT_EQ(window.status, L"Firmware Version:   Caf\u00E9\u20AC\u0178");
    EXPECT_EQ(g_strStatus, window.status);
}

TEST_F(ConnectTest, FirmwareTextOfFullPiecesIsShownWhole) {
    world.PlugCamera('E').firmware = {sim::MakeFirmwarePiece("ABCDEFGH"),
                                      sim::MakeFirmwarePiece("IJKLMNOP"),
                                      sim::MakeFirmwarePiece("QRSTUVWX")};

    ConnectCamera(window);

    EXPECT_EQ(window.Lines("status "),
              (Lines{"status Firmware Version:   ABCDEFGHIJKLMNOPQRSTUVWX"}));
}

}  // namespace
