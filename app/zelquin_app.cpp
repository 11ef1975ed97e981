#include "app/zelquin_app.h"

#include <commctrl.h>

#include <memory>

#include "app/afx/afxcontrolbars.h"
#include "app/zelquin_dlg.h"
#include "os/init_order.h"

BEGIN_MESSAGE_MAP(CZelquinApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CZelquinApp g_app ZQ_CONSTRUCTED_IN_ORDER(1);

CZelquinApp::CZelquinApp() {
    m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART;
}

CZelquinApp::~CZelquinApp() = default;

BOOL CZelquinApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    AfxEnableControlContainer();
    auto shellManager = std::make_unique<CShellManager>();
    CMFCVisualManager::SetDefaultManager(RUNTIME_CLASS(CMFCVisualManagerWindows));
    SetRegistryKey(kRegistryKey);

    CZelquinDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();

    shellManager.reset();
    m_pMainWnd = nullptr;  // the window object ends with this function
    return FALSE;          // no message loop: the program ends with the panel
}
