// The system half of the seam, carried out by the real KERNEL32, USER32 and C runtime calls.
#include <windows.h>
// windows.h first
#include <dbt.h>

#include <cstddef>
#include <ctime>

#include "os/os.h"
#include "os/records.h"

static_assert(CP_ACP == os::kCpAcp);
static_assert(CT_CTYPE1 == os::kCtCtype1);
static_assert(C1_SPACE == os::kC1Space);
static_assert(DEVICE_NOTIFY_WINDOW_HANDLE == os::kDeviceNotifyWindowHandle);
static_assert(DEVICE_NOTIFY_ALL_INTERFACE_CLASSES == os::kDeviceNotifyAllInterfaceClasses);

// Device-change records, read and built byte by byte at these offsets.
static_assert(sizeof(DEV_BROADCAST_HDR) == os::dbt::kHeaderSize);
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_size) == os::dbt::kSize);
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_devicetype) == os::dbt::kDeviceType);
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_reserved) == os::dbt::kReserved);
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_unitmask) == os::dbt::kVolumeUnitMask);
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) == os::dbt::kVolumeFlags);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) ==
              os::dbt::kInterfaceClassGuid);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == os::dbt::kInterfaceName);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == os::dbt::kInterfaceFilterSize);
static_assert(DBT_DEVICEARRIVAL == os::dbt::kDeviceArrival);
static_assert(DBT_DEVICEREMOVECOMPLETE == os::dbt::kDeviceRemoveComplete);
static_assert(DBT_DEVNODES_CHANGED == os::dbt::kDevNodesChanged);
static_assert(DBT_DEVTYP_VOLUME == os::dbt::kDevtypVolume);
static_assert(DBT_DEVTYP_DEVICEINTERFACE == os::dbt::kDevtypDeviceInterface);
static_assert(DBTF_MEDIA == os::dbt::kFlagMedia);
static_assert(DBTF_NET == os::dbt::kFlagNet);

namespace os {

int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* source,
                        int sourceLength, wchar_t* dest, int destLength) {
    return ::MultiByteToWideChar(codePage, flags, source, sourceLength, dest, destLength);
}

bool GetStringTypeW(std::uint32_t infoType, const wchar_t* source, int length,
                    std::uint16_t* charTypes) {
    return ::GetStringTypeW(infoType, source, length, charTypes) != FALSE;
}

void Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

std::int64_t Time64() {
    return ::_time64(nullptr);
}

bool LocalTime64(std::int64_t time, std::tm* result) {
    const __time64_t value = time;
    return ::_localtime64_s(result, &value) == 0;
}

void* RegisterDeviceNotificationW(void* recipient, const void* notificationFilter,
                                  std::uint32_t flags) {
    return ::RegisterDeviceNotificationW(static_cast<HANDLE>(recipient),
                                         const_cast<void*>(notificationFilter), flags);
}

}  // namespace os
