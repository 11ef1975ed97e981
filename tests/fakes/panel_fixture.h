// The fixture of the panel logic and host integration tests: an empty simulated computer, the
// panel state at its process-start values, a recording window and one journal of what the window
// and the simulated computer saw. Also the line sequences that recur in the expectations.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/device_records.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/fakes/fake_window.h"
#include "tests/fakes/journal.h"
#include "tests/support/sim_test.h"

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
            "select 1008 " + std::to_string(loopRecording),
            "pause 200",
            "get 1",
            "select 1010 " + std::to_string(resolution),
            "pause 200",
            "get 11",
            "select 1009 " + std::to_string(timestamp),
            "enable 1001 1",
            "enable 1002 1",
            "enable 1008 1",
            "enable 1010 1",
            "enable 1009 1"};
}

// DisconnectCamera while the camera on `letter` is open.
inline Lines DisconnectionLines(char letter) {
    return {"close " + std::string(1, letter),
            "enable 1001 0",
            "enable 1002 0",
            "enable 1008 0",
            "select 1008 -1",
            "enable 1010 0",
            "select 1010 -1",
            "enable 1009 0",
            "select 1009 -1",
            "status Device not connected."};
}

// A DEV_BROADCAST_VOLUME record (20 bytes as the system sends it) for the drives in `unitMask`,
// in a buffer of exactly `size` bytes whose dbch_size says `size`; fields past `size` are cut.
inline std::vector<std::uint8_t> VolumeRecord(std::uint32_t unitMask, std::uint16_t flags = 0,
                                              std::uint32_t size = 20) {
    std::vector<std::uint8_t> full(20, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        full[i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
        full[12 + i] = static_cast<std::uint8_t>((unitMask >> (8 * i)) & 0xFFu);
    }
    full[4] = 2;  // DBT_DEVTYP_VOLUME
    full[16] = static_cast<std::uint8_t>(flags & 0xFFu);
    full[17] = static_cast<std::uint8_t>(flags >> 8);
    full.resize(size, 0);
    return full;
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
        ResetPanel();
    }

    void TearDown() override {
        ExpectEveryBoxStandard(window);
        SimTest::TearDown();
    }

    // A fresh start for the next row of a table.
    void Restart() {
        ExpectEveryBoxStandard(window);
        SimTest::SetUp();
        ResetPanel();
    }

    // Places the camera on `letter`, connects the panel and forgets what that took.
    void ConnectTo(char letter) {
        world.PlaceCamera(letter);
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

  private:
    void ResetPanel() {
        g_bConnected = 0;
        g_strStatus.clear();
        g_strArrivalDrive = L"0";
        g_hDevNotify = nullptr;
        window = FakeWindow{};
        journal = Journal{};
        journal.Attach(window, world, sim::TheSystem());
    }
};

}  // namespace zqtest
