// End-to-end scenarios: the real Zelquin-sim.exe, each run with its own world file and trace
// file, driven from this process through public window messages (tests/e2e/panel_driver.h).
//
//     e2e_tests.exe [gtest flags] PATH/Zelquin-sim.exe WORK_FOLDER
//     e2e_tests.exe --gtest_list_tests
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/panel_driver.h"
#include "tests/e2e/scenario_support.h"
#include "tests/support/controls.h"
#include "tests/support/wire.h"

namespace {

using e2e::Cdb;
using e2e::Codes;
using e2e::ExpectLook;
using e2e::kConnectionCodes;
using e2e::kDefaultFirmware;
using e2e::kDrives;
using e2e::kNotConnected;
using e2e::kOpenFolder;
using e2e::kOverwrite;
using e2e::kPcTime;
using e2e::kResolution;
using e2e::kStatus;
using e2e::kStatusRight;
using e2e::kSyncTime;
using e2e::kTimestamp;

std::wstring g_exe;
std::wstring g_work;

using zqtest::ControlName;

// The pass-through heads the program sends as the trace shows them: a vendor command (CDB
// length 16, 8 bytes in) and the INQUIRY (CDB length 6, 36 bytes in) with its block.
const std::string kVendorHead = std::string("head=") + zqtest::kVendorHead + " ";
const std::string kInquiryHead =
    std::string("head=") + zqtest::kInquiryHead + " cdb=" + zqtest::kInquiryCdb + " -> ";

class PanelScenario : public ::testing::Test {
  protected:
    // Starts the program on `world`, with its files in a folder of this test's own.
    e2e::Panel& Start(const std::string& world) {
        panel_.reset();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::wstring folder = g_work + L"\\" + e2e::Widen(info->test_suite_name()) + L"." +
                                    e2e::Widen(info->name()) + L"." + std::to_wstring(++runs_);
        ::CreateDirectoryW(g_work.c_str(), nullptr);
        ::CreateDirectoryW(folder.c_str(), nullptr);
        startedAt_ = e2e::LocalClockText();
        panel_ = std::make_unique<e2e::Panel>(
            e2e::RunFiles{g_exe, folder + L"\\world.txt", folder + L"\\trace.txt"}, world);
        return *panel_;
    }

    void TearDown() override {
        if (HasFailure() && panel_) {
            e2e::PrintTrace(panel_->trace().path());
        }
        panel_.reset();
    }

    std::unique_ptr<e2e::Panel> panel_;
    std::string startedAt_;
    int runs_ = 0;
};

// ---- start-up ----

TEST_F(PanelScenario, WithoutACameraTheWindowKeepsItsTemplateAndTheClockRuns) {
    e2e::Panel& panel = Start(kDrives);
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    struct Fixed {
        int id;
        const wchar_t* text;
    };
    for (const Fixed& fixed : {Fixed{kSyncTime, L"Sync with PC Time"},
                               Fixed{kOpenFolder, L"Open File Folder"}, Fixed{kStatusRight, L""}}) {
        EXPECT_EQ(panel.Text(fixed.id), fixed.text) << ControlName(fixed.id);
    }
    wchar_t caption[64] = {};
    ::GetWindowTextW(panel.window(), caption, 64);
    EXPECT_STREQ(caption, e2e::kPanelCaption);

    // Exactly two items each, in sorted order.
    const std::vector<std::wstring> offOn = {L"OFF", L"ON"};
    EXPECT_EQ(panel.Items(kOverwrite), offOn);
    EXPECT_EQ(panel.Items(kTimestamp), offOn);
    EXPECT_EQ(panel.Items(kResolution), (std::vector<std::wstring>{L"1080P 30FPS", L"720P 30FPS"}));

    // Discovery asked D to Z in order and sent the one INQUIRY to the disk on D; no vendor command.
    std::vector<std::string> opened;
    for (const std::string& call : panel.trace().Calls()) {
        if (call.rfind("CreateFileW ", 0) == 0) {
            opened.push_back(call.substr(17, 2));
        }
    }
    std::vector<std::string> dToZ;
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        dToZ.push_back(std::string{letter, ':'});
    }
    EXPECT_EQ(opened, dToZ);
    panel.trace().WaitForCall(std::string("DeviceIoControl D: ") + "handle");
    EXPECT_EQ(panel.trace().VendorCdbs(), std::vector<std::string>{});

    // The clock: a local time taken after the start, in its 19-character form, then moving on.
    std::string first;
    ASSERT_TRUE(e2e::WaitFor([&] {
        first = e2e::Narrow(panel.Text(kPcTime));
        return !first.empty();
    }));
    EXPECT_TRUE(e2e::LooksLikeClock(first)) << first;
    EXPECT_GE(first, startedAt_);
    EXPECT_LE(first, e2e::LocalClockText());
    std::string next;
    ASSERT_TRUE(e2e::WaitFor([&] {
        next = e2e::Narrow(panel.Text(kPcTime));
        return next != first;
    })) << "the clock stood still at "
        << first;
    EXPECT_TRUE(e2e::LooksLikeClock(next)) << next;
    EXPECT_GT(next, first);

    // A timer message with an id of its own refreshes the clock as well.
    const HWND clock = panel.Control(kPcTime);
    ::SendMessageW(clock, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"-"));
    ::PostMessageW(panel.window(), WM_TIMER, 77, 0);
    ASSERT_TRUE(
        e2e::WaitFor([&] { return e2e::LooksLikeClock(e2e::Narrow(panel.Text(kPcTime))); }));

    // Each command reached while not connected answers so, in a plain box, and sends nothing.
    struct Command {
        int id;
        int code;
    };
    for (const Command command :
         {Command{kSyncTime, BN_CLICKED}, Command{kOpenFolder, BN_CLICKED},
          Command{kOverwrite, CBN_SELCHANGE}, Command{kTimestamp, CBN_SELCHANGE},
          Command{kResolution, CBN_SELCHANGE}}) {
        const std::size_t mark = panel.trace().CallCount();
        ::PostMessageW(panel.window(), WM_COMMAND, MAKEWPARAM(command.id, command.code),
                       reinterpret_cast<LPARAM>(panel.Control(command.id)));
        const e2e::Panel::Box box = panel.TakeBox();
        EXPECT_EQ(box.text, kNotConnected) << ControlName(command.id);
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK}) << "one OK button";
        EXPECT_FALSE(box.icon);
        EXPECT_EQ(panel.trace().CallCount(), mark) << ControlName(command.id);
    }
}

TEST_F(PanelScenario, StartUpConnectsWhenTheCameraIsReady) {
    for (const e2e::StartUpCase& c : e2e::StartUpCases()) {
        SCOPED_TRACE(c.what);
        e2e::Panel& panel = Start(c.world);
        ExpectLook(panel, c.status, c.connected, c.selections);
        EXPECT_EQ(Codes(panel.trace().VendorCdbs()), c.codes);
        if (c.connected) {
            const std::vector<std::wstring> shown = {panel.SelectedItem(kOverwrite),
                                                     panel.SelectedItem(kTimestamp),
                                                     panel.SelectedItem(kResolution)};
            std::vector<std::wstring> expected;
            const wchar_t* names[3][2] = {
                {L"OFF", L"ON"}, {L"OFF", L"ON"}, {L"1080P 30FPS", L"720P 30FPS"}};
            for (std::size_t i = 0; i < 3; ++i) {
                const int index = c.selections[i];
                expected.push_back(index < 0 ? L"" : names[i][index]);
            }
            EXPECT_EQ(shown, expected);
        }
    }
}

TEST_F(PanelScenario, TheConnectionSendsTheRequestsOnTheWire) {
    e2e::Panel& panel = Start(std::string(kDrives) + "camera E\ndrive F removable\n");
    const std::vector<std::string> calls = panel.trace().Calls();

    // E is opened for reading and writing, shared, and asked the INQUIRY; F never is.
    std::vector<std::string> wanted = {
        "CreateFileW \"\\\\.\\E:\" access=C0000000 share=00000003 disposition=3 flags=00000000",
        std::string("IOCTL_SCSI_PASS_THROUGH ") + zqtest::kPassThroughIn + " out=116 " +
            kInquiryHead + "ok",
    };
    for (const std::string& want : wanted) {
        bool found = false;
        for (const std::string& call : calls) {
            found = found || call.find(want) != std::string::npos;
        }
        EXPECT_TRUE(found) << want;
    }
    for (const std::string& call : calls) {
        EXPECT_EQ(call.find("F:"), std::string::npos) << call;
        if (call.find(" cdb=FA ") != std::string::npos) {
            EXPECT_NE(call.find(zqtest::kPassThroughIn + std::string(" out=88 ") + kVendorHead),
                      std::string::npos)
                << call;
        }
    }
    EXPECT_EQ(panel.trace().VendorCdbs(),
              (std::vector<std::string>{Cdb(false, 0x0E), Cdb(false, 0x1A), Cdb(false, 0x1B),
                                        Cdb(false, 0x1C), Cdb(false, 0x02), Cdb(false, 0x01),
                                        Cdb(false, 0x0B)}));
}

// ---- the user's commands ----

TEST_F(PanelScenario, EachSettingChangeSendsItsValueAndConfirmsIt) {
    const std::string camera =
        std::string(kDrives) + "camera E overwrite=0 timestamp=0 resolution=0\n";
    e2e::Panel& panel = Start(camera);
    e2e::ExpectSettingChanges(panel, e2e::SettingChanges());

    // A box has no owner: while one is open the panel takes the next change, which shows its
    // own box, and the clock goes on.
    const auto boxTexts = [&panel] {
        std::vector<std::wstring> texts;
        for (HWND box : panel.MessageBoxes()) {
            texts.push_back(panel.WindowText(::GetDlgItem(box, e2e::kBoxTextId)));
        }
        std::sort(texts.begin(), texts.end());
        return texts;
    };
    panel.Choose(kOverwrite, 1);
    ASSERT_TRUE(e2e::WaitFor([&] { return boxTexts().size() == 1; }));
    panel.Choose(kTimestamp, 1);
    ASSERT_TRUE(e2e::WaitFor([&] { return boxTexts().size() == 2; }));
    EXPECT_EQ(boxTexts(),
              (std::vector<std::wstring>{L"Loop recording on.", L"Time stamp display turned on."}));
    const std::wstring clockWithBoxes = panel.Text(kPcTime);
    EXPECT_TRUE(e2e::WaitFor([&] { return panel.Text(kPcTime) != clockWithBoxes; }))
        << "the clock stood still while the boxes were open";
    // The nested box first, then the one whose handler it interrupted.
    panel.TakeMessageBox(L"Time stamp display turned on.");
    panel.TakeMessageBox(L"Loop recording on.");
    EXPECT_TRUE(panel.MessageBoxes().empty());

    // The camera refuses every setting from now on: the error texts, and the picks stay.
    panel.EditWorld(camera + e2e::kSettingsFail);
    e2e::ExpectSettingChanges(panel, e2e::RefusedSettingChanges());
}

TEST_F(PanelScenario, SyncWithPcTimeSendsTheDateThenTheTime) {
    const std::string camera = std::string(kDrives) + "camera E\n";
    e2e::Panel& panel = Start(camera);

    std::size_t mark = panel.trace().CallCount();
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    panel.Click(kSyncTime);
    EXPECT_EQ(panel.TakeMessageBox(), L"Time Sync Completed.");
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    EXPECT_TRUE(e2e::SentAClockBetween(panel.trace().VendorCdbs(mark), before, after));

    for (const e2e::ClockRefusal& refusal : e2e::ClockRefusals()) {
        SCOPED_TRACE(refusal.fault);
        panel.EditWorld(camera + refusal.fault);
        mark = panel.trace().CallCount();
        panel.Click(kSyncTime);
        EXPECT_EQ(panel.TakeMessageBox(), L"Time Sync error.");
        EXPECT_EQ(Codes(panel.trace().VendorCdbs(mark)), refusal.codes);
    }
}

TEST_F(PanelScenario, OpenFileFolderReleasesTheCameraOpensItsVolumeAndReconnects) {
    const std::string shellOpen =
        "ShellExecuteW operation=null file=\"explorer\" parameters=\"F:\\\" directory=null show=5";
    for (const e2e::ReleaseCase& c : e2e::ReleaseCases()) {
        SCOPED_TRACE(c.storage);
        e2e::Panel& panel = Start(c.world);
        const std::size_t mark = panel.trace().CallCount();
        panel.Click(kOpenFolder);
        panel.Settle();
        EXPECT_TRUE(panel.MessageBoxes().empty());

        const std::vector<std::string> calls = panel.trace().Calls(mark);
        std::vector<std::string> cdbs = panel.trace().VendorCdbs(mark);
        ASSERT_FALSE(cdbs.empty());
        EXPECT_EQ(cdbs.front(), Cdb(false, 0x0F));
        cdbs.erase(cdbs.begin());
        EXPECT_EQ(Codes(cdbs), c.reconnects ? kConnectionCodes : std::vector<std::string>{});

        // The release, the camera's handle closed, the removable volumes asked (not C), the
        // folder opened, and only then the new discovery.
        std::size_t release = calls.size();
        std::size_t shell = calls.size();
        std::size_t nextOpen = calls.size();
        std::vector<std::string> queried;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const std::string& call = calls[i];
            if (release == calls.size() && call.find(" cdb=FA ") != std::string::npos) {
                release = i;
            }
            if (call.find("IOCTL_STORAGE_QUERY_PROPERTY") != std::string::npos) {
                queried.push_back(call.substr(16, 2));
            }
            if (call == shellOpen) {
                shell = i;
            }
            if (shell < i && nextOpen == calls.size() && call.rfind("CreateFileW", 0) == 0) {
                nextOpen = i;
            }
        }
        ASSERT_LT(release + 1, calls.size());
        EXPECT_EQ(calls[release + 1].rfind("CloseHandle E: ", 0), 0u) << calls[release + 1];
        EXPECT_EQ(queried, (std::vector<std::string>{"F:", "G:"}));
        EXPECT_EQ(shell != calls.size(), c.opensFolder);
        if (c.opensFolder) {
            EXPECT_LT(shell, nextOpen) << "the folder opens before the reconnection";
        }

        // Reconnected or released, the controls stay enabled with the values shown.
        ExpectLook(panel, L"Firmware Version:   V2", true, {1, 1, 1});

        if (!c.reconnects) {
            // Released: every command now answers that nothing is connected; the pick stays.
            const std::size_t before = panel.trace().CallCount();
            panel.Choose(kOverwrite, 0);
            EXPECT_EQ(panel.TakeMessageBox(), kNotConnected);
            EXPECT_EQ(panel.Selection(kOverwrite), 0);
            EXPECT_EQ(panel.trace().CallCount(), before);
        }
    }
}

// ---- plugging and unplugging ----

TEST_F(PanelScenario, FollowsTheCameraThroughVolumeArrivalAndRemoval) {
    e2e::Panel& panel = Start(e2e::kBareComputer);
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    for (const e2e::VolumeStep& step : e2e::VolumeSteps()) {
        SCOPED_TRACE(step.what);
        if (step.world) {
            panel.EditWorld(*step.world);
        }
        const std::size_t mark = panel.trace().CallCount();
        EXPECT_EQ(panel.DeviceChange(step.event, step.letter, step.flags), TRUE);
        EXPECT_EQ(panel.trace().CallCount() > mark, step.asksDevices);
        if (step.connected) {
            ExpectLook(panel, kDefaultFirmware, true, {1, 0, 1});
        } else {
            ExpectLook(panel, kNotConnected, false, {-1, -1, -1});
        }
        EXPECT_TRUE(panel.MessageBoxes().empty());
    }
}

TEST_F(PanelScenario, ARemovalBeforeAnyArrivalLooksForTheCameraAfresh) {
    const std::string camera = "drive C fixed\ncamera E overwrite=0\n";
    e2e::Panel& panel = Start(camera);
    panel.Choose(kOverwrite, 1);
    EXPECT_EQ(panel.TakeMessageBox(), L"Loop recording on.");

    // An unrelated stick goes: disconnect and connect again, the camera's values read afresh
    // (loop recording as the program set it: the simulated camera keeps it across the reload).
    panel.EditWorld(camera + "drive G removable\n");
    std::size_t mark = panel.trace().CallCount();
    EXPECT_EQ(panel.DeviceChange(DBT_DEVICEREMOVECOMPLETE, 'G'), TRUE);
    EXPECT_EQ(Codes(panel.trace().VendorCdbs(mark)), kConnectionCodes);
    ExpectLook(panel, kDefaultFirmware, true, {1, 0, 0});

    // The camera itself goes: the new search finds nothing.
    panel.EditWorld("drive C fixed\ndrive G removable\n");
    mark = panel.trace().CallCount();
    EXPECT_EQ(panel.DeviceChange(DBT_DEVICEREMOVECOMPLETE, 'E'), TRUE);
    EXPECT_EQ(panel.trace().VendorCdbs(mark), std::vector<std::string>{});
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});
}

TEST_F(PanelScenario, WithNotifyEditingTheWorldFilePlugsAndUnplugsTheCamera) {
    // No event is sent from here: the simulated program tells its window itself.
    const std::string computer = "drive C fixed\nnotify\n";
    const std::string camera = computer + "camera E overwrite=1\nstorage letter=F\n";
    e2e::Panel& panel = Start(computer);
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    panel.EditWorld(camera);
    ASSERT_TRUE(e2e::WaitFor([&] { return panel.Text(kStatus) == kDefaultFirmware; }));
    ExpectLook(panel, kDefaultFirmware, true, {1, 0, 0});

    // The release moves the camera from E to F: E goes (the panel's arrival drive, so it
    // disconnects) and F arrives (it connects again).
    panel.Click(kOpenFolder);
    panel.trace().WaitForCall("ShellExecuteW");
    ASSERT_TRUE(e2e::WaitFor([&] {
        const std::vector<std::string> events = panel.trace().Notifications();
        return std::find(events.begin(), events.end(), "DBT_DEVICEARRIVAL F:") != events.end();
    }));
    panel.Settle();
    ExpectLook(panel, kDefaultFirmware, true, {1, 0, 0});

    panel.EditWorld(computer);
    ASSERT_TRUE(e2e::WaitFor([&] { return panel.Text(kStatus) == kNotConnected; }));
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    EXPECT_EQ(panel.trace().Notifications(),
              (std::vector<std::string>{"DBT_DEVICEARRIVAL E:", "DBT_DEVICEREMOVECOMPLETE E:",
                                        "DBT_DEVICEARRIVAL F:", "DBT_DEVICEREMOVECOMPLETE F:"}));
}

TEST_F(PanelScenario, AWorldFileWithErrorsIsReportedAndAFixedOneTaken) {
    e2e::Panel& panel = Start("drive C fixed\ncamera E state=x\n");
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});
    const std::vector<std::string> lines = panel.trace().Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("# world file ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("not taken"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "#   line 2: state must be a number from 0 to 255, not \"x\"");

    panel.EditWorld("drive C fixed\ncamera E state=2\n");
    EXPECT_EQ(panel.DeviceChange(DBT_DEVICEARRIVAL, 'E'), TRUE);
    EXPECT_EQ(panel.Text(kStatus), kDefaultFirmware);
}

// ---- keys and closing ----

TEST_F(PanelScenario, EnterAndEscapeLeaveThePanelOpenAndPressNothing) {
    e2e::Panel& panel = Start(std::string(kDrives) + "camera E\n");
    struct Target {
        const char* what;
        HWND window;
    };
    std::vector<Target> targets = {
        {"the Sync with PC Time button", panel.Control(kSyncTime)},
        {"the Open File Folder button", panel.Control(kOpenFolder)},
        {"the overwrite combo's edit field", panel.ComboEdit(kOverwrite)},
        {"the time stamp combo's edit field", panel.ComboEdit(kTimestamp)},
        {"the resolution combo's edit field", panel.ComboEdit(kResolution)},
        {"the window itself", panel.window()},
    };
    if (HWND focused = panel.FocusedWindow()) {
        targets.insert(targets.begin(), {"the control with the focus", focused});
    } else {
        std::printf("no window of the panel has the keyboard focus on this display\n");
    }
    for (const Target& target : targets) {
        for (const UINT key : {VK_RETURN, VK_ESCAPE}) {
            SCOPED_TRACE(std::string(target.what) + (key == VK_RETURN ? ", Enter" : ", Escape"));
            const std::size_t mark = panel.trace().CallCount();
            panel.PostKey(target.window, key);
            panel.Settle();
            EXPECT_TRUE(::IsWindowVisible(panel.window()));
            EXPECT_TRUE(panel.Running());
            EXPECT_TRUE(panel.MessageBoxes().empty());
            EXPECT_EQ(panel.trace().CallCount(), mark);
        }
    }
    EXPECT_EQ(panel.Text(kStatus), kDefaultFirmware);
}

TEST_F(PanelScenario, MaximisingLeavesEveryControlWhereItWas) {
    e2e::Panel& panel = Start(std::string(kDrives) + "camera E\n");
    const int ids[] = {kSyncTime,  kOpenFolder, kStatus,     kStatusRight,
                       kOverwrite, kTimestamp,  kResolution, kPcTime};
    // Each control's rectangle in the panel's client area.
    const auto layout = [&] {
        std::vector<std::vector<LONG>> rects;
        for (const int id : ids) {
            RECT rect;
            ::GetWindowRect(panel.Control(id), &rect);
            ::MapWindowPoints(nullptr, panel.window(), reinterpret_cast<POINT*>(&rect), 2);
            rects.push_back({rect.left, rect.top, rect.right, rect.bottom});
        }
        return rects;
    };
    const auto before = layout();
    RECT small;
    ::GetClientRect(panel.window(), &small);

    ::PostMessageW(panel.window(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ASSERT_TRUE(e2e::WaitFor([&] { return ::IsZoomed(panel.window()) != FALSE; }));
    panel.Settle();
    RECT large;
    ::GetClientRect(panel.window(), &large);
    EXPECT_GT(large.right * large.bottom, small.right * small.bottom);
    EXPECT_EQ(layout(), before);
}

TEST_F(PanelScenario, TwoCopiesRunSideBySideEachWithItsCamera) {
    e2e::Panel& first = Start(std::string(kDrives) + "camera E firmware=FIRST,,\n");
    const std::wstring folder = g_work + L"\\PanelScenario.TwoCopies.second";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    e2e::Panel second(e2e::RunFiles{g_exe, folder + L"\\world.txt", folder + L"\\trace.txt"},
                      std::string(kDrives) + "camera G firmware=SECOND,,\n");
    EXPECT_NE(first.window(), second.window());
    EXPECT_EQ(first.Text(kStatus), L"Firmware Version:   FIRST");
    EXPECT_EQ(second.Text(kStatus), L"Firmware Version:   SECOND");
}

TEST_F(PanelScenario, ClosingTheWindowEndsTheProgram) {
    // WM_CLOSE, and the system menu's Close (also what Alt+F4 and the caption's button send).
    struct Way {
        const char* what;
        UINT message;
        WPARAM wParam;
    };
    for (const Way way : {Way{"WM_CLOSE", WM_CLOSE, 0}, Way{"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE}}) {
        SCOPED_TRACE(way.what);
        e2e::Panel& panel = Start(std::string(kDrives) + "camera E\n");
        const HWND window = panel.window();
        ::PostMessageW(window, way.message, way.wParam, 0);
        EXPECT_TRUE(panel.WaitForExit());
        EXPECT_FALSE(::IsWindow(window));
    }
}

// Closed while a confirmation box is open: the panel leaves the screen at once, the box stays
// until it is answered, and then the program ends.
TEST_F(PanelScenario, ClosingWithABoxOpenHidesThePanelAndEndsWhenTheBoxIsClosed) {
    e2e::Panel& panel = Start(std::string(kDrives) + "camera E\n");
    const HWND window = panel.window();
    panel.Click(kSyncTime);
    ASSERT_TRUE(e2e::WaitFor([&] { return panel.MessageBoxes().size() == 1; }));

    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);

    EXPECT_TRUE(e2e::WaitFor([&] { return !::IsWindowVisible(window); }))
        << "the panel stayed on the screen after Close";
    EXPECT_TRUE(panel.Running());
    EXPECT_EQ(panel.MessageBoxes().size(), 1u);
    EXPECT_EQ(panel.TakeMessageBox(), L"Time Sync Completed.");
    EXPECT_TRUE(panel.WaitForExit());
    EXPECT_FALSE(::IsWindow(window));
}

}  // namespace

int main(int argc, char** argv) {
    return e2e::RunScenarios(argc, argv, "ZELQUIN_SIM_EXE WORK_FOLDER", {&g_exe, &g_work});
}
