#include "panel/volume_tracking.h"

#include "host/device_records.h"
#include "os/records.h"
#include "panel/panel.h"

std::wstring g_strArrivalDrive = L"0";

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
    if (drive == g_strArrivalDrive) {
        DisconnectCamera(window);
    } else if (g_strArrivalDrive == L"0") {
        // The camera's letter is not on record: close it and look for it afresh.
        DisconnectCamera(window);
        ConnectCamera(window);
    }
    return 1;
}
