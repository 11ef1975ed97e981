// Helpers of the window tests: reading controls through Win32 queries, running a dialog modally
// with a check inside its loop, and the process-wide state put back before each test.
#pragma once

#include <gtest/gtest.h>

#include "app/afx/afxwin.h"
// the framework first
#include <algorithm>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/resource.h"
#include "app/zelquin_dlg.h"
#include "host/device_records.h"
#include "link/camera.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "sim/world.h"
#include "tests/support/controls.h"
#include "tests/support/process_state.h"
#include "tests/support/wire.h"

namespace zqtest {

// Posted by a test dialog to itself at the end of its start-up: the check then runs inside the
// modal loop, with the window shown.
inline constexpr UINT kWmShown = WM_APP + 100;
// Ends the dialog with its wParam as the result.
inline constexpr UINT kWmEnd = WM_APP + 101;
// A timer that ends a dialog whose test failed to close it, so that the test fails instead of
// hanging. Timer messages come only when the queue is empty, after every posted message.
inline constexpr UINT_PTR kWatchdogTimer = 0x7A51;
inline constexpr UINT kWatchdogMs = 10000;
inline constexpr int kWatchdogResult = -77;

inline std::wstring WindowText(HWND window) {
    wchar_t text[512] = L"";
    ::GetWindowTextW(window, text, 512);
    return text;
}

inline std::wstring ControlText(HWND dialog, int id) {
    return WindowText(::GetDlgItem(dialog, id));
}

inline std::vector<std::wstring> ComboItems(HWND combo) {
    std::vector<std::wstring> items;
    const auto count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = L"";
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

inline int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(::SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

// The edit field of a drop-down combo box.
inline HWND ComboEdit(HWND dialog, int id) {
    return ::FindWindowExW(::GetDlgItem(dialog, id), nullptr, L"Edit", nullptr);
}

// Every process-wide state of the panel back to its value at process start (the core's layers),
// the simulated devices emptied; the system half is Wine's own.
inline void ResetAppProcessState() {
    ResetCoreState();
    ResetSimWorld();
}

// The control panel with the test's hooks: message boxes and pauses are recorded instead of
// shown and waited for, and `onShown` runs in the modal loop once the window has started.
class PanelUnderTest : public CZelquinDlg {
  public:
    struct Box {
        std::wstring text;
        std::wstring caption;
        std::uint32_t type;
        std::uint16_t language;
    };

    std::function<void(PanelUnderTest&)> onShown;
    std::vector<Box> boxes;
    std::vector<std::uint32_t> pauses;
    bool realMessageBoxes = false;
    // The device contexts WM_ICONERASEBKGND came with.
    std::vector<WPARAM> iconBackgrounds;
    // False when the check closes the window its own way.
    bool closeAfterCheck = true;

    // Runs the panel modally; the check ends it with IDCANCEL unless it closed it itself.
    INT_PTR Run(std::function<void(PanelUnderTest&)> check) {
        onShown = std::move(check);
        return DoModal();
    }

    void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t type,
                        std::uint16_t language) override {
        if (realMessageBoxes) {
            CZelquinDlg::ShowMessageBox(text, caption, type, language);
        } else {
            boxes.push_back({text, caption, type, language});
        }
    }
    void Pause(std::uint32_t milliseconds) override { pauses.push_back(milliseconds); }

    std::vector<std::wstring> BoxTexts() const {
        std::vector<std::wstring> texts;
        for (const Box& box : boxes) {
            texts.push_back(box.text);
        }
        return texts;
    }

    HICON AppIcon() const { return m_appIcon; }
    CComboBox& OverwriteCombo() { return m_overwriteCombo; }

  protected:
    BOOL OnInitDialog() override {
        const BOOL focus = CZelquinDlg::OnInitDialog();
        ::SetTimer(m_hWnd, kWatchdogTimer, kWatchdogMs, nullptr);
        ::PostMessageW(m_hWnd, kWmShown, 0, 0);
        return focus;
    }

    LRESULT OnShown(WPARAM, LPARAM) {
        if (onShown) {
            onShown(*this);
        }
        if (closeAfterCheck && m_hWnd != nullptr && !closing_) {
            closing_ = true;
            ::PostMessageW(m_hWnd, WM_COMMAND, IDCANCEL, 0);
        }
        return 0;
    }

    LRESULT OnIconEraseBackground(WPARAM hdc, LPARAM) {
        iconBackgrounds.push_back(hdc);
        return Default();
    }

    LRESULT OnEnd(WPARAM wParam, LPARAM) {
        EndDialog(static_cast<int>(wParam));
        return 0;
    }

    void OnTimer(UINT_PTR id) {
        if (id == kWatchdogTimer) {
            EndDialog(kWatchdogResult);
            return;
        }
        CZelquinDlg::OnTimer(id);
    }

    DECLARE_MESSAGE_MAP()

  private:
    bool closing_ = false;
};

}  // namespace zqtest
