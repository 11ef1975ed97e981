// The control panel window: the dialog IDD_CONTROL_PANEL, its clock, its key filter, and the
// window operations through which the panel logic shows its state.
#pragma once

#include "app/afx/afxwin.h"
// the framework first
#include "app/resource.h"
#include "panel/panel_window.h"

// The clock text buffer, in wide characters.
inline constexpr std::size_t kClockTextChars = 128;

class CZelquinDlg : public CDialogEx, public SystemPanelWindow {
  public:
    explicit CZelquinDlg(CWnd* pParent = nullptr);
    ~CZelquinDlg() override;

    enum { IDD = IDD_CONTROL_PANEL };

    // The connection sequence, as the panel logic carries it out on this window.
    void ConnectCamera();
    void DisconnectCamera();

    // The window operations of the panel logic.
    void SetStatusText(const wchar_t* text) override;
    void SelectComboItem(int comboId, int index) override;
    int GetComboSelection(int comboId) override;
    void EnableControl(int controlId, bool enable) override;
    void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t type,
                        std::uint16_t language) override;

    // The clock's text for a calendar time: local time as "%Y-%m-%d %H:%M:%S", or empty when the
    // time cannot be converted or formatted.
    static void FormatClock(__time64_t time, wchar_t (&text)[kClockTextChars]);
    // Where the icon of the minimised window goes: centred in the client area, rounding up, the
    // divisions truncating toward zero.
    static POINT IconOrigin(const RECT& client, int cxIcon, int cyIcon);

    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);
    void OnOpenFolder();
    void OnSyncTime();
    void OnOverwriteChange();
    void OnTimestampChange();
    void OnResolutionChange();
    void OnTimer(UINT_PTR nIDEvent);

    HICON m_appIcon;
    CComboBox m_overwriteCombo;
    CComboBox m_timestampCombo;
    CComboBox m_resolutionCombo;

  private:
    CComboBox* ComboFor(int comboId);
};
