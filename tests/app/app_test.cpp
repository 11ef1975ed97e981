// The application: its one object, the framework's start-up steps, and the whole start-up run
// from the framework's entry to the end of the modal panel.
#include <gtest/gtest.h>

#include "app/afx/afxwin.h"
// the framework first
#include <cwctype>
#include <string>

#include "app/afx/afxcontrolbars.h"
#include "app/zelquin_app.h"
#include "window_test.h"

namespace {

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, hexadecimal digits.
bool IsGuidText(const std::wstring& text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') {
        return false;
    }
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !std::iswxdigit(text[i])) {
            return false;
        }
    }
    return true;
}

TEST(AppTest, TheApplicationObjectDeclaresRestartSupportOnly) {
    EXPECT_EQ(AfxGetApp(), &g_app);
    EXPECT_EQ(g_app.m_dwRestartManagerSupportFlags, DWORD{AFX_RESTART_MANAGER_SUPPORT_RESTART});
}

TEST(AppTest, TheRegistryKeyIsTheWizardsChineseText) {
    // 应用程序向导生成的本地应用程序, spelled by code point.
    const wchar_t expected[] = {0x5E94, 0x7528, 0x7A0B, 0x5E8F, 0x5411, 0x5BFC, 0x751F, 0x6210,
                                0x7684, 0x672C, 0x5730, 0x5E94, 0x7528, 0x7A0B, 0x5E8F, 0};
    EXPECT_EQ(std::wstring(kRegistryKey), std::wstring(expected));
}

TEST(AppTest, RestartRegistrationFollowsTheFlags) {
    const struct {
        DWORD flags;
        bool registers;
    } cases[] = {
        {0, false},
        {AFX_RESTART_MANAGER_SUPPORT_RESTART, true},
        {0x3E, false},  // every other support flag, restart not among them
        {0x3F, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        CWinApp app(L"probe");
        wchar_t commandLine[] = L"-a \"b c\"";
        app.m_lpCmdLine = commandLine;
        app.m_dwRestartManagerSupportFlags = c.flags;
        EXPECT_TRUE(app.InitInstance());
        if (!c.registers) {
            EXPECT_EQ(app.m_strRestartIdentifier, L"");
            continue;
        }
        EXPECT_TRUE(IsGuidText(app.m_strRestartIdentifier)) << app.m_strRestartIdentifier.c_str();
        EXPECT_EQ(app.m_strRestartCommandLine,
                  L"-a \"b c\" /RestartByRestartManager:" + app.m_strRestartIdentifier);
        const std::wstring first = app.m_strRestartIdentifier;
        app.InitInstance();
        EXPECT_NE(app.m_strRestartIdentifier, first) << "the identifier is not made afresh";
    }
}

TEST(AppTest, NamesComeFromTheExecutableAndTheRegistryKeyIsOnlyRecorded) {
    CWinApp unnamed;
    wchar_t none[] = L"";
    AfxWinInit(&unnamed, ::GetModuleHandleW(nullptr), none, SW_SHOW);
    EXPECT_EQ(unnamed.m_strExeName, L"app_tests");
    EXPECT_EQ(unnamed.m_strAppName, L"app_tests");
    unnamed.SetRegistryKey(kRegistryKey);
    EXPECT_EQ(unnamed.m_strRegistryKey, kRegistryKey);
    EXPECT_EQ(unnamed.m_strProfileName, L"app_tests");

    CWinApp named(L"Named");
    AfxWinInit(&named, ::GetModuleHandleW(nullptr), none, SW_SHOW);
    EXPECT_EQ(named.m_strAppName, L"Named");
    named.SetRegistryKey(L"Key");
    EXPECT_EQ(named.m_strProfileName, L"Named");

    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Key", 0, KEY_READ, &key),
              ERROR_SUCCESS);
}

TEST(AppTest, OneShellManagerAtATime) {
    ASSERT_EQ(AfxGetShellManager(), nullptr);
    {
        CShellManager first;
        EXPECT_NE(first.GetMalloc(), nullptr);
        {
            CShellManager second;
            EXPECT_EQ(AfxGetShellManager(), &first);
        }
        EXPECT_EQ(AfxGetShellManager(), &first);
    }
    EXPECT_EQ(AfxGetShellManager(), nullptr);
}

// What the start-up holds while the panel runs, seen from a timer that the panel's modal loop
// dispatches; it then closes the panel as the user would.
struct DuringRun {
    bool seen = false;
    HWND panel = nullptr;
    bool mainWindowIsPanel = false;
    bool shellManager = false;
    bool controlContainer = false;
    const CRuntimeClass* visualManager = nullptr;
    std::wstring registryKey;
};
DuringRun g_during;

void CALLBACK ClosePanel(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND panel = ::FindWindowW(L"#32770", L"OSTRAVEL QXM V1.1");
    if (panel == nullptr) {
        return;
    }
    ::KillTimer(nullptr, timer);
    g_during.seen = true;
    g_during.panel = panel;
    g_during.mainWindowIsPanel = g_app.m_pMainWnd != nullptr && g_app.m_pMainWnd->m_hWnd == panel;
    g_during.shellManager = AfxGetShellManager() != nullptr;
    g_during.controlContainer = AfxControlContainerEnabled();
    g_during.visualManager = CMFCVisualManager::GetDefaultManager();
    g_during.registryKey = g_app.m_strRegistryKey;
    ::PostMessageW(panel, WM_CLOSE, 0, 0);
}

TEST(AppTest, TheProgramRunsThePanelAndEndsWhenItCloses) {
    zqtest::ResetAppProcessState();
    g_during = {};
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, ClosePanel);
    wchar_t commandLine[] = L"";
    const int exitCode = AfxWinMain(::GetModuleHandleW(nullptr), commandLine, SW_SHOWNORMAL);
    ::KillTimer(nullptr, timer);

    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(g_during.seen);
    EXPECT_TRUE(g_during.mainWindowIsPanel);
    EXPECT_TRUE(g_during.shellManager);
    EXPECT_TRUE(g_during.controlContainer);
    EXPECT_EQ(g_during.visualManager, RUNTIME_CLASS(CMFCVisualManagerWindows));
    EXPECT_EQ(g_during.registryKey, kRegistryKey);
    EXPECT_TRUE(IsGuidText(g_app.m_strRestartIdentifier));

    // Afterwards: no window, no shell manager, no main window.
    EXPECT_FALSE(::IsWindow(g_during.panel));
    EXPECT_EQ(AfxGetShellManager(), nullptr);
    EXPECT_EQ(g_app.m_pMainWnd, nullptr);
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    zqtest::ResetAppProcessState();
}

}  // namespace
