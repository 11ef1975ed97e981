// The control panel's scenarios shared by the simulated program and the real one on the virtual
// camera (panel_scenarios.h). A step that runs on one of them only says so with OnlyOn, and why.
#include "tests/e2e/panel_scenarios.h"

#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/scenario_support.h"

namespace e2e {

namespace {

std::vector<SharedScenario>& Registry() {
    static std::vector<SharedScenario> scenarios;
    return scenarios;
}

struct Registered {
    Registered(const char* name, int line, void (*run)(PanelHarness&)) {
        Registry().push_back({name, line, run});
    }
};

// Defines a shared scenario's body, `harness` its program, and adds it to the list.
#define ZQ_SHARED_SCENARIO(Name)                                   \
    void Name(PanelHarness& harness);                              \
    const Registered registered##Name(#Name, __LINE__ + 1, &Name); \
    void Name(PanelHarness& harness)

// ---- start-up ----

ZQ_SHARED_SCENARIO(StartUpConnectsWhenTheCameraIsReady) {
    for (const StartUpCase& c : StartUpCases()) {
        SCOPED_TRACE(c.what);
        Panel& panel = harness.StartPanel(c.world);
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
        if (harness.OnlyOn(kVirtualCamera)) {
            // Only the letters the driver presents reach it, and the panel opens each of them (the
            // simulated program's trace shows every letter it tries, D to Z).
            EXPECT_EQ(OpenedLetters(panel.trace().Calls()), c.letters);
        }
    }
}

// ---- the user's commands ----

ZQ_SHARED_SCENARIO(EachSettingChangeSendsItsValueAndConfirmsIt) {
    const std::string camera =
        std::string(kDrives) + "camera E overwrite=0 timestamp=0 resolution=0\n";
    Panel& panel = harness.StartPanel(camera);
    ExpectSettingChanges(panel, SettingChanges());

    // A box has no owner: while one is open the panel takes the next change, which shows its
    // own box, and the clock goes on.
    const auto boxTexts = [&panel] {
        std::vector<std::wstring> texts;
        for (HWND box : panel.MessageBoxes()) {
            texts.push_back(panel.WindowText(::GetDlgItem(box, kBoxTextId)));
        }
        std::sort(texts.begin(), texts.end());
        return texts;
    };
    panel.Choose(kOverwrite, 1);
    ASSERT_TRUE(WaitFor([&] { return boxTexts().size() == 1; }));
    panel.Choose(kTimestamp, 1);
    ASSERT_TRUE(WaitFor([&] { return boxTexts().size() == 2; }));
    EXPECT_EQ(boxTexts(),
              (std::vector<std::wstring>{L"Loop recording on.", L"Time stamp display turned on."}));
    const std::wstring clockWithBoxes = panel.Text(kPcTime);
    EXPECT_TRUE(WaitFor([&] { return panel.Text(kPcTime) != clockWithBoxes; }))
        << "the clock stood still while the boxes were open";
    // The nested box first, then the one whose handler it interrupted.
    panel.TakeMessageBox(L"Time stamp display turned on.");
    panel.TakeMessageBox(L"Loop recording on.");
    EXPECT_TRUE(panel.MessageBoxes().empty());

    // The camera refuses every setting from now on: the error texts, and the picks stay.
    harness.Plug(camera + kSettingsFail, "DE");
    ExpectSettingChanges(panel, RefusedSettingChanges());
}

ZQ_SHARED_SCENARIO(SyncWithPcTimeSendsTheDateThenTheTime) {
    const std::string camera = std::string(kDrives) + "camera E\n";
    Panel& panel = harness.StartPanel(camera);

    std::size_t mark = panel.trace().CallCount();
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    panel.Click(kSyncTime);
    EXPECT_EQ(panel.TakeMessageBox(), L"Time Sync Completed.");
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    EXPECT_TRUE(
        SentAClockBetween(panel.trace().VendorCdbs(mark), before, after, harness.ClockSlack()));

    for (const ClockRefusal& refusal : ClockRefusals()) {
        SCOPED_TRACE(refusal.fault);
        harness.Plug(camera + refusal.fault, "DE");
        mark = panel.trace().CallCount();
        panel.Click(kSyncTime);
        EXPECT_EQ(panel.TakeMessageBox(), L"Time Sync error.");
        EXPECT_EQ(Codes(panel.trace().VendorCdbs(mark)), refusal.codes);
    }
}

ZQ_SHARED_SCENARIO(OpenFileFolderReleasesTheCameraOpensItsVolumeAndReconnects) {
    const std::string shellOpen =
        "ShellExecuteW operation=null file=\"explorer\" parameters=\"F:\\\" directory=null show=5";
    for (const ReleaseCase& c : ReleaseCases()) {
        SCOPED_TRACE(c.storage);
        Panel& panel = harness.StartPanel(c.world);
        const std::size_t mark = panel.trace().CallCount();
        panel.Click(kOpenFolder);
        panel.Settle();
        EXPECT_TRUE(panel.MessageBoxes().empty());

        const std::vector<std::string> calls = harness.Calls(mark);
        std::vector<std::string> cdbs = panel.trace().VendorCdbs(mark);
        ASSERT_FALSE(cdbs.empty());
        EXPECT_EQ(cdbs.front(), Cdb(false, 0x0F));
        cdbs.erase(cdbs.begin());
        EXPECT_EQ(Codes(cdbs), c.reconnects ? kConnectionCodes : std::vector<std::string>{});

        // The release, the camera's handle closed, the removable volumes asked (not C).
        std::size_t release = calls.size();
        std::vector<std::string> queried;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (release == calls.size() && calls[i].find(" cdb=FA ") != std::string::npos) {
                release = i;
            }
            if (calls[i].find("IOCTL_STORAGE_QUERY_PROPERTY") != std::string::npos) {
                queried.push_back(calls[i].substr(16, 2));
            }
        }
        ASSERT_LT(release + 1, calls.size());
        EXPECT_EQ(calls[release + 1].rfind("CloseHandle E: ", 0), 0u) << calls[release + 1];
        EXPECT_EQ(queried, (std::vector<std::string>{"F:", "G:"}));

        if (harness.OnlyOn(kSimulatedProgram)) {
            // The simulated program traces its shell call: the folder opened, and only then the
            // new discovery. (The real program's call goes to the system's shell, which the
            // virtual camera does not see.)
            std::size_t shell = calls.size();
            std::size_t nextOpen = calls.size();
            for (std::size_t i = 0; i < calls.size(); ++i) {
                if (calls[i] == shellOpen) {
                    shell = i;
                }
                if (shell < i && nextOpen == calls.size() &&
                    calls[i].rfind("CreateFileW", 0) == 0) {
                    nextOpen = i;
                }
            }
            EXPECT_EQ(shell != calls.size(), c.opensFolder);
            if (c.opensFolder) {
                EXPECT_LT(shell, nextOpen) << "the folder opens before the reconnection";
            }
        }
        if (harness.OnlyOn(kVirtualCamera)) {
            // The driver presents what the system now shows: E has gone and F has come. And the
            // system's own file manager opens on the camera's volume, F: (the simulated program
            // starts none).
            EXPECT_EQ(harness.PresentedLetters(), "FG");
            const std::vector<PanelHarness::FolderWindow> folders =
                harness.TakeFolderWindows(panel, c.opensFolder ? kPatience : 3);
            EXPECT_EQ(!folders.empty(), c.opensFolder);
            if (c.opensFolder && !folders.empty()) {
                ASSERT_EQ(folders.size(), 1u);
                const std::wstring& title = folders[0].title;
                EXPECT_EQ(title.substr(title.size() < 4 ? 0 : title.size() - 4), L"(F:)");
                EXPECT_EQ(folders[0].program, L"explorer.exe");
            }
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

ZQ_SHARED_SCENARIO(FollowsTheCameraThroughVolumeArrivalAndRemoval) {
    Panel& panel = harness.StartPanel(kBareComputer);
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    for (const VolumeStep& step : VolumeSteps()) {
        SCOPED_TRACE(step.what);
        if (step.world) {
            harness.Plug(*step.world, step.letters);
        }
        const std::size_t mark = panel.trace().CallCount();
        EXPECT_EQ(panel.DeviceChange(step.event, step.letter, step.flags), TRUE);
        EXPECT_EQ(!harness.Calls(mark).empty(), step.asksDevices);
        if (step.connected) {
            ExpectLook(panel, kDefaultFirmware, true, {1, 0, 1});
        } else {
            ExpectLook(panel, kNotConnected, false, {-1, -1, -1});
        }
        EXPECT_TRUE(panel.MessageBoxes().empty());
    }
}

ZQ_SHARED_SCENARIO(ARemovalBeforeAnyArrivalLooksForTheCameraAfresh) {
    const std::string camera = "drive C fixed\ncamera E overwrite=0\n";
    Panel& panel = harness.StartPanel(camera);
    panel.Choose(kOverwrite, 1);
    EXPECT_EQ(panel.TakeMessageBox(), L"Loop recording on.");

    // An unrelated stick goes: disconnect and connect again, the camera's values read afresh
    // (loop recording as the program set it: the camera keeps it across the world's reload).
    harness.Plug(camera + "drive G removable\n", "EG");
    std::size_t mark = panel.trace().CallCount();
    EXPECT_EQ(panel.DeviceChange(DBT_DEVICEREMOVECOMPLETE, 'G'), TRUE);
    EXPECT_EQ(Codes(panel.trace().VendorCdbs(mark)), kConnectionCodes);
    ExpectLook(panel, kDefaultFirmware, true, {1, 0, 0});

    // The camera itself goes: the new search finds nothing.
    harness.Plug("drive C fixed\ndrive G removable\n", "G");
    mark = panel.trace().CallCount();
    EXPECT_EQ(panel.DeviceChange(DBT_DEVICEREMOVECOMPLETE, 'E'), TRUE);
    EXPECT_EQ(panel.trace().VendorCdbs(mark), std::vector<std::string>{});
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});
}

ZQ_SHARED_SCENARIO(WithNotifyEditingTheWorldFilePlugsAndUnplugsTheCamera) {
    // No event is sent from here: with notify, whoever serves the world (the simulated program
    // itself, or the virtual camera's service) tells the windows of the letters that come and go,
    // as Windows would.
    const std::string computer = "drive C fixed\nnotify\n";
    const std::string camera = computer + "camera E overwrite=1\nstorage letter=F\n";
    Panel& panel = harness.StartPanel(computer);
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    panel.EditWorld(camera);
    ASSERT_TRUE(WaitFor([&] { return panel.Text(kStatus) == kDefaultFirmware; }));
    ExpectLook(panel, kDefaultFirmware, true, {1, 0, 0});

    // The release moves the camera from E to F. The panel reconnects at once (on F), then hears
    // that E went (its arrival drive: it disconnects) and that F came (it connects again).
    const std::size_t mark = panel.trace().CallCount();
    panel.Click(kOpenFolder);
    if (harness.OnlyOn(kSimulatedProgram)) {
        // The simulated program traces its shell call (the real one's goes to the system).
        panel.trace().WaitForCall("ShellExecuteW");
    }
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<std::string> events = panel.trace().Notifications();
        return std::find(events.begin(), events.end(), "DBT_DEVICEARRIVAL F:") != events.end();
    }));
    std::vector<std::string> expected = {"0F"};
    expected.insert(expected.end(), kConnectionCodes.begin(), kConnectionCodes.end());
    expected.insert(expected.end(), kConnectionCodes.begin(), kConnectionCodes.end());
    ASSERT_TRUE(WaitFor([&] { return Codes(panel.trace().VendorCdbs(mark)) == expected; }))
        << ::testing::PrintToString(Codes(panel.trace().VendorCdbs(mark)));
    if (harness.OnlyOn(kVirtualCamera)) {
        // The system's file manager opened on the volume (the simulated program starts none).
        EXPECT_FALSE(harness.TakeFolderWindows(panel, kPatience).empty());
    }
    panel.Settle();
    ExpectLook(panel, kDefaultFirmware, true, {1, 0, 0});

    panel.EditWorld(computer);
    ASSERT_TRUE(WaitFor([&] { return panel.Text(kStatus) == kNotConnected; }));
    ExpectLook(panel, kNotConnected, false, {-1, -1, -1});

    EXPECT_EQ(panel.trace().Notifications(),
              (std::vector<std::string>{"DBT_DEVICEARRIVAL E:", "DBT_DEVICEREMOVECOMPLETE E:",
                                        "DBT_DEVICEARRIVAL F:", "DBT_DEVICEREMOVECOMPLETE F:"}));
}

#undef ZQ_SHARED_SCENARIO

}  // namespace

const std::vector<SharedScenario>& SharedScenarios() {
    return Registry();
}

const char* SharedScenariosFile() {
    return "tests/e2e/panel_scenarios.cpp";
}

}  // namespace e2e
