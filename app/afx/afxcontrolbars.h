// The framework pieces an application prepares at start-up: control hosting in dialogs, the shell
// manager and the default visual manager. Zelquin's window uses only the system's own controls and
// no shell browsing, so each piece is only what its start-up step needs to record or hold.
#pragma once

#include <windows.h>
// windows.h first
#include <objidl.h>

// Enables hosting controls in dialogs (the default control-container manager).
void AfxEnableControlContainer();
bool AfxControlContainerEnabled();

// The shell manager: holds the shell's memory allocator. The first one constructed becomes the
// process's only shell manager until it is destroyed.
class CShellManager {
  public:
    CShellManager();
    ~CShellManager();
    CShellManager(const CShellManager&) = delete;
    CShellManager& operator=(const CShellManager&) = delete;

    IMalloc* GetMalloc() const { return m_pMalloc; }

  private:
    IMalloc* m_pMalloc = nullptr;
};

CShellManager* AfxGetShellManager();

// A class's run-time description, enough to name a class to the framework.
struct CRuntimeClass {
    const char* m_lpszClassName;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

// The visual manager that decides how the framework draws its own elements. The control panel
// draws none, so only the choice of default is recorded.
class CMFCVisualManager {
  public:
    static const CRuntimeClass classCMFCVisualManager;

    static void SetDefaultManager(const CRuntimeClass* pRTI);
    static const CRuntimeClass* GetDefaultManager();
};

// Draws in the native Windows theme.
class CMFCVisualManagerWindows : public CMFCVisualManager {
  public:
    static const CRuntimeClass classCMFCVisualManagerWindows;
};
