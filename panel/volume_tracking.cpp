#include "panel/volume_tracking.h"

#include "host/device_records.h"
#include "link/discovery.h"
#include "os/init_order.h"
#include "os/records.h"
#include "panel/panel.h"

std::wstring g_strArrivalDrive ZQ_CONSTRUCTED_IN_ORDER(3) = L"0";

namespace {

// The drive letter of the camera last found, from its device path "\\.\X:".
wchar_t CameraLetter() {
    return g_szDevicePath[kDevicePathLetterIndex];
}

}  // namespace

int OnDeviceChange(PanelWindow& window, std::uint32_t eventType, const std::uint8_t* record) {
    if (eventType != os::dbt::kDeviceArrival && eventType != os::dbt::kDeviceRemoveComplete) {
        return 1;
    }
    const wchar_t letter = HandledVolumeLetter(record);
    if (letter == 0) {
        return 1;
    }
    const std::wstring drive(1, letter);

    if (eventType == os::dbt::kDeviceArrival) {
        ConnectCamera(window);
        g_strArrivalDrive = drive;
        return 1;
    }

    if (g_bConnected == 0) {
        return 1;
    }
    if (g_strArrivalDrive == L"0") {
        // The camera's letter is not on record: close it and look for it afresh.
        DisconnectCamera(window);
        ConnectCamera(window);
    } else if (letter == CameraLetter()) {
        // The camera's own drive went, whatever letter arrived last.
        DisconnectCamera(window);
    } else if (drive == g_strArrivalDrive) {
        // The drive that arrived last went, and it is not the camera's: the camera may still be
        // there, so close it and look for it afresh.
        DisconnectCamera(window);
        ConnectCamera(window);
    }
    return 1;
}
