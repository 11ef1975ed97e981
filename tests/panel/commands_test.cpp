// The user commands: the connection guard, the setting changes and their confirmations, and the
// clock command, as the simulated camera and the window see them.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/device_records.h"
#include "link/camera.h"
#include "panel/control_ids.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "tests/support/clock_bytes.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/system_window.h"

namespace {

using zqtest::Hex;
using zqtest::Lines;

class CommandsTest : public zqtest::PanelTest {};

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// The local time of a row of the clock table (tests/support/clock_bytes.h).
std::tm LocalTime(const zqtest::LocalClock& t) {
    return LocalTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// The journal's lines of the date and the time command carrying a row's bytes.
std::string SetDateLine(const zqtest::ClockRow& row) {
    return "set " + std::to_string(zqtest::kSetDateCode) + " " + zqtest::ClockHex(row.date);
}
std::string SetTimeLine(const zqtest::ClockRow& row) {
    return "set " + std::to_string(zqtest::kSetTimeCode) + " " + zqtest::ClockHex(row.time);
}

// ---- the guard ----

struct Handler {
    const char* name;
    void (*run)(PanelWindow&);
};

const Handler kHandlers[] = {
    {"OnOverwriteChange", OnOverwriteChange},
    {"OnTimestampChange", OnTimestampChange},
    {"OnResolutionChange", OnResolutionChange},
    {"OnSyncTime", OnSyncTime},
    {"OnOpenFolder", OnOpenFolder},
};

TEST_F(CommandsTest, EveryCommandAnswersNotConnectedAndSendsNothingWhileDisconnected) {
    struct State {
        const char* name;
        std::function<void()> reach;
    };
    const State states[] = {
        {"never connected", [] {}},
        {"after a disconnect",
         [this] {
             ConnectCamera(window);
             DisconnectCamera(window);
         }},
        // After "Open File Folder" when the camera no longer answers: the controls stay
        // enabled, the flag is 0.
        {"released",
         [this] {
             camera().storageAnswers = sim::StorageAnswers::kPlainDisk;
             ConnectCamera(window);
             OnOpenFolder(window);
         }},
    };
    for (const State& state : states) {
        for (const Handler& h : kHandlers) {
            SCOPED_TRACE(std::string(state.name) + ", " + h.name);
            Restart();
            world.PlugCamera('E');
            window.localTime = LocalTime(zqtest::kClock.local);
            state.reach();
            ASSERT_EQ(g_bConnected, 0);
            const int releases = camera().releases;
            window.Pick(IDC_OVERWRITE, 1);
            window.Pick(IDC_TIMESTAMP, 1);
            window.Pick(IDC_RESOLUTION, 1);
            Forget();

            h.run(window);

            EXPECT_EQ(journal.lines, (Lines{"box Device not connected."}));
            EXPECT_TRUE(world.events().empty());
            EXPECT_EQ(camera().loopRecording, 0);
            EXPECT_EQ(camera().releases, releases);
            EXPECT_FALSE(camera().dateReceived);
            EXPECT_EQ(window.Selected(IDC_OVERWRITE), 1);
        }
    }
}

// ---- setting changes ----

TEST_F(CommandsTest, SettingChangeSendsThePickAndConfirmsTheOutcome) {
    struct Case {
        void (*handler)(PanelWindow&);
        int combo;
        int pick;
        bool fails;
        Lines lines;
        std::uint8_t stored;  // the camera's setting afterwards (it starts at 7)
    };
    const std::vector<Case> cases = {
        {OnOverwriteChange,
         IDC_OVERWRITE,
         1,
         false,
         {"getsel IDC_OVERWRITE", "set 2 01", "box Loop recording on."},
         1},
        {OnOverwriteChange,
         IDC_OVERWRITE,
         0,
         false,
         {"getsel IDC_OVERWRITE", "set 2 00", "box Loop recording off."},
         0},
        {OnOverwriteChange,
         IDC_OVERWRITE,
         -1,
         false,
         {"getsel IDC_OVERWRITE", "set 2 FF", "box Loop recording off."},
         0xFF},
        {OnOverwriteChange,
         IDC_OVERWRITE,
         1,
         true,
         {"getsel IDC_OVERWRITE", "set 2 01 failed", "box Loop recording error."},
         7},
        {OnOverwriteChange,
         IDC_OVERWRITE,
         0,
         true,
         {"getsel IDC_OVERWRITE", "set 2 00 failed", "box Loop recording error."},
         7},
        {OnTimestampChange,
         IDC_TIMESTAMP,
         0,
         false,
         {"getsel IDC_TIMESTAMP", "set 11 00", "box Time stamp display turned off."},
         0},
        {OnTimestampChange,
         IDC_TIMESTAMP,
         1,
         false,
         {"getsel IDC_TIMESTAMP", "set 11 01", "box Time stamp display turned on."},
         1},
        {OnTimestampChange,
         IDC_TIMESTAMP,
         -1,
         false,
         {"getsel IDC_TIMESTAMP", "set 11 FF", "box Time stamp display turned on."},
         0xFF},
        {OnTimestampChange,
         IDC_TIMESTAMP,
         1,
         true,
         {"getsel IDC_TIMESTAMP", "set 11 01 failed", "box Time Stamp Display change error."},
         7},
        {OnResolutionChange,
         IDC_RESOLUTION,
         0,
         false,
         {"getsel IDC_RESOLUTION", "set 1 00", "box Video resolution set to 1080P."},
         0},
        {OnResolutionChange,
         IDC_RESOLUTION,
         1,
         false,
         {"getsel IDC_RESOLUTION", "set 1 01", "box Video resolution set to 720P."},
         1},
        {OnResolutionChange,
         IDC_RESOLUTION,
         -1,
         false,
         {"getsel IDC_RESOLUTION", "set 1 FF", "box Video resolution set to 720P."},
         0xFF},
        {OnResolutionChange,
         IDC_RESOLUTION,
         0,
         true,
         {"getsel IDC_RESOLUTION", "set 1 00 failed", "box Video Relution change error."},
         7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.back());
        Restart();
        sim::Camera& cam = world.PlugCamera('E');
        cam.loopRecording = cam.timestampDisplay = cam.resolution = 7;
        ConnectTo('E');
        const std::uint8_t code = c.combo == IDC_OVERWRITE ? 2 : c.combo == IDC_TIMESTAMP ? 11 : 1;
        if (c.fails) {
            world.InjectVendorFault(code, sim::Fault::CallFails());
        }
        window.Pick(c.combo, c.pick);

        c.handler(window);

        EXPECT_EQ(journal.lines, c.lines);
        const std::uint8_t stored = c.combo == IDC_OVERWRITE   ? cam.loopRecording
                                    : c.combo == IDC_TIMESTAMP ? cam.timestampDisplay
                                                               : cam.resolution;
        EXPECT_EQ(stored, c.stored);
        // Neither read back nor restored: the combo goes on showing the user's pick.
        EXPECT_EQ(window.Selected(c.combo), c.pick);
        EXPECT_EQ(g_bConnected, 1);
    }
}

// ---- the clock ----

TEST_F(CommandsTest, SyncTimeSendsTheLocalDateThenTheTime) {
    ConnectTo('E');
    window.localTime = LocalTime(zqtest::kClock.local);

    OnSyncTime(window);

    EXPECT_EQ(journal.lines, (Lines{"localtime", SetDateLine(zqtest::kClock),
                                    SetTimeLine(zqtest::kClock), "box Time Sync Completed."}));
    EXPECT_EQ(Hex(camera().date), zqtest::ClockHex(zqtest::kClock.date));
    EXPECT_EQ(Hex(camera().time), zqtest::ClockHex(zqtest::kClock.time));
}

// Every row of the clock table, from the window's local time and from the system's clock.
TEST_F(CommandsTest, SyncTimeFillsTheRecordFromTheLocalTime) {
    for (const zqtest::ClockRow& row : zqtest::kClockRows) {
        SCOPED_TRACE(row.text);
        Restart();
        ConnectTo('E');
        window.localTime = LocalTime(row.local);

        OnSyncTime(window);

        EXPECT_EQ(journal.lines, (Lines{"localtime", SetDateLine(row), SetTimeLine(row),
                                        "box Time Sync Completed."}));
    }
}

TEST_F(CommandsTest, SyncTimeTakesTheYearFromTheSystemClock) {
    for (const zqtest::ClockRow& row : zqtest::kClockRows) {
        SCOPED_TRACE(row.text);
        Restart();
        SystemBackedWindow system;
        journal.Attach(system, world, sim::TheSystem());
        world.PlugCamera('E');
        ConnectCamera(system);
        ASSERT_EQ(g_bConnected, 1);
        sim::TheSystem().SetUtcOffset(3600);
        sim::TheSystem().SetDaylightSaving(true);
        const zqtest::LocalClock& t = row.local;
        sim::TheSystem().SetLocalTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
        Forget();

        OnSyncTime(system);

        EXPECT_EQ(journal.lines, (Lines{"localtime", SetDateLine(row), SetTimeLine(row),
                                        "box Time Sync Completed."}));
        ExpectEveryBoxStandard(system);
    }
}

TEST_F(CommandsTest, SyncTimeFailureSendsNoMoreAndSaysSo) {
    struct Case {
        const char* name;
        std::optional<std::uint8_t> failingCommand;
        bool localTimeFails;
        Lines lines;
        bool dateSet;
        bool timeSet;
    };
    const std::vector<Case> cases = {
        {"date command fails",
         zqtest::kSetDateCode,
         false,
         {"localtime", SetDateLine(zqtest::kClock) + " failed", "box Time Sync error."},
         false,
         false},
        {"time command fails",
         zqtest::kSetTimeCode,
         false,
         {"localtime", SetDateLine(zqtest::kClock), SetTimeLine(zqtest::kClock) + " failed",
          "box Time Sync error."},
         true,
         false},
        {"local time cannot be had",
         std::nullopt,
         true,
         {"localtime", "box Time Sync error."},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        ConnectTo('E');
        window.localTime = LocalTime(zqtest::kClock.local);
        window.localTimeFails = c.localTimeFails;
        if (c.failingCommand) {
            world.InjectVendorFault(*c.failingCommand, sim::Fault::CallFails());
        }

        OnSyncTime(window);

        EXPECT_EQ(journal.lines, c.lines);
        EXPECT_EQ(camera().dateReceived, c.dateSet);
        EXPECT_EQ(camera().timeReceived, c.timeSet);
        EXPECT_EQ(g_bConnected, 1);
    }
}

TEST_F(CommandsTest, SyncTimeWithTheSystemClockOutOfRangeSendsNothing) {
    SystemBackedWindow system;
    journal.Attach(system, world, sim::TheSystem());
    world.PlugCamera('E');
    ConnectCamera(system);
    ASSERT_EQ(g_bConnected, 1);
    sim::TheSystem().SetTime(-1);  // before 1970: the conversion refuses it
    Forget();

    OnSyncTime(system);

    EXPECT_EQ(journal.lines, (Lines{"localtime", "box Time Sync error."}));
    EXPECT_FALSE(camera().dateReceived);
    ExpectEveryBoxStandard(system);
}

// ---- boxes are the last step ----

TEST_F(CommandsTest, SecondCommandWhileABoxIsOpenRunsInFullAndShowsItsOwnBox) {
    ConnectTo('E');
    window.Pick(IDC_OVERWRITE, 1);
    window.whileBoxOpen = [this] {
        window.Pick(IDC_RESOLUTION, 1);
        OnResolutionChange(window);
    };

    OnOverwriteChange(window);

    EXPECT_EQ(journal.lines,
              (Lines{"getsel IDC_OVERWRITE", "set 2 01", "box Loop recording on.",
                     "getsel IDC_RESOLUTION", "set 1 01", "box Video resolution set to 720P."}));
    EXPECT_EQ(camera().loopRecording, 1);
    EXPECT_EQ(camera().resolution, 1);
}

TEST_F(CommandsTest, CameraRemovedWhileABoxIsOpenLeavesNothingForTheWaitingHandler) {
    ConnectTo('E');
    g_strArrivalDrive = L"E";
    window.localTime = LocalTime(zqtest::kClock.local);
    // The camera's volume goes away while "Time Sync Completed." waits to be closed.
    window.whileBoxOpen = [this] {
        world.RemoveDrive('E');
        const auto removal = zqtest::VolumeRecord(zqtest::DriveBit('E'));
        EXPECT_EQ(OnDeviceChange(window, os::dbt::kDeviceRemoveComplete, removal.data()), 1);
    };

    OnSyncTime(window);

    EXPECT_EQ(journal.lines,
              zqtest::Concat({{"localtime", SetDateLine(zqtest::kClock),
                               SetTimeLine(zqtest::kClock), "box Time Sync Completed."},
                              zqtest::DisconnectionLines('E')}));
    EXPECT_EQ(g_bConnected, 0);
    EXPECT_EQ(world.OpenHandleCount(), 0u);
}

TEST_F(CommandsTest, CommandInsideABoxAfterTheCameraWentAnswersNotConnected) {
    ConnectTo('E');
    g_strArrivalDrive = L"E";
    window.Pick(IDC_TIMESTAMP, 1);
    window.whileBoxOpen = [this] {
        world.RemoveDrive('E');
        const auto removal = zqtest::VolumeRecord(zqtest::DriveBit('E'));
        OnDeviceChange(window, os::dbt::kDeviceRemoveComplete, removal.data());
        window.Pick(IDC_OVERWRITE, 1);
        OnOverwriteChange(window);
    };

    OnTimestampChange(window);

    EXPECT_EQ(
        journal.lines,
        zqtest::Concat({{"getsel IDC_TIMESTAMP", "set 11 01", "box Time stamp display turned on."},
                        zqtest::DisconnectionLines('E'),
                        {"box Device not connected."}}));
    EXPECT_EQ(window.Selected(IDC_OVERWRITE), 1);
}

}  // namespace
