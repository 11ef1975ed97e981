// Zelquin's small application framework: the application object and its entry point, windows and
// dialogs with static message maps, the modal dialog loop, combo-box attachment by data exchange,
// time values and paint scopes. It carries only what one dialog application needs and is built
// on documented Win32 behaviour alone.
#pragma once

#include <windows.h>
// windows.h first
#include <ctime>
#include <string>

// winbase.h maps GetCurrentTime to GetTickCount; CTime has its own.
#undef GetCurrentTime

// The framework's standard help command.
#define ID_HELP 0xE146

// Restart-manager support flags of CWinApp::m_dwRestartManagerSupportFlags.
#define AFX_RESTART_MANAGER_SUPPORT_RESTART 0x01
#define AFX_RESTART_MANAGER_SUPPORT_RECOVERY 0x02
#define AFX_RESTART_MANAGER_AUTOSAVE_AT_RESTART 0x04
#define AFX_RESTART_MANAGER_AUTOSAVE_AT_INTERVAL 0x08
#define AFX_RESTART_MANAGER_REOPEN_PREVIOUS_FILES 0x10
#define AFX_RESTART_MANAGER_RESTORE_AUTOSAVED_FILES 0x20

// The argument the framework adds to the command line it registers for a restart.
inline constexpr wchar_t kAfxRestartArgument[] = L"RestartByRestartManager";

class CCmdTarget;
class CWnd;
class CWinApp;

// ---- message maps ----

// A handler as the map stores it: a thunk that unpacks the message's parameters for one member
// function and returns the message's result.
using AFX_PMSG = LRESULT (*)(CCmdTarget& target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // the window message
    UINT nCode;     // WM_COMMAND: the notification code; otherwise 0
    UINT nID;       // WM_COMMAND: the control or command id; otherwise 0
    AFX_PMSG pfn;   // null in the entry that ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root map
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The first entry for (message, code, id): the class's own table in order, then its base's, and
// so on up the chain. Null when no map names the message.
const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code,
                                            UINT id);

namespace afx {

template <class F>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
    using Class = C;
};

template <auto F>
auto& Target(CCmdTarget& target) {
    return static_cast<typename MemberOf<decltype(F)>::Class&>(target);
}

// void F()
template <auto F>
LRESULT Call_v_v(CCmdTarget& target, WPARAM, LPARAM) {
    (Target<F>(target).*F)();
    return 0;
}

// HANDLE F(): the handle is the result.
template <auto F>
LRESULT Call_h_v(CCmdTarget& target, WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>((Target<F>(target).*F)());
}

// BOOL F(UINT event, DWORD_PTR data): WM_DEVICECHANGE.
template <auto F>
LRESULT Call_b_u_dw(CCmdTarget& target, WPARAM wParam, LPARAM lParam) {
    return (Target<F>(target).*F)(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));
}

// void F(UINT_PTR id): WM_TIMER.
template <auto F>
LRESULT Call_v_up(CCmdTarget& target, WPARAM wParam, LPARAM) {
    (Target<F>(target).*F)(static_cast<UINT_PTR>(wParam));
    return 0;
}

// LRESULT F(WPARAM, LPARAM): any message, parameters as they come.
template <auto F>
LRESULT Call_l_w_l(CCmdTarget& target, WPARAM wParam, LPARAM lParam) {
    return (Target<F>(target).*F)(wParam, lParam);
}

}  // namespace afx

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                      \
  protected:                                                                                       \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }             \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                              \
        using ThisClass [[maybe_unused]] = theClass;                                               \
        using TheBaseClass = baseClass;                                                            \
        static const AFX_MSGMAP_ENTRY kMessageEntries[] = {

#define END_MESSAGE_MAP()                                                                          \
            {0, 0, 0, nullptr}};                                                                   \
        static const AFX_MSGMAP kMessageMap = {&TheBaseClass::GetThisMessageMap, kMessageEntries}; \
        return &kMessageMap;                                                                       \
    }

#define ON_WM_PAINT() {WM_PAINT, 0, 0, &::afx::Call_v_v<&ThisClass::OnPaint>},
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0, &::afx::Call_h_v<&ThisClass::OnQueryDragIcon>},
#define ON_WM_DEVICECHANGE() \
    {WM_DEVICECHANGE, 0, 0, &::afx::Call_b_u_dw<&ThisClass::OnDeviceChange>},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, &::afx::Call_v_up<&ThisClass::OnTimer>},
#define ON_MESSAGE(message, memberFxn) {message, 0, 0, &::afx::Call_l_w_l<&memberFxn>},
#define ON_COMMAND(id, memberFxn) {WM_COMMAND, 0, id, &::afx::Call_v_v<&memberFxn>},
#define ON_BN_CLICKED(id, memberFxn) {WM_COMMAND, BN_CLICKED, id, &::afx::Call_v_v<&memberFxn>},
#define ON_CBN_SELCHANGE(id, memberFxn) \
    {WM_COMMAND, CBN_SELCHANGE, id, &::afx::Call_v_v<&memberFxn>},
// clang-format on

// ---- command targets and windows ----

// Anything with a message map.
class CCmdTarget {
  public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    virtual const AFX_MSGMAP* GetMessageMap() const;

    // Runs the handler that the map chain names for the message. False when no map names it.
    BOOL OnMapMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // A command (WM_COMMAND with its notification code and id) through the map chain.
    BOOL OnCmdMsg(UINT nID, UINT nCode);

  protected:
    static const AFX_MSGMAP* GetThisMessageMap();
};

class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
    CWnd* m_pDlgWnd;
};

// A window: its handle and its message map. Handlers call Default() to have the system's default
// processing run for the message once they return.
class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    ~CWnd() override = default;

    virtual void DoDataExchange(CDataExchange* pDX);
    // Called by the modal loop for every message taken from the queue for the window or one of
    // its children, before it is translated and dispatched; TRUE consumes the message.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
    }
    // Centres the window on its owner, or on the work area of its monitor when it has none.
    void CenterWindow();

    // The message's handling: the map chain first, then, for a command nothing in the window's
    // chain names, the application's map. False leaves the message to the system.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    HWND m_hWnd = nullptr;

  protected:
    LRESULT Default();
    void OnPaint() { Default(); }
    void OnTimer(UINT_PTR) { Default(); }

  private:
    bool m_bDefault = false;
};

class CComboBox : public CWnd {
  public:
    int GetCount() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)); }
    int GetCurSel() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)); }
    // -1 clears the selection.
    int SetCurSel(int nSelect) {
        return static_cast<int>(
            ::SendMessageW(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(nSelect), 0));
    }
};

// Attaches `rControl` to the dialog's control `nIDC`.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// ---- dialogs ----

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;
    // Applies the template's initialisation list, then UpdateData(FALSE). Returns TRUE, so the
    // system puts the focus on the first control that takes it.
    virtual BOOL OnInitDialog();

    // Creates the window from the template, runs the modal loop until EndDialog and destroys the
    // window. Returns the EndDialog result, or -1 when the window could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    // Sends the entries of the dialog initialisation list (resource type 240, id `nIDTemplate`) to
    // their controls. FALSE when the list breaks off before its end; the entries before the break
    // are applied. A template without a list is complete.
    BOOL ExecuteDlgInit(UINT nIDTemplate);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

  protected:
    virtual void OnOK();
    virtual void OnCancel();
    DECLARE_MESSAGE_MAP()

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleInitDialog();
    void RunModalLoop();

    bool m_bCenter = false;
    bool m_bEndModal = false;
    INT_PTR m_nModalResult = -1;
};

class CDialogEx : public CDialog {
  public:
    explicit CDialogEx(UINT nIDTemplate, CWnd* pParent = nullptr) : CDialog(nIDTemplate, pParent) {}

    DECLARE_MESSAGE_MAP()
};

// ---- the application ----

class CWinApp : public CCmdTarget {
  public:
    // The first application object constructed becomes the process's application. Without a name
    // the executable's name (found by AfxWinInit) is the application name.
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    // Registers for a restart with the Restart Manager when m_dwRestartManagerSupportFlags asks
    // for it. Returns TRUE.
    virtual BOOL InitInstance();
    // The message loop, for an application whose InitInstance returned TRUE.
    virtual int Run();
    virtual int ExitInstance();

    // Records the registry key and takes the application name as the profile name. No registry
    // is read or written.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);

    // The standard help command. There is no help content: a help request is acknowledged with
    // the system's default beep and otherwise ignored.
    void OnHelp();

    HINSTANCE m_hInstance = nullptr;
    LPWSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    CWnd* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;
    std::wstring m_strAppName;
    std::wstring m_strExeName;
    std::wstring m_strRegistryKey;
    std::wstring m_strProfileName;
    // The GUID text of the last restart registration; empty when none was made.
    std::wstring m_strRestartIdentifier;
    // The command line that registration handed to RegisterApplicationRestart.
    std::wstring m_strRestartCommandLine;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// Gives the application its instance, command line and names.
BOOL AfxWinInit(CWinApp* pApp, HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow);
// The framework's entry: AfxWinInit, InitInstance, then Run when it returned TRUE, else
// ExitInstance. Returns the process's exit code.
int AfxWinMain(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow);

// ---- small value types ----

class CTime {
  public:
    explicit CTime(__time64_t time = 0) : m_time(time) {}
    // The current calendar time (_time64).
    static CTime GetCurrentTime() { return CTime(::_time64(nullptr)); }
    __time64_t GetTime() const { return m_time; }

  private:
    __time64_t m_time;
};

// BeginPaint for the lifetime of the object, EndPaint at its end.
class CPaintDC {
  public:
    explicit CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd), m_hDC(::BeginPaint(m_hWnd, &m_ps)) {}
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }

    PAINTSTRUCT m_ps{};

  private:
    HWND m_hWnd;
    HDC m_hDC;
};
