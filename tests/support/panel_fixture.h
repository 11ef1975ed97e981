// The fixture of the panel logic and host integration tests: an empty simulated computer, the
// panel state at its process-start values, a recording window and one journal of what the window
// and the simulated computer saw. Also the line sequences that recur in the expectations.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "host/device_records.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/controls.h"
#include "tests/support/fake_window.h"
#include "tests/support/journal.h"
#include "tests/support/sim_test.h"
#include "tests/support/wire.h"

namespace zqtest {

using Lines = std::vector<std::string>;

// The status line of the simulated camera's default firmware pieces "V1.1", ".07", "20240101".
inline const std::string kDefaultFirmwareLine = "Firmware Version:   V1.1.0720240101";

// A successful connection to the camera on `letter` (the first present drive from D on), which
// reports the default firmware and the given setting values.
inline Lines ConnectionLines(char letter, int loopRecording, int resolution, int timestamp,
                             const std::string& status = kDefaultFirmwareLine) {
    const std::string x(1, letter);
    return {"create " + x,
            "inquiry " + x,
            "get 14",
            "get 26",
            "get 27",
            "get 28",
            "status " + status,
            "pause 200",
            "get 2",
            "select IDC_OVERWRITE " + std::to_string(loopRecording),
            "pause 200",
            "get 1",
            "select IDC_RESOLUTION " + std::to_string(resolution),
            "pause 200",
            "get 11",
            "select IDC_TIMESTAMP " + std::to_string(timestamp),
            "enable IDC_SYNC_TIME 1",
            "enable IDC_OPEN_FOLDER 1",
            "enable IDC_OVERWRITE 1",
            "enable IDC_RESOLUTION 1",
            "enable IDC_TIMESTAMP 1"};
}

// DisconnectCamera while the camera on `letter` is open.
inline Lines DisconnectionLines(char letter) {
    // clang-format off
    return {"close " + std::string(1, letter),
            "enable IDC_SYNC_TIME 0",
            "enable IDC_OPEN_FOLDER 0",
            "enable IDC_OVERWRITE 0",
            "select IDC_OVERWRITE -1",
            "enable IDC_RESOLUTION 0",
            "select IDC_RESOLUTION -1",
            "enable IDC_TIMESTAMP 0",
            "select IDC_TIMESTAMP -1",
            "status Device not connected."};
    // clang-format on
}

inline Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class PanelTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        window = FakeWindow{};
        journal.Clear();
        journal.afterCall = nullptr;
        journal.Attach(window, world, sim::TheSystem());
    }

    void TearDown() override {
        ExpectEveryBoxStandard(window);
        SimTest::TearDown();
    }

    // A fresh start for the next row of a table: this fixture's own TearDown and SetUp, as
    // between two tests (a derived fixture lays out its computer again itself).
    void Restart() {
        PanelTest::TearDown();
        PanelTest::SetUp();
    }

    // Plugs a camera in on `letter` unless the test has plugged one in there already, connects
    // the panel and forgets what that took.
    void ConnectTo(char letter) {
        if (world.CameraOn(letter) == nullptr) {
            world.PlugCamera(letter);
        }
        ConnectCamera(window);
        ASSERT_EQ(g_bConnected, 1) << "the set-up connection failed";
        Forget();
    }

    // Clears the journal, the window's lines and the simulator's trace.
    void Forget() {
        journal.Clear();
        window.calls.clear();
        world.ClearTrace();
    }

    sim::Camera& camera() { return world.camera(); }

    // Every message box: no owner, caption "Ostravel V1.1", MB_OK, language 1033.
    static void ExpectEveryBoxStandard(const FakeWindow& shown) {
        for (const FakeWindow::Box& box : shown.boxes) {
            SCOPED_TRACE(FakeWindow::Narrow(box.text));
            EXPECT_EQ(box.caption, L"Ostravel V1.1");
            EXPECT_EQ(box.type, 0u);
            EXPECT_EQ(box.language, 1033);
        }
    }

    FakeWindow window;
    Journal journal;
};

}  // namespace zqtest
