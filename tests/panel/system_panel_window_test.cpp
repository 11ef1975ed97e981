// The window operations the control panel window carries out through the operating-system seam
// (pauses, local time, the file manager), alone and inside the connection and "Open File Folder".
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "panel/panel.h"
#include "panel/panel_window.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/system_window.h"

namespace {

using zqtest::Lines;

class SystemPanelWindowTest : public zqtest::PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        journal.Attach(system, world, sim::TheSystem());
    }

    void TearDown() override {
        ExpectEveryBoxStandard(system);
        PanelTest::TearDown();
    }

    SystemBackedWindow system;
};

TEST_F(SystemPanelWindowTest, PauseSleepsForTheGivenTime) {
    system.Pause(200);

    EXPECT_EQ(sim::TheSystem().sleeps(), (std::vector<std::uint32_t>{200}));
    EXPECT_EQ(sim::TheSystem().NowMs(), 200);
}

TEST_F(SystemPanelWindowTest, OpenFolderStartsTheFileManagerOnThePath) {
    system.OpenFolder(L"E:\\");

    const auto calls = world.Calls(sim::Call::kShellExecute);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].operation.has_value());
    EXPECT_EQ(calls[0].file, L"explorer");
    EXPECT_EQ(calls[0].parameters, L"E:\\");
    EXPECT_FALSE(calls[0].directory.has_value());
    EXPECT_EQ(calls[0].showCommand, 5);  // SW_SHOW
}

TEST_F(SystemPanelWindowTest, LocalTimeIsTheClockInLocalTimeWithDaylightSaving) {
    sim::TheSystem().SetUtcOffset(-5 * 3600);
    sim::TheSystem().SetDaylightSaving(true);
    sim::TheSystem().SetLocalTime(2025, 3, 7, 14, 5, 9);
    std::tm now{};

    ASSERT_TRUE(system.GetLocalTime(now));

    EXPECT_EQ(now.tm_year, 125);
    EXPECT_EQ(now.tm_mon, 2);
    EXPECT_EQ(now.tm_mday, 7);
    EXPECT_EQ(now.tm_hour, 14);
    EXPECT_EQ(now.tm_min, 5);
    EXPECT_EQ(now.tm_sec, 9);
}

TEST_F(SystemPanelWindowTest, LocalTimeFailsWhenTheConversionDoes) {
    sim::TheSystem().SetLocalTime(2025, 3, 7, 14, 5, 9);
    sim::TheSystem().FailLocalTime(true);
    std::tm now{};

    EXPECT_FALSE(system.GetLocalTime(now));
}

TEST_F(SystemPanelWindowTest, ConnectionSleepsBeforeEachSettingRead) {
    world.PlugCamera('E').resolution = 1;

    ConnectCamera(system);

    // clang-format off
    const Lines expected = {
        "create E", "inquiry E",
        "get 14",
        "get 26", "get 27", "get 28",
        "status Firmware Version:   V1.1.0720240101",
        "pause 200", "sleep 200", "get 2", "select IDC_OVERWRITE 0",
        "pause 200", "sleep 200", "get 1", "select IDC_RESOLUTION 1",
        "pause 200", "sleep 200", "get 11", "select IDC_TIMESTAMP 0",
        "enable IDC_SYNC_TIME 1", "enable IDC_OPEN_FOLDER 1",
        "enable IDC_OVERWRITE 1", "enable IDC_RESOLUTION 1", "enable IDC_TIMESTAMP 1",
    };
    // clang-format on
    EXPECT_EQ(journal.lines, expected);
    EXPECT_EQ(g_bConnected, 1);
}

TEST_F(SystemPanelWindowTest, OpenFolderHandsTheVolumeToTheFileManager) {
    world.PlugCamera('E');
    ConnectCamera(system);
    ASSERT_EQ(g_bConnected, 1);
    journal.Clear();

    OnOpenFolder(system);

    ASSERT_GE(journal.lines.size(), 8u);
    EXPECT_EQ(Lines(journal.lines.begin(), journal.lines.begin() + 8),
              (Lines{"get 15", "close E", "create E", "query E", "close E", "open E:\\",
                     "shell explorer E:\\", "create E"}));
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_TRUE(system.boxes.empty());
}

}  // namespace
