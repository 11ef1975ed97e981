// The framework's dialog on the control panel's template: creation, the initialisation list and
// the sorted combo boxes, placement, the modal loop, how messages reach PreTranslateMessage and
// the map, how results go back to the sender, and the ways a plain dialog closes.
#include <gtest/gtest.h>

#include "app/afx/afxwin.h"
// the framework first
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "window_test.h"

namespace {

using zqtest::ComboEdit;
using zqtest::ComboItems;
using zqtest::kWatchdogMs;
using zqtest::kWatchdogResult;
using zqtest::kWatchdogTimer;
using zqtest::kWmShown;

constexpr UINT kWmProbe = WM_APP + 1;      // dispatched to OnProbe
constexpr UINT kWmSwallowed = WM_APP + 2;  // consumed by PreTranslateMessage
constexpr UINT kWmResult = WM_APP + 3;     // answered with 1234
constexpr LRESULT kProbeResult = 1234;

// A plain dialog on the control panel's template, with the test's hooks.
class ProbeDialog : public CDialogEx {
  public:
    explicit ProbeDialog(UINT id = IDD_CONTROL_PANEL) : CDialogEx(id) {}

    std::function<void(ProbeDialog&)> onInit;   // after the base start-up, window still hidden
    std::function<void(ProbeDialog&)> onShown;  // in the modal loop
    std::vector<std::pair<HWND, UINT>> pretranslated;
    std::vector<std::pair<HWND, UINT>> dispatched;
    int getTextLengthCalls = 0;
    CComboBox overwrite;

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialogEx::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_OVERWRITE, overwrite);
    }

    BOOL OnInitDialog() override {
        CDialogEx::OnInitDialog();
        if (onInit) {
            onInit(*this);
        }
        ::SetTimer(m_hWnd, kWatchdogTimer, kWatchdogMs, nullptr);
        ::PostMessageW(m_hWnd, kWmShown, 0, 0);
        return TRUE;
    }

    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (pMsg->message >= WM_APP) {
            pretranslated.emplace_back(pMsg->hwnd, pMsg->message);
        }
        if (pMsg->message == kWmSwallowed) {
            return TRUE;
        }
        return CDialogEx::PreTranslateMessage(pMsg);
    }

    LRESULT OnShown(WPARAM, LPARAM) {
        if (onShown) {
            onShown(*this);
        }
        return 0;
    }
    LRESULT OnProbe(WPARAM, LPARAM) {
        dispatched.emplace_back(m_hWnd, kWmProbe);
        return 0;
    }
    LRESULT OnSwallowed(WPARAM, LPARAM) {
        dispatched.emplace_back(m_hWnd, kWmSwallowed);
        return 0;
    }
    LRESULT OnResult(WPARAM, LPARAM) { return kProbeResult; }
    HCURSOR OnQueryDragIcon() { return ::LoadCursorW(nullptr, IDC_HAND); }
    // Counts the call and leaves the answer to the system.
    LRESULT OnGetTextLength(WPARAM, LPARAM) {
        ++getTextLengthCalls;
        return Default();
    }
    void OnTimer(UINT_PTR id) {
        if (id == kWatchdogTimer) {
            EndDialog(kWatchdogResult);
        }
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialogEx)
ON_MESSAGE(kWmShown, ProbeDialog::OnShown)
ON_MESSAGE(kWmProbe, ProbeDialog::OnProbe)
ON_MESSAGE(kWmSwallowed, ProbeDialog::OnSwallowed)
ON_MESSAGE(kWmResult, ProbeDialog::OnResult)
ON_MESSAGE(WM_GETTEXTLENGTH, ProbeDialog::OnGetTextLength)
ON_WM_QUERYDRAGICON()
ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(DialogTest, CreatedFromTheTemplateHiddenThenCentredAndShown) {
    ProbeDialog dialog;
    bool visibleAtInit = true;
    HWND window = nullptr;
    dialog.onInit = [&](ProbeDialog& d) {
        visibleAtInit = ::IsWindowVisible(d.m_hWnd) != FALSE;
        window = d.m_hWnd;
    };
    dialog.onShown = [&](ProbeDialog& d) {
        EXPECT_TRUE(::IsWindowVisible(d.m_hWnd));
        EXPECT_EQ(zqtest::WindowText(d.m_hWnd), L"OSTRAVEL QXM V1.1");
        EXPECT_EQ(::GetWindow(d.m_hWnd, GW_OWNER), nullptr);

        RECT rect;
        ::GetWindowRect(d.m_hWnd, &rect);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(d.m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& area = monitor.rcWork;
        EXPECT_LE(std::abs((rect.left + rect.right) - (area.left + area.right)), 1);
        EXPECT_LE(std::abs((rect.top + rect.bottom) - (area.top + area.bottom)), 1);
        d.EndDialog(42);
    };
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_FALSE(visibleAtInit);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(DialogTest, InitialisationListFillsTheCombosSorted) {
    const struct {
        int id;
        std::vector<std::wstring> items;
    } combos[] = {
        {IDC_OVERWRITE, {L"OFF", L"ON"}},
        {IDC_TIMESTAMP, {L"OFF", L"ON"}},
        {IDC_RESOLUTION, {L"1080P 30FPS", L"720P 30FPS"}},
    };
    ProbeDialog dialog;
    dialog.onShown = [&](ProbeDialog& d) {
        for (const auto& combo : combos) {
            SCOPED_TRACE(combo.id);
            EXPECT_EQ(ComboItems(::GetDlgItem(d.m_hWnd, combo.id)), combo.items);
            EXPECT_EQ(zqtest::ComboSelection(d.m_hWnd, combo.id), CB_ERR);
        }
        // Data exchange attached the member to its control.
        EXPECT_EQ(d.overwrite.m_hWnd, ::GetDlgItem(d.m_hWnd, IDC_OVERWRITE));
        EXPECT_EQ(d.overwrite.GetCount(), 2);
        // A template without a list is complete and adds nothing.
        EXPECT_TRUE(d.ExecuteDlgInit(9999));
        EXPECT_EQ(d.overwrite.GetCount(), 2);
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST(DialogTest, WithoutItsTemplateTheModalRunEndsAtOnce) {
    ProbeDialog dialog(9999);
    bool started = false;
    dialog.onInit = [&](ProbeDialog&) { started = true; };
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(started);
}

TEST(DialogTest, QueuedMessagesPassPreTranslateMessageBeforeDispatch) {
    ProbeDialog dialog;
    HWND self = nullptr;
    HWND edit = nullptr;
    HWND button = nullptr;
    dialog.onShown = [&](ProbeDialog& d) {
        self = d.m_hWnd;
        edit = ComboEdit(d.m_hWnd, IDC_OVERWRITE);
        button = ::GetDlgItem(d.m_hWnd, IDC_SYNC_TIME);
        ASSERT_NE(edit, nullptr);
        d.pretranslated.clear();
        ::PostMessageW(d.m_hWnd, kWmProbe, 0, 0);
        ::PostMessageW(edit, kWmProbe, 0, 0);
        ::PostMessageW(button, kWmProbe, 0, 0);
        ::PostMessageW(d.m_hWnd, kWmSwallowed, 0, 0);
        ::PostMessageW(d.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    const std::vector<std::pair<HWND, UINT>> expected = {
        {self, kWmProbe}, {edit, kWmProbe}, {button, kWmProbe}, {self, kWmSwallowed}};
    EXPECT_EQ(dialog.pretranslated, expected);
    // Only the dialog's own probe reached its map; the swallowed message went nowhere.
    const std::vector<std::pair<HWND, UINT>> dispatched = {{self, kWmProbe}};
    EXPECT_EQ(dialog.dispatched, dispatched);
}

TEST(DialogTest, HandlerResultsReachTheSender) {
    ProbeDialog dialog;
    dialog.onShown = [&](ProbeDialog& d) {
        // Through DWLP_MSGRESULT.
        EXPECT_EQ(::SendMessageW(d.m_hWnd, kWmResult, 0, 0), kProbeResult);
        // Returned by the dialog procedure itself.
        EXPECT_EQ(::SendMessageW(d.m_hWnd, WM_QUERYDRAGICON, 0, 0),
                  reinterpret_cast<LRESULT>(::LoadCursorW(nullptr, IDC_HAND)));
        // A handler that asks for the default processing gets the system's answer.
        EXPECT_EQ(::SendMessageW(d.m_hWnd, WM_GETTEXTLENGTH, 0, 0), 17);
        EXPECT_EQ(d.getTextLengthCalls, 1);
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

// How a plain dialog (no key filter) ends: each way ends the modal loop with its result and
// destroys the window. The Enter and Escape rows show that the control panel's filter is needed.
TEST(DialogTest, ClosingEndsTheModalLoop) {
    constexpr LPARAM kAltDown = LPARAM{1} << 29;
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        INT_PTR result;
    } cases[] = {
        {"WM_CLOSE", WM_CLOSE, 0, 0, IDCANCEL},
        {"the system menu's Close", WM_SYSCOMMAND, SC_CLOSE, 0, IDCANCEL},
        {"Alt+F4", WM_SYSKEYDOWN, VK_F4, kAltDown, IDCANCEL},
        {"the Cancel command", WM_COMMAND, IDCANCEL, 0, IDCANCEL},
        {"the OK command", WM_COMMAND, IDOK, 0, IDOK},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 0, IDCANCEL},
        {"Enter", WM_KEYDOWN, VK_RETURN, 0, IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeDialog dialog;
        HWND window = nullptr;
        dialog.onShown = [&](ProbeDialog& d) {
            window = d.m_hWnd;
            ::PostMessageW(d.m_hWnd, c.message, c.wParam, c.lParam);
        };
        EXPECT_EQ(dialog.DoModal(), c.result);
        EXPECT_FALSE(::IsWindow(window));
    }
}

// Closed from inside a loop nested in a handler (as while a message box is open): the window goes
// from the screen at once, stays alive while the nested loop runs, and the modal run ends with the
// Cancel result once the handler returns.
TEST(DialogTest, EndingInsideANestedLoopHidesAtOnceAndEndsWhenItUnwinds) {
    ProbeDialog dialog;
    HWND window = nullptr;
    bool hiddenInNestedLoop = false;
    bool aliveInNestedLoop = false;
    int probesAfterEnd = 0;
    dialog.onShown = [&](ProbeDialog& d) {
        window = d.m_hWnd;
        ::PostMessageW(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        const ULONGLONG limit = ::GetTickCount64() + kWatchdogMs;
        bool ended = false;
        while (::GetTickCount64() < limit) {
            MSG msg;
            if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::Sleep(1);
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            if (!ended && !::IsWindowVisible(d.m_hWnd)) {
                ended = true;
                hiddenInNestedLoop = true;
                aliveInNestedLoop = ::IsWindow(d.m_hWnd) != FALSE;
                ::PostMessageW(d.m_hWnd, kWmProbe, 0, 0);  // still handled meanwhile
            } else if (ended && msg.message == kWmProbe) {
                ++probesAfterEnd;
                break;
            }
        }
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(hiddenInNestedLoop);
    EXPECT_TRUE(aliveInNestedLoop);
    EXPECT_EQ(probesAfterEnd, 1);
    EXPECT_FALSE(::IsWindow(window));
}

TEST(DialogTest, QuitEndsTheModalLoopAndStaysQueued) {
    ProbeDialog dialog;
    dialog.onShown = [](ProbeDialog&) { ::PostQuitMessage(5); };
    EXPECT_EQ(dialog.DoModal(), -1);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
}

}  // namespace
