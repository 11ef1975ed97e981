#include "tests/e2e/scenario_support.h"

#include <dbt.h>

#include <cstdint>
#include <cstdio>
#include <set>

#include "tests/support/clock_bytes.h"
#include "tests/support/controls.h"

namespace e2e {

namespace {

std::vector<int> ClockArgs(const zqtest::ClockArgs& args) {
    return {args.begin(), args.end()};
}

// The date and time commands for every second from `from` (its whole second) to `to` and `slack`
// seconds after.
std::set<std::vector<std::string>> ClockCommandsBetween(SYSTEMTIME from, SYSTEMTIME to, int slack) {
    constexpr std::uint64_t kSecond = 10000000;  // in FILETIME's 100 ns
    const auto ticks = [](const SYSTEMTIME& time) {
        FILETIME file;
        ::SystemTimeToFileTime(&time, &file);
        return (std::uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
    };
    std::set<std::vector<std::string>> commands;
    const std::uint64_t last = ticks(to) + static_cast<std::uint64_t>(slack) * kSecond;
    for (std::uint64_t at = ticks(from) / kSecond * kSecond; at <= last; at += kSecond) {
        const FILETIME file = {static_cast<DWORD>(at & 0xFFFFFFFFu), static_cast<DWORD>(at >> 32)};
        SYSTEMTIME t;
        ::FileTimeToSystemTime(&file, &t);
        const zqtest::LocalClock local = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
        commands.insert({Cdb(true, zqtest::kSetDateCode, ClockArgs(zqtest::ClockDateArgs(local))),
                         Cdb(true, zqtest::kSetTimeCode, ClockArgs(zqtest::ClockTimeArgs(local)))});
    }
    return commands;
}

}  // namespace

std::vector<StartUpCase> StartUpCases() {
    const std::string drives = kDrives;
    return {
        {"no camera", drives, kNotConnected, false, {-1, -1, -1}, {}, "D"},
        {"camera in state 1",
         drives + "camera E state=1 overwrite=1\n",
         kNotConnected,
         false,
         {-1, -1, -1},
         {"0E"},
         "DE"},
        {"camera in state 2",
         drives + "camera E state=2 overwrite=1 timestamp=0 resolution=1 firmware=V1.0,.2024,B7\n",
         L"Firmware Version:   V1.0.2024B7",
         true,
         {1, 0, 1},
         kConnectionCodes,
         "DE"},
        {"camera in state 3",
         drives + "camera E state=3 overwrite=0 timestamp=1 resolution=0 firmware=AB,CD,EFGHIJKL\n",
         L"Firmware Version:   ABCDEFGHIJKL",
         true,
         {0, 1, 0},
         kConnectionCodes,
         "DE"},
        {"firmware command 27 fails",
         drives + "camera E overwrite=1 timestamp=1\nfault 27 fails\n",
         L"Firware Version Error: 8",
         true,
         {1, 1, 0},
         {"0E", "1A", "1B failed", "02", "01", "0B"},
         "DE"},
        {"a setting outside the list and a setting read that fails",
         drives + "camera E overwrite=2 timestamp=1 resolution=1\nfault 11 fails\n",
         kDefaultFirmware,
         true,
         {-1, -1, 1},
         {"0E", "1A", "1B", "1C", "02", "01", "0B failed"},
         "DE"},
    };
}

void ExpectLook(const Panel& panel, const std::wstring& status, bool enabled,
                const std::vector<int>& selections) {
    EXPECT_EQ(panel.Text(kStatus), status);
    for (const int id : zqtest::kCommandControls) {
        EXPECT_EQ(panel.Enabled(id), enabled) << zqtest::ControlName(id);
    }
    EXPECT_EQ((std::vector<int>{panel.Selection(kOverwrite), panel.Selection(kTimestamp),
                                panel.Selection(kResolution)}),
              selections)
        << "selections of overwrite, time stamp, resolution";
}

std::vector<SettingChange> SettingChanges() {
    return {
        {kOverwrite, 1, L"Loop recording on.", Cdb(true, 0x02, {1})},
        {kOverwrite, 0, L"Loop recording off.", Cdb(true, 0x02, {0})},
        {kTimestamp, 1, L"Time stamp display turned on.", Cdb(true, 0x0B, {1})},
        {kTimestamp, 0, L"Time stamp display turned off.", Cdb(true, 0x0B, {0})},
        {kResolution, 1, L"Video resolution set to 720P.", Cdb(true, 0x01, {1})},
        {kResolution, 0, L"Video resolution set to 1080P.", Cdb(true, 0x01, {0})},
    };
}

std::vector<SettingChange> RefusedSettingChanges() {
    return {
        {kOverwrite, 1, L"Loop recording error.", Cdb(true, 0x02, {1}) + " failed"},
        {kTimestamp, 1, L"Time Stamp Display change error.", Cdb(true, 0x0B, {1}) + " failed"},
        {kResolution, 1, L"Video Relution change error.", Cdb(true, 0x01, {1}) + " failed"},
    };
}

void ExpectSettingChanges(const Panel& panel, const std::vector<SettingChange>& changes) {
    for (const SettingChange& change : changes) {
        SCOPED_TRACE(Narrow(change.message));
        const std::size_t mark = panel.trace().CallCount();
        panel.Choose(change.combo, change.index);
        EXPECT_EQ(panel.TakeMessageBox(), change.message);
        EXPECT_EQ(panel.trace().VendorCdbs(mark), std::vector<std::string>{change.cdb});
        EXPECT_EQ(panel.Selection(change.combo), change.index);
    }
}

std::vector<ClockRefusal> ClockRefusals() {
    return {{"fault 4 fails\n", {"04 failed"}}, {"fault 3 fails\n", {"04", "03 failed"}}};
}

std::vector<VolumeStep> VolumeSteps() {
    const std::string noCamera = kBareComputer;
    const std::string camera = noCamera + "camera E overwrite=1 timestamp=0 resolution=1\n";
    const std::string cameraAndStick = camera + "drive F removable\n";
    return {
        {"the camera arrives as E", camera, "E", DBT_DEVICEARRIVAL, 'E', 0, true, true},
        {"a memory stick arrives as F", cameraAndStick, "EF", DBT_DEVICEARRIVAL, 'F', 0, true,
         false},
        {"the stick F goes, the camera stays", camera, "E", DBT_DEVICEREMOVECOMPLETE, 'F', 0, true,
         true},
        {"E goes, though F arrived last", noCamera, "", DBT_DEVICEREMOVECOMPLETE, 'E', 0, false,
         true},
        {"a removal while disconnected", std::nullopt, "", DBT_DEVICEREMOVECOMPLETE, 'E', 0, false,
         false},
        {"a medium change on E", std::nullopt, "", DBT_DEVICEARRIVAL, 'E', DBTF_MEDIA, false,
         false},
        {"a network volume", std::nullopt, "", DBT_DEVICEARRIVAL, 'E', DBTF_NET, false, false},
        {"device nodes changed", std::nullopt, "", DBT_DEVNODES_CHANGED, 'E', 0, false, false},
        {"the camera arrives again", camera, "E", DBT_DEVICEARRIVAL, 'E', 0, true, true},
        {"the camera is unplugged", noCamera, "", DBT_DEVICEREMOVECOMPLETE, 'E', 0, false, true},
    };
}

std::vector<ReleaseCase> ReleaseCases() {
    const std::string computer =
        "drive C fixed\n"
        "drive G removable vendor=\"SANDISK \"\n"
        "camera E overwrite=1 timestamp=1 resolution=1 firmware=V2,,\n";
    std::vector<ReleaseCase> cases = {
        {"storage letter=F answers=keep\n", {}, true, true},
        {"storage letter=F answers=plaindisk\n", {}, true, false},
        {"storage letter=F vendor=none\n", {}, false, true},
    };
    for (ReleaseCase& c : cases) {
        c.world = computer + c.storage;
    }
    return cases;
}

::testing::AssertionResult SentAClockBetween(const std::vector<std::string>& sent, SYSTEMTIME from,
                                             SYSTEMTIME to, int slack) {
    const std::set<std::vector<std::string>> possible = ClockCommandsBetween(from, to, slack);
    if (possible.count(sent) == 1) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "sent " << ::testing::PrintToString(sent) << ", expected one of "
           << ::testing::PrintToString(possible);
}

void PrintTrace(const std::wstring& path) {
    std::printf("trace of the last run, %s:\n", Narrow(path).c_str());
    for (const std::string& line : Trace(path).Lines()) {
        std::printf("    %s\n", line.c_str());
    }
}

int RunScenarios(int argc, char** argv, const char* names,
                 std::initializer_list<std::wstring*> paths) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the scenarios (as ctest does when it starts) needs neither programs nor a folder.
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    if (argc != static_cast<int>(paths.size()) + 1) {
        std::fprintf(stderr, "usage: %s [gtest flags] %s\n", argv[0], names);
        return 2;
    }
    int at = 1;
    for (std::wstring* path : paths) {
        *path = WindowsPath(argv[at++]);
    }
    const int status = RUN_ALL_TESTS();
    if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        std::fprintf(stderr, "no scenario matched the filter\n");
        return 1;
    }
    return status;
}

}  // namespace e2e
