#include "panel/panel.h"

#include <cstddef>
#include <initializer_list>

#include "host/volume.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "link/pacing.h"
#include "os/init_order.h"
#include "os/os.h"
#include "panel/control_ids.h"

std::uint8_t g_bConnected = 0;
std::wstring g_strStatus ZQ_CONSTRUCTED_IN_ORDER(2);

namespace {

constexpr std::size_t kWideTextChars = 1024;
constexpr wchar_t kNoVolume[] = L" ";

void Show(PanelWindow& window, const wchar_t* text) {
    window.ShowMessageBox(text, kMessageCaption, kMbOk, kMessageLanguage);
}

// Every user command starts here: false (after telling the user) when not connected.
bool Connected(PanelWindow& window) {
    if (g_bConnected != 1) {
        Show(window, kNotConnectedText);
        return false;
    }
    return true;
}

std::wstring FirmwareLine() {
    wchar_t wide[kWideTextChars] = {};
    os::MultiByteToWideChar(os::kCpAcp, 0, g_szFirmware, -1, wide,
                            static_cast<int>(kWideTextChars));
    wide[kWideTextChars - 1] = L'\0';
    return wide;
}

// "%d": the number in decimal, with a minus sign when negative.
std::wstring Decimal(std::int32_t value) {
    wchar_t digits[12];
    std::size_t at = sizeof digits / sizeof digits[0];
    std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    do {
        digits[--at] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        digits[--at] = L'-';
    }
    return std::wstring(digits + at, sizeof digits / sizeof digits[0] - at);
}

std::wstring FirmwareErrorLine(std::int32_t code) {
    // "Firware" is spelt as the camera's owners have always seen it; do not correct it.
    return L"Firware Version Error: " + Decimal(code);
}

// The combo box each setting read fills.
struct SettingControl {
    CameraCommand code;
    bool (*read)(std::int32_t&, std::int32_t&);
    int comboId;
};

constexpr SettingControl kSettingControls[] = {
    {kCmdLoopRecording, GetLoopRecording, IDC_OVERWRITE},
    {kCmdResolution, GetResolution, IDC_RESOLUTION},
    {kCmdTimestampDisplay, GetTimestampDisplay, IDC_TIMESTAMP},
};

// The settings in the order and with the pauses of link/pacing.h, each shown in its combo box.
void LoadSettings(PanelWindow& window, Pacer& pacer) {
    for (const CameraCommand code : kSettingReadOrder) {
        for (const SettingControl& control : kSettingControls) {
            if (control.code != code) {
                continue;
            }
            pacer.BeginOperation();
            std::int32_t value = 0;
            if (control.read(value, g_nLinkError)) {
                window.SelectComboItem(control.comboId, static_cast<int>(value));
            }
        }
    }
}

struct SettingTexts {
    const wchar_t* failed;
    int specialIndex;  // the index whose text differs from all others
    const wchar_t* specialText;
    const wchar_t* otherText;
};

void ChangeSetting(PanelWindow& window, int comboId, bool (*write)(std::int32_t, std::int32_t&),
                   const SettingTexts& texts) {
    if (!Connected(window)) {
        return;
    }
    const int index = window.GetComboSelection(comboId);
    if (!write(index, g_nLinkError)) {
        Show(window, texts.failed);
    } else if (index == texts.specialIndex) {
        Show(window, texts.specialText);
    } else {
        Show(window, texts.otherText);
    }
}

}  // namespace

void ConnectCamera(PanelWindow& window) {
    if (g_bConnected != 0) {
        return;
    }
    if (!FindCamera(g_nLinkError)) {
        return;
    }
    Pacer pacer(kSettingPauseMs, [&window](std::uint32_t ms) { window.Pause(ms); });
    pacer.BeginOperation();  // the state and the firmware, back to back
    std::int32_t state = 0;
    if (!GetCameraState(state, g_nLinkError) || !IsReadyState(state)) {
        // Nothing is connected: do not keep the camera open behind a disconnected panel.
        CloseCamera(g_nLinkError);
        return;
    }

    if (GetFirmwareVersion(g_szFirmware, g_nLinkError)) {
        g_strStatus = FirmwareLine();
    } else {
        g_strStatus = FirmwareErrorLine(g_nLinkError);
    }
    window.SetStatusText(g_strStatus.c_str());

    LoadSettings(window, pacer);

    g_bConnected = 1;
    for (const int id :
         {IDC_SYNC_TIME, IDC_OPEN_FOLDER, IDC_OVERWRITE, IDC_RESOLUTION, IDC_TIMESTAMP}) {
        window.EnableControl(id, true);
    }
}

void DisconnectCamera(PanelWindow& window) {
    CloseCamera(g_nLinkError);
    window.EnableControl(IDC_SYNC_TIME, false);
    window.EnableControl(IDC_OPEN_FOLDER, false);
    for (const int id : {IDC_OVERWRITE, IDC_RESOLUTION, IDC_TIMESTAMP}) {
        window.EnableControl(id, false);
        window.SelectComboItem(id, -1);
    }
    g_bConnected = 0;
    window.SetStatusText(kNotConnectedText);
}

void OnOverwriteChange(PanelWindow& window) {
    ChangeSetting(window, IDC_OVERWRITE, SetLoopRecording,
                  {L"Loop recording error.", 1, L"Loop recording on.", L"Loop recording off."});
}

void OnTimestampChange(PanelWindow& window) {
    ChangeSetting(window, IDC_TIMESTAMP, SetTimestampDisplay,
                  {L"Time Stamp Display change error.", 0, L"Time stamp display turned off.",
                   L"Time stamp display turned on."});
}

void OnResolutionChange(PanelWindow& window) {
    // "Relution" is spelt as the camera's owners have always seen it; do not correct it.
    ChangeSetting(window, IDC_RESOLUTION, SetResolution,
                  {L"Video Relution change error.", 0, L"Video resolution set to 1080P.",
                   L"Video resolution set to 720P."});
}

void OnSyncTime(PanelWindow& window) {
    if (!Connected(window)) {
        return;
    }
    std::tm now{};
    if (!window.GetLocalTime(now)) {
        // A clock outside what the conversion accepts: send nothing rather than garbage.
        Show(window, L"Time Sync error.");
        return;
    }
    const CameraDateTime dateTime = CameraDateTimeFromLocalTime(now);
    Show(window,
         SetCameraDateTime(dateTime, g_nLinkError) ? L"Time Sync Completed." : L"Time Sync error.");
}

void OnOpenFolder(PanelWindow& window) {
    if (!Connected(window)) {
        return;
    }
    ReleaseCamera(g_nLinkError);
    g_bConnected = 0;
    const std::wstring volume = FindCameraVolume();
    if (volume != kNoVolume) {
        window.OpenFolder(volume.c_str());
    }
    ConnectCamera(window);
}
