// The application object, its start-up and the framework's entry.
#include <objbase.h>

#include <vector>

#include "app/afx/afxwin.h"

namespace {

CWinApp* g_pApp = nullptr;

// The file name of the module without its folder and extension.
std::wstring ModuleBaseName(HINSTANCE module) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated: try again with more room
    }
    std::wstring name(path.begin(), path.end());
    const std::size_t folder = name.find_last_of(L"\\/");
    if (folder != std::wstring::npos) {
        name.erase(0, folder + 1);
    }
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) {
        name.erase(dot);
    }
    return name;
}

// A freshly made GUID as registry-format text, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring NewGuidText() {
    GUID guid;
    if (FAILED(::CoCreateGuid(&guid))) {
        return {};
    }
    wchar_t text[40];
    if (::StringFromGUID2(guid, text, static_cast<int>(sizeof text / sizeof text[0])) == 0) {
        return {};
    }
    return text;
}

}  // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName) {
    if (lpszAppName != nullptr) {
        m_strAppName = lpszAppName;
    }
    if (g_pApp == nullptr) {
        g_pApp = this;
    }
}

CWinApp::~CWinApp() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    if ((m_dwRestartManagerSupportFlags & AFX_RESTART_MANAGER_SUPPORT_RESTART) != 0) {
        m_strRestartIdentifier = NewGuidText();
        m_strRestartCommandLine = m_lpCmdLine != nullptr ? m_lpCmdLine : L"";
        m_strRestartCommandLine += L" /";
        m_strRestartCommandLine += kAfxRestartArgument;
        m_strRestartCommandLine += L':';
        m_strRestartCommandLine += m_strRestartIdentifier;
        (void)::RegisterApplicationRestart(m_strRestartCommandLine.c_str(), 0);
    }
    return TRUE;
}

int CWinApp::Run() {
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ExitInstance();
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey) {
    m_strRegistryKey = lpszRegistryKey != nullptr ? lpszRegistryKey : L"";
    m_strProfileName = m_strAppName;
}

void CWinApp::OnHelp() {
    ::MessageBeep(MB_OK);
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle() {
    if (g_pApp != nullptr && g_pApp->m_hInstance != nullptr) {
        return g_pApp->m_hInstance;
    }
    return ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    return AfxGetInstanceHandle();
}

BOOL AfxWinInit(CWinApp* pApp, HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow) {
    pApp->m_hInstance = hInstance;
    pApp->m_lpCmdLine = lpCmdLine;
    pApp->m_nCmdShow = nCmdShow;
    pApp->m_strExeName = ModuleBaseName(hInstance);
    if (pApp->m_strAppName.empty()) {
        pApp->m_strAppName = pApp->m_strExeName;
    }
    return TRUE;
}

int AfxWinMain(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr || !AfxWinInit(app, hInstance, lpCmdLine, nCmdShow)) {
        return -1;
    }
    if (!app->InitInstance()) {
        return app->ExitInstance();
    }
    return app->Run();
}
