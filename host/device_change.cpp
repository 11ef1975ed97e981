#include "host/device_change.h"

#include <cstring>

#include "link/bytes.h"
#include "link/os.h"
#include "panel/panel.h"

std::wstring g_strArrivalDrive = L"0";
void* g_hDevNotify = nullptr;

namespace {

constexpr std::size_t kHeaderSize = 12;      // dbch_size, dbch_devicetype, dbch_reserved
constexpr std::size_t kUnitMaskOffset = 12;  // dbcv_unitmask, 4 bytes
constexpr std::size_t kFlagsOffset = 16;     // dbcv_flags, 2 bytes
constexpr std::size_t kVolumeRecordFields = 18;
constexpr std::uint32_t kDriveBits = 0x03FFFFFFu;  // bits 0-25, A to Z

// GUID_DEVINTERFACE_USB_DEVICE {A5DCBF10-6530-11D2-901F-00C04FB951ED} as it lies in memory.
constexpr std::uint8_t kUsbDeviceInterfaceClass[16] = {
    0x10, 0xBF, 0xDC, 0xA5, 0x30, 0x65, 0xD2, 0x11, 0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};

// The drive letter of a handled volume record, or 0 when the record is not one to act on.
wchar_t HandledVolumeLetter(const std::uint8_t* record) {
    if (record == nullptr) {
        return 0;
    }
    const std::uint32_t size = bytes::GetLe32(record, 0);
    if (size < kHeaderSize || bytes::GetLe32(record, 4) != kDbtDevtypVolume) {
        return 0;
    }
    if (size < kVolumeRecordFields || bytes::GetLe16(record, kFlagsOffset) != 0) {
        return 0;
    }
    const std::uint32_t mask = bytes::GetLe32(record, kUnitMaskOffset) & kDriveBits;
    if (mask == 0) {
        return 0;
    }
    wchar_t letter = L'A';
    for (std::uint32_t bit = 1; (mask & bit) == 0; bit <<= 1) {
        ++letter;
    }
    return letter;
}

}  // namespace

int OnDeviceChange(PanelWindow& window, std::uint32_t eventType, const std::uint8_t* record) {
    if (eventType != kDbtDeviceArrival && eventType != kDbtDeviceRemoveComplete) {
        return 1;
    }
    const wchar_t letter = HandledVolumeLetter(record);
    if (letter == 0) {
        return 1;
    }
    const std::wstring drive(1, letter);

    if (eventType == kDbtDeviceArrival) {
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

void BuildInterfaceFilter(std::uint8_t (&record)[kInterfaceFilterSize]) {
    std::memset(record, 0, sizeof record);
    bytes::PutLe32(record, 0, static_cast<std::uint32_t>(kInterfaceFilterSize));
    bytes::PutLe32(record, 4, kDbtDevtypDeviceInterface);
    std::memcpy(record + 12, kUsbDeviceInterfaceClass, sizeof kUsbDeviceInterfaceClass);
}

void RegisterDeviceNotifications(void* window) {
    std::uint8_t filter[kInterfaceFilterSize];
    BuildInterfaceFilter(filter);
    g_hDevNotify = os::RegisterDeviceNotificationW(
        window, filter, os::kDeviceNotifyWindowHandle | os::kDeviceNotifyAllInterfaceClasses);
}
