// The application: its one static object and its start-up, which shows the control panel
// modally and ends the program when the panel closes.
#pragma once

#include "app/afx/afxwin.h"

// The framework's registry key for per-user settings; the program itself keeps none.
inline constexpr wchar_t kRegistryKey[] = L"应用程序向导生成的本地应用程序";

class CZelquinApp : public CWinApp {
  public:
    CZelquinApp();
    ~CZelquinApp() override;

    DECLARE_MESSAGE_MAP()

  public:
    BOOL InitInstance() override;
};

extern CZelquinApp g_app;
