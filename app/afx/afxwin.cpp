// Message maps, windows and data exchange.
#include "app/afx/afxwin.h"

const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code,
                                            UINT id) {
    for (; map != nullptr; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
            if (entry->nMessage == message && entry->nCode == code && entry->nID == id) {
                return entry;
            }
        }
    }
    return nullptr;
}

// ---- CCmdTarget ----

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY kNoEntries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP kRootMap = {nullptr, kNoEntries};
    return &kRootMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CCmdTarget::OnMapMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    }
    const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), message, code, id);
    if (entry == nullptr) {
        return FALSE;
    }
    *pResult = entry->pfn(*this, wParam, lParam);
    return TRUE;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode) {
    LRESULT ignored = 0;
    return OnMapMessage(WM_COMMAND, MAKEWPARAM(nID, nCode), 0, &ignored);
}

// ---- CWnd ----

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange exchange(this, bSaveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CWnd::CenterWindow() {
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    RECT area;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner != nullptr) {
        ::GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    const LONG x = area.left + (area.right - area.left - width) / 2;
    const LONG y = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    // A handler may pump messages (a message box) and so be re-entered; each level keeps its own
    // request for default processing.
    const bool outer = m_bDefault;
    m_bDefault = false;
    BOOL handled = OnMapMessage(message, wParam, lParam, pResult);
    if (handled) {
        handled = m_bDefault ? FALSE : TRUE;
    } else if (message == WM_COMMAND) {
        CWinApp* app = AfxGetApp();
        if (app != nullptr) {
            handled = app->OnMapMessage(message, wParam, lParam, pResult);
        }
    }
    m_bDefault = outer;
    return handled;
}

LRESULT CWnd::Default() {
    m_bDefault = true;
    return 0;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    rControl.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}
