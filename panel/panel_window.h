// The window operations the panel logic uses. The control panel window carries them out with the
// Windows calls named beside each; tests use a recording fake.
#pragma once

#include <cstdint>
#include <ctime>

class PanelWindow {
  public:
    virtual ~PanelWindow() = default;

    // SetWindowTextW on the IDC_STATUS control.
    virtual void SetStatusText(const wchar_t* text) = 0;
    // SendMessageW(combo, CB_SETCURSEL, index, 0); -1 clears the selection. Raises no
    // selection-change notification.
    virtual void SelectComboItem(int comboId, int index) = 0;
    // SendMessageW(combo, CB_GETCURSEL, 0, 0).
    virtual int GetComboSelection(int comboId) = 0;
    // EnableWindow(control, enable).
    virtual void EnableControl(int controlId, bool enable) = 0;
    // MessageBoxExW(NULL, text, caption, type, language); returns when the box is closed.
    virtual void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t type,
                                std::uint16_t language) = 0;
    // ShellExecuteW(NULL, NULL, "explorer", path, NULL, SW_SHOW).
    virtual void OpenFolder(const wchar_t* path) = 0;
    // Sleep(milliseconds): no window messages are handled meanwhile.
    virtual void Pause(std::uint32_t milliseconds) = 0;
    // _time64 then _localtime64: false when the conversion fails.
    virtual bool GetLocalTime(std::tm& now) = 0;
};

// The non-window operations carried out through the operating-system seam; the control panel
// window derives from this and supplies the window operations.
class SystemPanelWindow : public PanelWindow {
  public:
    void OpenFolder(const wchar_t* path) override;
    void Pause(std::uint32_t milliseconds) override;
    bool GetLocalTime(std::tm& now) override;
};
