// End-to-end scenarios: the real Zelquin-sim.exe, each run with its own world file and trace
// file, driven from this process through public window messages (tests/e2e/panel_driver.h). The
// scenarios it shares with the real Zelquin.exe on the virtual camera are written once, in
// panel_scenarios.cpp; those here are the simulated program's own.
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
#include "tests/e2e/panel_scenarios.h"
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

class PanelScenario : public ::testing::Test, public e2e::PanelHarness {
  public:
    // The shared scenarios' view of the simulated program (tests/e2e/panel_scenarios.h).
    e2e::Program program() const override { return e2e::kSimulatedProgram; }
    e2e::Panel& StartPanel(const std::string& world) override { return Start(world); }
    void Plug(const std::string& world, const std::string& /*letters*/) override {
        panel_->EditWorld(world);
    }
    std::vector<std::string> Calls(std::size_t first) const override {
        return panel_->trace().Calls(first);
    }

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

// ---- plugging and unplugging ----

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
    e2e::RegisterSharedScenarios<PanelScenario>("PanelScenario");
    return e2e::RunScenarios(argc, argv, "ZELQUIN_SIM_EXE WORK_FOLDER", {&g_exe, &g_work});
}
