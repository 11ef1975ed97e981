#include "app/zelquin_dlg.h"

#include <cwchar>

#include "host/device_records.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"

BEGIN_MESSAGE_MAP(CZelquinDlg, CDialogEx)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_DEVICECHANGE()
ON_BN_CLICKED(IDC_OPEN_FOLDER, CZelquinDlg::OnOpenFolder)
ON_BN_CLICKED(IDC_SYNC_TIME, CZelquinDlg::OnSyncTime)
ON_CBN_SELCHANGE(IDC_OVERWRITE, CZelquinDlg::OnOverwriteChange)
ON_CBN_SELCHANGE(IDC_TIMESTAMP, CZelquinDlg::OnTimestampChange)
ON_CBN_SELCHANGE(IDC_RESOLUTION, CZelquinDlg::OnResolutionChange)
ON_WM_TIMER()
END_MESSAGE_MAP()

CZelquinDlg::CZelquinDlg(CWnd* pParent) : CDialogEx(IDD_CONTROL_PANEL, pParent) {
    // The shared resource icon at the system's standard size; never destroyed.
    m_appIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_APP_ICON));
}

CZelquinDlg::~CZelquinDlg() = default;

void CZelquinDlg::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_OVERWRITE, m_overwriteCombo);
    DDX_Control(pDX, IDC_TIMESTAMP, m_timestampCombo);
    DDX_Control(pDX, IDC_RESOLUTION, m_resolutionCombo);
}

BOOL CZelquinDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();

    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_appIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_appIcon));

    SetTimer(ID_CLOCK_TIMER, 1000, nullptr);
    ::RegisterDeviceNotifications(m_hWnd);
    ConnectCamera();
    return TRUE;  // the system puts the focus on the first control that takes it
}

BOOL CZelquinDlg::PreTranslateMessage(MSG* pMsg) {
    // Enter and Escape would act as the dialog's OK and Cancel and close the panel.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN)) {
        return TRUE;
    }
    return CDialogEx::PreTranslateMessage(pMsg);
}

POINT CZelquinDlg::IconOrigin(const RECT& client, int cxIcon, int cyIcon) {
    const LONG width = client.right - client.left;
    const LONG height = client.bottom - client.top;
    return {(width - cxIcon + 1) / 2, (height - cyIcon + 1) / 2};
}

void CZelquinDlg::OnPaint() {
    if (!IsIconic()) {
        CDialogEx::OnPaint();
        return;
    }
    CPaintDC dc(this);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(&client);
    const POINT origin = IconOrigin(client, cxIcon, cyIcon);
    ::DrawIcon(dc.GetSafeHdc(), origin.x, origin.y, m_appIcon);
}

HCURSOR CZelquinDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_appIcon);
}

void CZelquinDlg::FormatClock(__time64_t time, wchar_t (&text)[kClockTextChars]) {
    text[0] = L'\0';
    std::tm local{};
    if (::_localtime64_s(&local, &time) != 0) {
        return;
    }
    if (std::wcsftime(text, kClockTextChars, L"%Y-%m-%d %H:%M:%S", &local) == 0) {
        text[0] = L'\0';  // the buffer's contents are undefined when nothing was formatted
    }
}

void CZelquinDlg::OnTimer(UINT_PTR nIDEvent) {
    // Every timer refreshes the clock, whatever its id.
    wchar_t text[kClockTextChars];
    FormatClock(CTime::GetCurrentTime().GetTime(), text);
    ::SetWindowTextW(::GetDlgItem(m_hWnd, IDC_PC_TIME), text);
    CDialogEx::OnTimer(nIDEvent);
}

// ---- the panel logic, reached from the window ----

void CZelquinDlg::ConnectCamera() {
    ::ConnectCamera(*this);
}

void CZelquinDlg::DisconnectCamera() {
    ::DisconnectCamera(*this);
}

BOOL CZelquinDlg::OnDeviceChange(UINT nEventType, DWORD_PTR dwData) {
    return ::OnDeviceChange(*this, nEventType, reinterpret_cast<const std::uint8_t*>(dwData));
}

void CZelquinDlg::OnOpenFolder() {
    ::OnOpenFolder(*this);
}

void CZelquinDlg::OnSyncTime() {
    ::OnSyncTime(*this);
}

void CZelquinDlg::OnOverwriteChange() {
    ::OnOverwriteChange(*this);
}

void CZelquinDlg::OnTimestampChange() {
    ::OnTimestampChange(*this);
}

void CZelquinDlg::OnResolutionChange() {
    ::OnResolutionChange(*this);
}

// ---- window operations ----

CComboBox* CZelquinDlg::ComboFor(int comboId) {
    switch (comboId) {
        case IDC_OVERWRITE:
            return &m_overwriteCombo;
        case IDC_TIMESTAMP:
            return &m_timestampCombo;
        case IDC_RESOLUTION:
            return &m_resolutionCombo;
        default:
            return nullptr;
    }
}

void CZelquinDlg::SetStatusText(const wchar_t* text) {
    ::SetWindowTextW(::GetDlgItem(m_hWnd, IDC_STATUS), text);
}

void CZelquinDlg::SelectComboItem(int comboId, int index) {
    if (CComboBox* combo = ComboFor(comboId)) {
        // Windows clears the selection when the index is outside the list; some implementations
        // of the combo box (Wine's) keep the old one instead, so make the documented effect sure.
        if (combo->SetCurSel(index) == CB_ERR && index != -1) {
            combo->SetCurSel(-1);
        }
    }
}

int CZelquinDlg::GetComboSelection(int comboId) {
    CComboBox* combo = ComboFor(comboId);
    return combo != nullptr ? combo->GetCurSel() : CB_ERR;
}

void CZelquinDlg::EnableControl(int controlId, bool enable) {
    if (CComboBox* combo = ComboFor(controlId)) {
        combo->EnableWindow(enable ? TRUE : FALSE);
    } else {
        ::EnableWindow(::GetDlgItem(m_hWnd, controlId), enable ? TRUE : FALSE);
    }
}

void CZelquinDlg::ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t type,
                                 std::uint16_t language) {
    ::MessageBoxExW(nullptr, text, caption, type, language);
}
