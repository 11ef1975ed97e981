// The system half of the seam, carried out by the real KERNEL32, USER32 and C runtime calls.
#include <windows.h>
// windows.h first
#include <dbt.h>

#include <ctime>

#include "link/os.h"

static_assert(CP_ACP == os::kCpAcp);
static_assert(CT_CTYPE1 == os::kCtCtype1);
static_assert(C1_SPACE == os::kC1Space);
static_assert(DEVICE_NOTIFY_WINDOW_HANDLE == os::kDeviceNotifyWindowHandle);
static_assert(DEVICE_NOTIFY_ALL_INTERFACE_CLASSES == os::kDeviceNotifyAllInterfaceClasses);

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
