// The control panel window on its real template: its start-up state, the window operations of the
// panel logic as Win32 sees them, the routing of control and device-change events, the clock, the
// key filter, closing, the minimised icon and the message boxes.
#include <gtest/gtest.h>

#include "app/afx/afxwin.h"
// the framework first
#include <cwctype>
#include <string>
#include <vector>

#include "window_test.h"

namespace zqtest {

BEGIN_MESSAGE_MAP(PanelUnderTest, CZelquinDlg)
ON_MESSAGE(kWmShown, PanelUnderTest::OnShown)
ON_MESSAGE(kWmEnd, PanelUnderTest::OnEnd)
ON_MESSAGE(WM_ICONERASEBKGND, PanelUnderTest::OnIconEraseBackground)
ON_WM_TIMER()
END_MESSAGE_MAP()

}  // namespace zqtest

namespace {

using zqtest::ComboEdit;
using zqtest::ComboItems;
using zqtest::ComboSelection;
using zqtest::ControlName;
using zqtest::ControlText;
using zqtest::DriveBit;
using zqtest::kCombos;
using zqtest::kCommandControls;
using zqtest::PanelUnderTest;
using zqtest::VolumeRecord;
constexpr INT_PTR kStillOpen = 77;

// "YYYY-MM-DD hh:mm:ss" with every field in its range.
bool IsClockText(const std::wstring& text) {
    if (text.size() != 19) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t expected = i == 4 || i == 7     ? L'-'
                                 : i == 10            ? L' '
                                 : i == 13 || i == 16 ? L':'
                                                      : 0;
        if (expected != 0 ? text[i] != expected : !std::iswdigit(text[i])) {
            return false;
        }
    }
    auto field = [&](std::size_t at) { return std::stoi(text.substr(at, 2)); };
    return field(5) >= 1 && field(5) <= 12 && field(8) >= 1 && field(8) <= 31 && field(11) <= 23 &&
           field(14) <= 59 && field(17) <= 60;
}

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override { zqtest::ResetAppProcessState(); }
    void TearDown() override { zqtest::ResetAppProcessState(); }

    PanelUnderTest panel;
};

TEST_F(PanelTest, WithoutCameraTheTemplateStateShows) {
    bool checked = false;
    const INT_PTR result = panel.Run([&](PanelUnderTest& p) {
        HWND w = p.m_hWnd;
        EXPECT_TRUE(::IsWindowVisible(w));
        EXPECT_EQ(zqtest::WindowText(w), L"OSTRAVEL QXM V1.1");
        EXPECT_EQ(ControlText(w, IDC_STATUS), L"Device not connected.");
        EXPECT_EQ(ControlText(w, IDC_STATUS_RIGHT), L"");
        EXPECT_EQ(ControlText(w, IDC_PC_TIME), L"");  // until the first tick
        for (int id : kCommandControls) {
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(w, id))) << ControlName(id);
        }
        for (int id : kCombos) {
            EXPECT_EQ(ComboSelection(w, id), CB_ERR) << ControlName(id);
            EXPECT_EQ(ControlText(w, id), L"") << ControlName(id);
        }
        EXPECT_EQ(ComboItems(::GetDlgItem(w, IDC_OVERWRITE)),
                  (std::vector<std::wstring>{L"OFF", L"ON"}));
        EXPECT_EQ(ComboItems(::GetDlgItem(w, IDC_TIMESTAMP)),
                  (std::vector<std::wstring>{L"OFF", L"ON"}));
        EXPECT_EQ(ComboItems(::GetDlgItem(w, IDC_RESOLUTION)),
                  (std::vector<std::wstring>{L"1080P 30FPS", L"720P 30FPS"}));
        EXPECT_EQ(g_bConnected, 0);
        checked = true;
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(panel.boxes.empty());
}

TEST_F(PanelTest, TheApplicationIconIsTheWindowsIconAndDragCursor) {
    ASSERT_NE(panel.AppIcon(), nullptr);
    panel.Run([&](PanelUnderTest& p) {
        const auto icon = reinterpret_cast<LRESULT>(p.AppIcon());
        EXPECT_EQ(::SendMessageW(p.m_hWnd, WM_GETICON, ICON_BIG, 0), icon);
        EXPECT_EQ(::SendMessageW(p.m_hWnd, WM_GETICON, ICON_SMALL, 0), icon);
        EXPECT_EQ(::SendMessageW(p.m_hWnd, WM_QUERYDRAGICON, 0, 0), icon);
    });
}

TEST_F(PanelTest, WindowOperationsAsWin32SeesThem) {
    panel.Run([&](PanelUnderTest& p) {
        HWND w = p.m_hWnd;
        const struct {
            int combo;
            int index;
            int selected;
            const wchar_t* shown;
        } selections[] = {
            {IDC_OVERWRITE, 1, 1, L"ON"},          {IDC_OVERWRITE, 0, 0, L"OFF"},
            {IDC_OVERWRITE, -1, CB_ERR, L""},      {IDC_TIMESTAMP, 1, 1, L"ON"},
            {IDC_TIMESTAMP, 2, CB_ERR, L""},  // outside the list: nothing selected
            {IDC_RESOLUTION, 1, 1, L"720P 30FPS"}, {IDC_RESOLUTION, 0, 0, L"1080P 30FPS"},
            {IDC_RESOLUTION, -1, CB_ERR, L""},
        };
        for (const auto& s : selections) {
            SCOPED_TRACE(testing::Message() << s.combo << " <- " << s.index);
            p.SelectComboItem(s.combo, s.index);
            EXPECT_EQ(ComboSelection(w, s.combo), s.selected);
            EXPECT_EQ(p.GetComboSelection(s.combo), s.selected);
            EXPECT_EQ(ControlText(w, s.combo), s.shown);
        }
        // No selection change was reported: no handler ran.
        EXPECT_TRUE(p.boxes.empty());

        for (int id : kCommandControls) {
            for (bool enable : {true, false}) {
                p.EnableControl(id, enable);
                EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(w, id)) != FALSE, enable)
                    << ControlName(id);
            }
        }
        p.SetStatusText(L"Firmware Version:   V9");
        EXPECT_EQ(ControlText(w, IDC_STATUS), L"Firmware Version:   V9");

        // Ids that are not combo boxes are not selected in.
        p.SelectComboItem(IDC_STATUS, 0);
        EXPECT_EQ(ControlText(w, IDC_STATUS), L"Firmware Version:   V9");
        EXPECT_EQ(p.GetComboSelection(IDC_STATUS), CB_ERR);
    });
}

// Disconnected, every command answers "Device not connected."; events with another code or
// from another control run nothing.
TEST_F(PanelTest, ControlEventsReachTheirHandlers) {
    const struct {
        int id;
        WORD code;
        bool handled;
    } events[] = {
        {IDC_OVERWRITE, CBN_SELCHANGE, true},       {IDC_TIMESTAMP, CBN_SELCHANGE, true},
        {IDC_RESOLUTION, CBN_SELCHANGE, true},      {IDC_SYNC_TIME, BN_CLICKED, true},
        {IDC_OPEN_FOLDER, BN_CLICKED, true},        {IDC_OVERWRITE, BN_CLICKED, false},
        {IDC_OVERWRITE, CBN_DROPDOWN, false},       {IDC_SYNC_TIME, CBN_SELCHANGE, false},
        {IDC_OPEN_FOLDER, BN_DOUBLECLICKED, false}, {IDC_STATUS, BN_CLICKED, false},
    };
    panel.Run([&](PanelUnderTest& p) {
        for (const auto& e : events) {
            SCOPED_TRACE(testing::Message() << e.id << "/" << e.code);
            p.boxes.clear();
            ::SendMessageW(p.m_hWnd, WM_COMMAND, MAKEWPARAM(e.id, e.code),
                           reinterpret_cast<LPARAM>(::GetDlgItem(p.m_hWnd, e.id)));
            if (!e.handled) {
                EXPECT_TRUE(p.boxes.empty());
                continue;
            }
            ASSERT_EQ(p.boxes.size(), 1u);
            EXPECT_EQ(p.boxes[0].text, L"Device not connected.");
            EXPECT_EQ(p.boxes[0].caption, L"Ostravel V1.1");
            EXPECT_EQ(p.boxes[0].type, 0u);
            EXPECT_EQ(p.boxes[0].language, 1033);
        }
    });
}

TEST_F(PanelTest, DeviceChangeEventsReachVolumeTrackingAndAreGranted) {
    panel.Run([&](PanelUnderTest& p) {
        EXPECT_EQ(::SendMessageW(p.m_hWnd, WM_DEVICECHANGE, 0x0007, 0),
                  TRUE);  // DBT_DEVNODES_CHANGED
        EXPECT_EQ(g_strArrivalDrive, L"0");
        const auto arrival = VolumeRecord(DriveBit('E'));
        EXPECT_EQ(::SendMessageW(p.m_hWnd, WM_DEVICECHANGE, 0x8000,
                                 reinterpret_cast<LPARAM>(arrival.data())),
                  TRUE);
        EXPECT_EQ(g_strArrivalDrive, L"E");
        const auto removal = VolumeRecord(DriveBit('E'));
        EXPECT_EQ(::SendMessageW(p.m_hWnd, WM_DEVICECHANGE, 0x8004,
                                 reinterpret_cast<LPARAM>(removal.data())),
                  TRUE);
    });
}

TEST_F(PanelTest, EveryTimerRefreshesTheClock) {
    panel.Run([&](PanelUnderTest& p) {
        for (UINT_PTR id : {UINT_PTR{ID_CLOCK_TIMER}, UINT_PTR{7}, UINT_PTR{0xBEEF}}) {
            SCOPED_TRACE(id);
            ::SetDlgItemTextW(p.m_hWnd, IDC_PC_TIME, L"");
            ::SendMessageW(p.m_hWnd, WM_TIMER, id, 0);
            const std::wstring text = ControlText(p.m_hWnd, IDC_PC_TIME);
            EXPECT_TRUE(IsClockText(text)) << testing::PrintToString(text);
        }
    });
}

TEST(ClockTextTest, LocalTimeInNineteenCharactersOrNothing) {
    const struct {
        __time64_t time;
        bool shown;
    } cases[] = {
        {0, true},                    // 1970, the first day, in any time zone
        {951782400, true},            // 2000-02-29
        {1735689599, true},           // 2024-12-31 23:59:59 UTC
        {1735689600, true},           // 2025-01-01 00:00:00 UTC
        {32503593600, true},          // 2999-12-31 in every time zone
        {-1, false},                  // before 1970: the conversion refuses it
        {10'000'000'000'000, false},  // far past the year 3000
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        wchar_t text[kClockTextChars];
        std::wmemset(text, L'#', kClockTextChars);
        CZelquinDlg::FormatClock(c.time, text);
        if (c.shown) {
            EXPECT_TRUE(IsClockText(text)) << testing::PrintToString(std::wstring(text));
        } else {
            EXPECT_EQ(std::wstring(text), L"");
        }
    }
}

TEST(IconOriginTest, CentredRoundingUpAndTruncatingTowardZero) {
    const struct {
        RECT client;
        int cx, cy;
        LONG x, y;
    } cases[] = {
        {{0, 0, 100, 80}, 32, 32, 34, 24}, {{0, 0, 101, 81}, 32, 32, 35, 25},
        {{0, 0, 32, 32}, 32, 32, 0, 0},    {{0, 0, 31, 31}, 32, 32, 0, 0},  // -1 / 2 is 0
        {{0, 0, 10, 0}, 32, 32, -10, -15},  // -21 / 2 and -31 / 2, not -11 and -16
        {{5, 7, 105, 87}, 32, 32, 34, 24},  // the size counts, not the corner
        {{0, 0, 160, 28}, 48, 48, 56, -9},
    };
    for (const auto& c : cases) {
        const POINT origin = CZelquinDlg::IconOrigin(c.client, c.cx, c.cy);
        EXPECT_EQ(origin.x, c.x) << c.client.right << "x" << c.client.bottom;
        EXPECT_EQ(origin.y, c.y) << c.client.right << "x" << c.client.bottom;
    }
}

// Both icon resources hold one 256 x 256, 32-bit frame stored as PNG: the system gives it at its
// standard icon size and at 256 x 256, in 32 bits, with the frame's transparency.
TEST(AppIconTest, ThePngFrameLoadsAtTheStandardSizeAndAt256) {
    struct Size {
        int width, height, bits;
    };
    const auto sizeOf = [](HICON icon) {
        ICONINFO info = {};
        Size size = {0, 0, 0};
        if (icon == nullptr || !::GetIconInfo(icon, &info)) {
            return size;
        }
        BITMAP bitmap = {};
        if (::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) != 0) {
            size = {bitmap.bmWidth, bitmap.bmHeight, bitmap.bmBitsPixel};
        }
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        return size;
    };
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    for (const int id : {IDI_APP_ICON, IDI_EXE_ICON}) {
        SCOPED_TRACE(id);
        const Size standard = sizeOf(::LoadIconW(module, MAKEINTRESOURCEW(id)));
        EXPECT_EQ(standard.width, ::GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(standard.height, ::GetSystemMetrics(SM_CYICON));
        EXPECT_EQ(standard.bits, 32);

        auto* large = static_cast<HICON>(
            ::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 256, 256, LR_DEFAULTCOLOR));
        const Size full = sizeOf(large);
        EXPECT_EQ(full.width, 256);
        EXPECT_EQ(full.height, 256);
        EXPECT_EQ(full.bits, 32);
        if (large != nullptr) {
            ::DestroyIcon(large);
        }
    }
}

TEST_F(PanelTest, EnterAndEscapeDoNothingAnywhere) {
    panel.closeAfterCheck = false;
    const INT_PTR result = panel.Run([&](PanelUnderTest& p) {
        HWND targets[] = {
            p.m_hWnd, ComboEdit(p.m_hWnd, IDC_OVERWRITE), ComboEdit(p.m_hWnd, IDC_RESOLUTION),
            ::GetDlgItem(p.m_hWnd, IDC_SYNC_TIME), ::GetDlgItem(p.m_hWnd, IDC_OPEN_FOLDER)};
        for (int id : kCommandControls) {
            p.EnableControl(id, true);  // as when connected: the buttons could be pressed
        }
        ::SetFocus(::GetDlgItem(p.m_hWnd, IDC_SYNC_TIME));
        for (HWND target : targets) {
            ASSERT_NE(target, nullptr);
            for (WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) {
                ::PostMessageW(target, WM_KEYDOWN, key, 1);
                ::PostMessageW(target, WM_KEYUP, key, LPARAM(0xC0000001));
            }
        }
        ::PostMessageW(p.m_hWnd, zqtest::kWmEnd, kStillOpen, 0);
    });
    EXPECT_EQ(result, kStillOpen);
    EXPECT_TRUE(panel.boxes.empty()) << "a button was pressed";
}

TEST_F(PanelTest, CloseButtonSystemMenuAndAltF4CloseIt) {
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        {"WM_CLOSE", WM_CLOSE, 0, 0},
        {"the system menu's Close", WM_SYSCOMMAND, SC_CLOSE, 0},
        {"Alt+F4", WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelUnderTest one;
        one.closeAfterCheck = false;
        HWND window = nullptr;
        EXPECT_EQ(one.Run([&](PanelUnderTest& p) {
            window = p.m_hWnd;
            ::PostMessageW(p.m_hWnd, c.message, c.wParam, c.lParam);
        }),
                  IDCANCEL);
        EXPECT_FALSE(::IsWindow(window));
    }
}

TEST_F(PanelTest, MaximisingLeavesTheControlsInPlace) {
    panel.Run([&](PanelUnderTest& p) {
        auto place = [&](int id) {
            RECT rect;
            ::GetWindowRect(::GetDlgItem(p.m_hWnd, id), &rect);
            ::MapWindowPoints(nullptr, p.m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
            return std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom};
        };
        std::vector<std::vector<LONG>> before;
        for (int id : kCommandControls) {
            before.push_back(place(id));
        }
        RECT small;
        ::GetClientRect(p.m_hWnd, &small);
        ::ShowWindow(p.m_hWnd, SW_MAXIMIZE);
        RECT large;
        ::GetClientRect(p.m_hWnd, &large);
        EXPECT_GT(large.right, small.right);
        std::vector<std::vector<LONG>> after;
        for (int id : kCommandControls) {
            after.push_back(place(id));
        }
        EXPECT_EQ(after, before);
    });
}

// The system asks a minimised window to paint: it erases the icon's background with the
// painting device context (and then draws the icon there).
TEST_F(PanelTest, OnlyTheMinimisedWindowPaintsItsIcon) {
    panel.Run([&](PanelUnderTest& p) {
        ::SendMessageW(p.m_hWnd, WM_PAINT, 0, 0);
        EXPECT_TRUE(p.iconBackgrounds.empty());

        ::ShowWindow(p.m_hWnd, SW_MINIMIZE);
        ASSERT_TRUE(::IsIconic(p.m_hWnd));
        p.iconBackgrounds.clear();
        ::SendMessageW(p.m_hWnd, WM_PAINT, 0, 0);
        ASSERT_EQ(p.iconBackgrounds.size(), 1u);
        EXPECT_NE(p.iconBackgrounds[0], 0u);
    });
}

// A real message box: no owner, the panel's caption and text, and the panel stays enabled and
// keeps handling its messages while the box is open.
struct BoxSeen {
    bool found = false;
    std::wstring caption;
    std::vector<std::wstring> texts;
    HWND owner = nullptr;
    bool panelEnabled = false;
    HWND panel = nullptr;
};
BoxSeen g_boxSeen;

BOOL CALLBACK CollectText(HWND child, LPARAM) {
    const std::wstring text = zqtest::WindowText(child);
    if (!text.empty()) {
        g_boxSeen.texts.push_back(text);
    }
    return TRUE;
}

BOOL CALLBACK FindBox(HWND window, LPARAM) {
    wchar_t className[16] = L"";
    ::GetClassNameW(window, className, 16);
    if (window == g_boxSeen.panel || std::wstring(className) != L"#32770" ||
        !::IsWindowVisible(window)) {
        return TRUE;
    }
    g_boxSeen.found = true;
    g_boxSeen.caption = zqtest::WindowText(window);
    g_boxSeen.owner = ::GetWindow(window, GW_OWNER);
    g_boxSeen.panelEnabled = ::IsWindowEnabled(g_boxSeen.panel) != FALSE;
    ::EnumChildWindows(window, CollectText, 0);
    ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

void CALLBACK LookForBox(HWND, UINT, UINT_PTR timer, DWORD) {
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBox, 0);
    if (g_boxSeen.found) {
        ::KillTimer(nullptr, timer);
    }
}

TEST_F(PanelTest, MessageBoxesHaveNoOwner) {
    panel.realMessageBoxes = true;
    g_boxSeen = {};
    panel.Run([&](PanelUnderTest& p) {
        g_boxSeen.panel = p.m_hWnd;
        // Dispatched by the box's own loop while it is open.
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, LookForBox);
        ::SendMessageW(p.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_SYNC_TIME, BN_CLICKED), 0);
        if (!g_boxSeen.found) {
            ::KillTimer(nullptr, timer);
        }
    });
    ASSERT_TRUE(g_boxSeen.found);
    EXPECT_EQ(g_boxSeen.caption, L"Ostravel V1.1");
    EXPECT_NE(std::find(g_boxSeen.texts.begin(), g_boxSeen.texts.end(), L"Device not connected."),
              g_boxSeen.texts.end());
    EXPECT_EQ(g_boxSeen.owner, nullptr);
    EXPECT_TRUE(g_boxSeen.panelEnabled);
}

// With the simulated camera attached.
class ConnectedPanelTest : public PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        sim::World& world = sim::TheWorld();
        world.AddDisk('C');
        sim::Camera& camera = world.PlugCamera('E');
        camera.loopRecording = 1;
        camera.timestampDisplay = 0;
        camera.resolution = 1;
    }
};

TEST_F(ConnectedPanelTest, AtFirstShowingTheCameraIsConnected) {
    panel.Run([&](PanelUnderTest& p) {
        HWND w = p.m_hWnd;
        EXPECT_EQ(g_bConnected, 1);
        EXPECT_FALSE(g_strStatus.empty());
        EXPECT_EQ(ControlText(w, IDC_STATUS), g_strStatus);
        EXPECT_NE(g_strStatus.find(L"V1.1"), std::wstring::npos);
        EXPECT_EQ(ComboSelection(w, IDC_OVERWRITE), 1);
        EXPECT_EQ(ControlText(w, IDC_OVERWRITE), L"ON");
        EXPECT_EQ(ComboSelection(w, IDC_TIMESTAMP), 0);
        EXPECT_EQ(ControlText(w, IDC_TIMESTAMP), L"OFF");
        EXPECT_EQ(ComboSelection(w, IDC_RESOLUTION), 1);
        EXPECT_EQ(ControlText(w, IDC_RESOLUTION), L"720P 30FPS");
        for (int id : kCommandControls) {
            EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(w, id))) << ControlName(id);
        }
    });
    EXPECT_EQ(panel.pauses, (std::vector<std::uint32_t>{200, 200, 200}));
    EXPECT_TRUE(panel.boxes.empty());
}

TEST_F(ConnectedPanelTest, UserCommandsReachTheCamera) {
    sim::Camera& camera = sim::TheWorld().camera();
    const struct {
        const char* name;
        int id;
        WORD code;
        int select;  // the user's pick before the event, -2 for none
        const wchar_t* box;
        std::function<bool()> done;
    } commands[] = {
        {"overwrite off", IDC_OVERWRITE, CBN_SELCHANGE, 0, L"Loop recording off.",
         [&] { return camera.loopRecording == 0; }},
        {"overwrite on", IDC_OVERWRITE, CBN_SELCHANGE, 1, L"Loop recording on.",
         [&] { return camera.loopRecording == 1; }},
        {"time stamp on", IDC_TIMESTAMP, CBN_SELCHANGE, 1, L"Time stamp display turned on.",
         [&] { return camera.timestampDisplay == 1; }},
        {"1080P", IDC_RESOLUTION, CBN_SELCHANGE, 0, L"Video resolution set to 1080P.",
         [&] { return camera.resolution == 0; }},
        {"sync", IDC_SYNC_TIME, BN_CLICKED, -2, L"Time Sync Completed.",
         [&] { return camera.dateReceived && camera.timeReceived; }},
    };
    panel.Run([&](PanelUnderTest& p) {
        ASSERT_EQ(g_bConnected, 1);
        for (const auto& c : commands) {
            SCOPED_TRACE(c.name);
            p.boxes.clear();
            if (c.select != -2) {
                p.SelectComboItem(c.id, c.select);
            }
            ::SendMessageW(p.m_hWnd, WM_COMMAND, MAKEWPARAM(c.id, c.code),
                           reinterpret_cast<LPARAM>(::GetDlgItem(p.m_hWnd, c.id)));
            EXPECT_EQ(p.BoxTexts(), std::vector<std::wstring>{c.box});
            EXPECT_TRUE(c.done());
        }
    });
}

TEST_F(ConnectedPanelTest, OpenFolderReleasesOpensTheVolumeAndReconnects) {
    panel.Run([&](PanelUnderTest& p) {
        ASSERT_EQ(g_bConnected, 1);
        sim::TheWorld().ClearTrace();
        ::SendMessageW(p.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_OPEN_FOLDER, BN_CLICKED), 0);
        EXPECT_EQ(sim::TheWorld().camera().releases, 1);
        const auto opened = sim::TheWorld().Calls(sim::Call::kShellExecute);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].file, std::optional<std::wstring>(L"explorer"));
        EXPECT_EQ(opened[0].parameters, std::optional<std::wstring>(L"E:\\"));
        EXPECT_EQ(g_bConnected, 1);
        EXPECT_TRUE(p.boxes.empty());
    });
}

TEST_F(ConnectedPanelTest, KeysDoNotPressTheEnabledButtons) {
    panel.closeAfterCheck = false;
    const INT_PTR result = panel.Run([&](PanelUnderTest& p) {
        HWND sync = ::GetDlgItem(p.m_hWnd, IDC_SYNC_TIME);
        ASSERT_TRUE(::IsWindowEnabled(sync));
        ::SetFocus(sync);
        ::PostMessageW(sync, WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(p.m_hWnd, WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(p.m_hWnd, zqtest::kWmEnd, kStillOpen, 0);
    });
    EXPECT_EQ(result, kStillOpen);
    EXPECT_TRUE(panel.boxes.empty());
    EXPECT_FALSE(sim::TheWorld().camera().dateReceived);
}

TEST_F(ConnectedPanelTest, VolumeEventsConnectAndDisconnect) {
    const sim::Camera unplugged = sim::TheWorld().UnplugCamera('E');
    panel.Run([&](PanelUnderTest& p) {
        HWND w = p.m_hWnd;
        ASSERT_EQ(g_bConnected, 0);
        sim::TheWorld().PlugCamera('F', unplugged);
        const auto arrival = VolumeRecord(DriveBit('F'));
        ::SendMessageW(w, WM_DEVICECHANGE, 0x8000, reinterpret_cast<LPARAM>(arrival.data()));
        EXPECT_EQ(g_bConnected, 1);
        EXPECT_EQ(g_strArrivalDrive, L"F");
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(w, IDC_SYNC_TIME)));
        EXPECT_EQ(ComboSelection(w, IDC_OVERWRITE), 1);

        sim::TheWorld().UnplugCamera('F');
        const auto removal = VolumeRecord(DriveBit('F'));
        ::SendMessageW(w, WM_DEVICECHANGE, 0x8004, reinterpret_cast<LPARAM>(removal.data()));
        EXPECT_EQ(g_bConnected, 0);
        EXPECT_EQ(ControlText(w, IDC_STATUS), L"Device not connected.");
        for (int id : kCommandControls) {
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(w, id))) << ControlName(id);
        }
        for (int id : kCombos) {
            EXPECT_EQ(ComboSelection(w, id), CB_ERR) << ControlName(id);
        }
    });
}

}  // namespace
