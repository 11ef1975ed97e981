#include "host/device_records.h"

#include <cstring>

#include "os/bytes.h"
#include "os/os.h"

void* g_hDevNotify = nullptr;

namespace {

constexpr std::uint32_t kDriveBits = 0x03FFFFFFu;  // bits 0-25, A to Z

// GUID_DEVINTERFACE_USB_DEVICE {A5DCBF10-6530-11D2-901F-00C04FB951ED} as it lies in memory.
constexpr std::uint8_t kUsbDeviceInterfaceClass[16] = {
    0x10, 0xBF, 0xDC, 0xA5, 0x30, 0x65, 0xD2, 0x11, 0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};

}  // namespace

wchar_t HandledVolumeLetter(const std::uint8_t* record) {
    if (record == nullptr) {
        return 0;
    }
    const std::uint32_t size = bytes::GetLe32(record, os::dbt::kSize);
    if (size < os::dbt::kHeaderSize ||
        bytes::GetLe32(record, os::dbt::kDeviceType) != os::dbt::kDevtypVolume) {
        return 0;
    }
    if (size < os::dbt::kVolumeFieldsEnd || bytes::GetLe16(record, os::dbt::kVolumeFlags) != 0) {
        return 0;
    }
    const std::uint32_t mask = bytes::GetLe32(record, os::dbt::kVolumeUnitMask) & kDriveBits;
    if (mask == 0) {
        return 0;
    }
    wchar_t letter = L'A';
    for (std::uint32_t bit = 1; (mask & bit) == 0; bit <<= 1) {
        ++letter;
    }
    return letter;
}

void BuildInterfaceFilter(std::uint8_t (&record)[os::dbt::kInterfaceFilterSize]) {
    std::memset(record, 0, sizeof record);
    bytes::PutLe32(record, os::dbt::kSize, static_cast<std::uint32_t>(sizeof record));
    bytes::PutLe32(record, os::dbt::kDeviceType, os::dbt::kDevtypDeviceInterface);
    std::memcpy(record + os::dbt::kInterfaceClassGuid, kUsbDeviceInterfaceClass,
                sizeof kUsbDeviceInterfaceClass);
}

void RegisterDeviceNotifications(void* window) {
    std::uint8_t filter[os::dbt::kInterfaceFilterSize];
    BuildInterfaceFilter(filter);
    g_hDevNotify = os::RegisterDeviceNotificationW(
        window, filter, os::kDeviceNotifyWindowHandle | os::kDeviceNotifyAllInterfaceClasses);
}
