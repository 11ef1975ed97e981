#include "app/afx/afxcontrolbars.h"

#include <shlobj.h>

namespace {

bool g_controlContainer = false;
CShellManager* g_pShellManager = nullptr;
const CRuntimeClass* g_pDefaultVisualManager = &CMFCVisualManager::classCMFCVisualManager;

}  // namespace

void AfxEnableControlContainer() {
    g_controlContainer = true;
}

bool AfxControlContainerEnabled() {
    return g_controlContainer;
}

CShellManager::CShellManager() {
    if (FAILED(::SHGetMalloc(&m_pMalloc))) {
        m_pMalloc = nullptr;
    }
    if (g_pShellManager == nullptr) {
        g_pShellManager = this;
    }
}

CShellManager::~CShellManager() {
    if (g_pShellManager == this) {
        g_pShellManager = nullptr;
    }
    if (m_pMalloc != nullptr) {
        m_pMalloc->Release();
    }
}

CShellManager* AfxGetShellManager() {
    return g_pShellManager;
}

const CRuntimeClass CMFCVisualManager::classCMFCVisualManager = {"CMFCVisualManager"};
const CRuntimeClass CMFCVisualManagerWindows::classCMFCVisualManagerWindows = {
    "CMFCVisualManagerWindows"};

void CMFCVisualManager::SetDefaultManager(const CRuntimeClass* pRTI) {
    g_pDefaultVisualManager = pRTI;
}

const CRuntimeClass* CMFCVisualManager::GetDefaultManager() {
    return g_pDefaultVisualManager;
}
