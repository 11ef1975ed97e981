// The fixture of the fault-injection tests: the panel fixture (tests/support/panel_fixture.h) in
// front of a simulated computer with a disk on D: and the camera on E:, and the check every case
// ends with - the window against the panel's state table, the connected-implies-open invariant
// and the simulator's handle accounting.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "host/device_records.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "panel/control_ids.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/controls.h"
#include "tests/support/fake_window.h"
#include "tests/support/panel_fixture.h"

namespace faults {

using zqtest::kCombos;
using zqtest::kCommandControls;
// Selections are listed in the order of kCombos: loop recording, video resolution, time-stamp
// display.
using Selections = std::array<int, 3>;
inline constexpr int kNone = -1;

// The default firmware pieces of the simulated camera: "V1.1", ".07", "20240101".
inline const std::wstring kPrefix = L"Firmware Version:   ";
inline const std::wstring kFirmwareLine = kPrefix + L"V1.1.0720240101";
inline const std::wstring kFirmwareErrorLine = L"Firware Version Error: 8";
inline const std::wstring kNotConnected = L"Device not connected.";

// A row of the panel's state table as the window shows it.
struct Look {
    std::uint8_t connected = 0;
    bool enabled = false;
    Selections selections = {kNone, kNone, kNone};
    std::wstring status = kNotConnected;
};

// At start-up and Disconnected look the same.
inline Look NotConnected() {
    return {};
}
inline Look Connected(Selections selections, const std::wstring& status = kFirmwareLine) {
    return {1, true, selections, status};
}
// After a release whose reconnection failed: enabled, with what the window showed before.
inline Look Released(Selections selections, const std::wstring& status = kFirmwareLine) {
    return {0, true, selections, status};
}

// Vendor codes as "14 26 27".
inline std::string Codes(const std::vector<int>& codes) {
    std::ostringstream text;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        text << (i == 0 ? "" : " ") << codes[i];
    }
    return text.str();
}

// The pseudo vendor code under which the tables inject INQUIRY faults.
inline constexpr int kInquiry = -1;

inline void Inject(sim::World& world, int code, sim::Fault fault) {
    if (code == kInquiry) {
        world.InjectInquiryFault(fault);
    } else {
        world.InjectVendorFault(static_cast<std::uint8_t>(code), fault);
    }
}

class PanelFaultTest : public zqtest::PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        world.AddDisk('D');  // answers the INQUIRY with byte 3 = 2
        sim::Camera& camera = world.PlugCamera('E');
        camera.loopRecording = 1;
        camera.resolution = 1;
        camera.timestampDisplay = 1;
    }

    int Selection(int combo) const { return window.Selected(combo); }

    // The window and the panel state against `look`, the invariant, and the handles: exactly
    // `openHandles` open, none closed twice or never opened.
    void ExpectPanel(const Look& look, std::size_t openHandles) const {
        EXPECT_EQ(g_bConnected, look.connected);
        for (const int control : kCommandControls) {
            EXPECT_EQ(window.IsEnabled(control), look.enabled) << zqtest::ControlName(control);
        }
        const Selections shown = {Selection(IDC_OVERWRITE), Selection(IDC_RESOLUTION),
                                  Selection(IDC_TIMESTAMP)};
        EXPECT_EQ(shown, look.selections);
        EXPECT_EQ(window.status, look.status);
        if (g_bConnected == 1) {
            EXPECT_TRUE(world.IsOpenHandle(g_hCamera)) << "connected without an open camera";
        }
        EXPECT_EQ(world.OpenHandleCount(), openHandles);
        EXPECT_EQ(world.BadCloses(), 0u);
    }

    // Connects with nothing injected and starts the trace, the journal and the window's record
    // afresh.
    void ConnectCleanly() {
        ConnectCamera(window);
        ASSERT_EQ(g_bConnected, 1);
        Forget();
    }
};

}  // namespace faults
