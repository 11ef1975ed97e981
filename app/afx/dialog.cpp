// Dialogs: creation from the template resource, the initialisation list, and the modal loop.
//
// The window is created modeless (CreateDialogIndirectParamW) and run by the framework's own
// loop, so that every queued message passes PreTranslateMessage before IsDialogMessageW and the
// usual translate-and-dispatch. The dialog procedure hands each message to the object's message
// map; what no map names is left to the system's dialog handling.
#include <span>

#include "app/afx/afxwin.h"
#include "app/afx/dlginit.h"
#include "os/bytes.h"

namespace {

struct Resource {
    const void* data = nullptr;
    DWORD size = 0;
};

Resource FindResourceBytes(UINT id, LPCWSTR type) {
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return {};
    }
    HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr) {
        return {};
    }
    return {::LockResource(loaded), ::SizeofResource(module, found)};
}

std::uint16_t Word(const Resource& resource, DWORD at) {
    return bytes::GetLe16(static_cast<const std::uint8_t*>(resource.data), at);
}

std::uint32_t Dword(const Resource& resource, DWORD at) {
    return bytes::GetLe32(static_cast<const std::uint8_t*>(resource.data), at);
}

// True when the template leaves the dialog's place to its creator: position 0, 0 and none of the
// styles by which the template places it itself.
bool TemplateAsksNoPlacement(const Resource& dialogTemplate) {
    DWORD styleAt = 0;  // DLGTEMPLATE: style, extended style, item count, x, y, ...
    DWORD xAt = 10;
    if (dialogTemplate.size >= 4 && Word(dialogTemplate, 0) == 1 &&
        Word(dialogTemplate, 2) == 0xFFFF) {
        styleAt = 12;  // DLGTEMPLATEEX: version, signature, help id, extended style, style, ...
        xAt = 18;
    }
    if (dialogTemplate.size < xAt + 4) {
        return false;
    }
    const DWORD style = Dword(dialogTemplate, styleAt);
    const DWORD placing = DS_ABSALIGN | DS_CENTER | DS_CENTERMOUSE;
    return (style & placing) == 0 && Word(dialogTemplate, xAt) == 0 &&
           Word(dialogTemplate, xAt + 2) == 0;
}

// Messages whose result the dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ResultIsReturned(UINT message) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_INITDIALOG:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- CDialog ----

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, CDialog::OnOK)
ON_COMMAND(IDCANCEL, CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    // A dialog object that goes while its window is still up takes the window with it.
    if (m_hWnd != nullptr) {
        ::DestroyWindow(m_hWnd);
    }
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

BOOL CDialog::OnInitDialog() {
    ExecuteDlgInit(m_nIDTemplate);
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::ExecuteDlgInit(UINT nIDTemplate) {
    const Resource list = FindResourceBytes(nIDTemplate, MAKEINTRESOURCEW(kDlgInitResourceType));
    if (list.data == nullptr) {
        return TRUE;
    }
    const DlgInitList parsed =
        ParseDlgInit({static_cast<const std::uint8_t*>(list.data), list.size});
    for (const DlgInitEntry& entry : parsed.entries) {
        UINT message = 0;
        if (entry.message == kDlgInitComboAddString) {
            message = CB_ADDSTRING;
        } else if (entry.message == kDlgInitListAddString) {
            message = LB_ADDSTRING;
        } else {
            continue;  // nothing else is sent: the list's data must not choose arbitrary messages
        }
        const std::wstring text = DlgInitText(entry);
        ::SendDlgItemMessageW(m_hWnd, entry.controlId, message, 0,
                              reinterpret_cast<LPARAM>(text.c_str()));
    }
    return parsed.complete ? TRUE : FALSE;
}

INT_PTR CDialog::DoModal() {
    const Resource dialogTemplate = FindResourceBytes(m_nIDTemplate, RT_DIALOG);
    if (dialogTemplate.data == nullptr) {
        return -1;
    }
    m_bCenter = TemplateAsksNoPlacement(dialogTemplate);
    m_bEndModal = false;
    m_nModalResult = -1;

    HWND parent = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    const bool disableParent = parent != nullptr && ::IsWindowEnabled(parent);
    if (disableParent) {
        ::EnableWindow(parent, FALSE);
    }
    HWND hWnd = ::CreateDialogIndirectParamW(
        AfxGetResourceHandle(), static_cast<LPCDLGTEMPLATEW>(dialogTemplate.data), parent,
        &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (hWnd != nullptr) {
        RunModalLoop();
    }
    if (disableParent) {
        ::EnableWindow(parent, TRUE);
    }
    if (hWnd != nullptr) {
        ::DestroyWindow(hWnd);
    }
    return m_nModalResult;
}

void CDialog::RunModalLoop() {
    while (!m_bEndModal) {
        MSG msg;
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) {
            m_nModalResult = -1;
            break;
        }
        if (got == 0) {
            // WM_QUIT ends this loop and is left for the loop outside it.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            m_nModalResult = -1;
            break;
        }
        const bool mine = m_hWnd != nullptr && (msg.hwnd == m_hWnd || ::IsChild(m_hWnd, msg.hwnd));
        if (mine && PreTranslateMessage(&msg)) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEndModal = true;
    // As the system's own end of a modal dialog: the window goes from the screen at once, while
    // the modal loop ends only when control comes back to it, after any loop nested in a handler
    // (an open message box's) has unwound.
    if (m_hWnd != nullptr) {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) {
        return;
    }
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

INT_PTR CDialog::HandleInitDialog() {
    const BOOL focus = OnInitDialog();
    if (m_bCenter && !m_bEndModal) {
        CenterWindow();
    }
    return focus;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
        return dialog->HandleInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;  // before WM_INITDIALOG (WM_SETFONT) and after WM_NCDESTROY
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        return FALSE;
    }
    LRESULT result = 0;
    if (!dialog->OnWndMsg(message, wParam, lParam, &result)) {
        return FALSE;
    }
    if (ResultIsReturned(message)) {
        return result;
    }
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

// ---- CDialogEx ----

BEGIN_MESSAGE_MAP(CDialogEx, CDialog)
END_MESSAGE_MAP()
