// The system half of the seam for the Linux tests: every call is answered by sim::TheSystem().
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <numeric>
#include <string>
#include <thread>

#include "os/os.h"
#include "sim/system.h"

namespace sim {

namespace {

constexpr std::uint32_t kCodePage1252 = 1252;
constexpr std::uint32_t kMbPrecomposed = 0x00000001u;

// Bytes 0x80-0x9F of code page 1252.
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The C runtime's _localtime64 accepts 0 to 3000-12-31 23:59:59 UTC.
constexpr std::int64_t kMaxTime64 = 32535215999;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

}  // namespace

bool IsUnicodeSpace(std::uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

wchar_t Cp1252ToWide(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return static_cast<wchar_t>(kCp1252High[static_cast<std::size_t>(byte - 0x80)]);
    }
    return static_cast<wchar_t>(byte);
}

System::System() {
    Reset();
}

void System::Reset() {
    const std::lock_guard lock(mutex_);
    nowMs_ = 0;
    realPauses_ = false;
    utcOffset_ = 0;
    daylightSaving_ = false;
    failLocalTime_ = false;
    sleeps_.clear();
    notificationHandle_ = reinterpret_cast<void*>(std::uintptr_t{0x0D0E});
    registrations_.clear();
    observer_ = nullptr;
}

void System::SetLocalTime(int year, int month, int day, int hour, int minute, int second) {
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t local = days * 86400 + hour * 3600 + minute * 60 + second;
    SetTime(local - utcOffset_ - (daylightSaving_ ? 3600 : 0));
}

std::uint64_t System::TotalSleptMs() const {
    const std::lock_guard lock(mutex_);
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0});
}

void System::Notify(const SystemEvent& event) const {
    std::unique_lock lock(mutex_);
    const auto observer = observer_;
    lock.unlock();
    if (observer) {
        observer(event);
    }
}

int System::MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* source,
                                int sourceLength, wchar_t* dest, int destLength) const {
    if (codePage != os::kCpAcp && codePage != kCodePage1252) {
        return 0;
    }
    if ((flags & ~kMbPrecomposed) != 0) {
        return 0;
    }
    if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destLength < 0 ||
        (dest == nullptr && destLength != 0)) {
        return 0;
    }
    // Length -1: the text up to its terminator, terminator included.
    const std::size_t count =
        sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    if (destLength == 0) {
        return static_cast<int>(count);
    }
    // Like Windows, fill what fits, then fail when the whole text does not.
    const std::size_t room = static_cast<std::size_t>(destLength);
    for (std::size_t i = 0; i < count && i < room; ++i) {
        dest[i] = Cp1252ToWide(static_cast<unsigned char>(source[i]));
    }
    return count <= room ? static_cast<int>(count) : 0;
}

bool System::GetStringTypeW(std::uint32_t infoType, const wchar_t* source, int length,
                            std::uint16_t* charTypes) const {
    if (infoType != os::kCtCtype1 || source == nullptr || charTypes == nullptr || length == 0) {
        return false;
    }
    // A negative length: the text up to its terminator, with the terminator typed as well.
    const std::size_t count =
        length < 0 ? std::wcslen(source) + 1 : static_cast<std::size_t>(length);
    for (std::size_t i = 0; i < count; ++i) {
        charTypes[i] = IsUnicodeSpace(static_cast<std::uint32_t>(source[i])) ? os::kC1Space : 0;
    }
    return true;
}

void System::Sleep(std::uint32_t milliseconds) {
    bool real = false;
    {
        const std::lock_guard lock(mutex_);
        sleeps_.push_back(milliseconds);
        nowMs_ += milliseconds;
        real = realPauses_;
    }
    if (real) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    Notify({SystemCall::kSleep, milliseconds, true});
}

std::int64_t System::Time64() {
    std::unique_lock lock(mutex_);
    const std::int64_t seconds = nowMs_ >= 0 ? nowMs_ / 1000 : -((-nowMs_ + 999) / 1000);
    lock.unlock();
    Notify({SystemCall::kTime64, seconds, true});
    return seconds;
}

bool System::LocalTime64(std::int64_t time, std::tm* result) {
    std::unique_lock lock(mutex_);
    bool ok = !failLocalTime_ && result != nullptr && time >= 0 && time <= kMaxTime64;
    if (ok) {
        const std::int64_t local = time + utcOffset_ + (daylightSaving_ ? 3600 : 0);
        const std::int64_t days = local >= 0 ? local / 86400 : -((-local + 86399) / 86400);
        const std::int64_t secondOfDay = local - days * 86400;
        const Civil date = CivilFromDays(days);
        std::tm broken = {};
        broken.tm_year = static_cast<int>(date.year - 1900);
        broken.tm_mon = static_cast<int>(date.month) - 1;
        broken.tm_mday = static_cast<int>(date.day);
        broken.tm_hour = static_cast<int>(secondOfDay / 3600);
        broken.tm_min = static_cast<int>(secondOfDay / 60 % 60);
        broken.tm_sec = static_cast<int>(secondOfDay % 60);
        broken.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
        broken.tm_yday = static_cast<int>(days - DaysFromCivil(date.year, 1, 1));
        broken.tm_isdst = daylightSaving_ ? 1 : 0;
        *result = broken;
    }
    lock.unlock();
    Notify({SystemCall::kLocalTime64, time, ok});
    return ok;
}

void* System::RegisterDeviceNotificationW(void* recipient, const void* filter,
                                          std::uint32_t flags) {
    std::unique_lock lock(mutex_);
    NotificationRegistration registration;
    registration.recipient = recipient;
    registration.flags = flags;
    registration.result = notificationHandle_;
    if (filter != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(filter);
        const std::uint32_t size = static_cast<std::uint32_t>(bytes[0]) |
                                   (static_cast<std::uint32_t>(bytes[1]) << 8) |
                                   (static_cast<std::uint32_t>(bytes[2]) << 16) |
                                   (static_cast<std::uint32_t>(bytes[3]) << 24);
        registration.filter.assign(bytes, bytes + std::min<std::uint32_t>(size, 4096));
    }
    registrations_.push_back(registration);
    void* const result = notificationHandle_;
    lock.unlock();
    Notify({SystemCall::kRegisterDeviceNotification, 0, result != nullptr});
    return result;
}

std::uint32_t System::FormatMessageW(std::uint32_t messageId, wchar_t* buffer,
                                     std::uint32_t size) const {
    struct Text {
        std::uint32_t code;
        const wchar_t* text;
    };
    static constexpr Text kTexts[] = {
        {os::kErrorFileNotFound, L"The system cannot find the file specified."},
        {os::kErrorAccessDenied, L"Access is denied."},
        {os::kErrorInvalidHandle, L"The handle is invalid."},
        {os::kErrorNotReady, L"The device is not ready."},
        {os::kErrorGenFailure, L"A device attached to the system is not functioning."},
        {os::kErrorSharingViolation,
         L"The process cannot access the file because it is being used by another process."},
        {os::kErrorInvalidParameter, L"The parameter is incorrect."},
        {os::kErrorSemTimeout, L"The semaphore timeout period has expired."},
        {os::kErrorDeviceNotConnected, L"The device is not connected."},
    };
    for (const Text& entry : kTexts) {
        if (entry.code != messageId) {
            continue;
        }
        const std::wstring text = std::wstring(entry.text) + L"\r\n";
        if (buffer == nullptr || text.size() + 1 > size) {
            return 0;
        }
        std::wmemcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<std::uint32_t>(text.size());
    }
    return 0;
}

System& TheSystem() {
    static System system;
    return system;
}

}  // namespace sim

namespace os {

int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* source,
                        int sourceLength, wchar_t* dest, int destLength) {
    return sim::TheSystem().MultiByteToWideChar(codePage, flags, source, sourceLength, dest,
                                                destLength);
}

bool GetStringTypeW(std::uint32_t infoType, const wchar_t* source, int length,
                    std::uint16_t* charTypes) {
    return sim::TheSystem().GetStringTypeW(infoType, source, length, charTypes);
}

void Sleep(std::uint32_t milliseconds) {
    sim::TheSystem().Sleep(milliseconds);
}

std::int64_t Time64() {
    return sim::TheSystem().Time64();
}

bool LocalTime64(std::int64_t time, std::tm* result) {
    return sim::TheSystem().LocalTime64(time, result);
}

std::uint32_t FormatMessageW(std::uint32_t messageId, wchar_t* buffer, std::uint32_t size) {
    return sim::TheSystem().FormatMessageW(messageId, buffer, size);
}

void* RegisterDeviceNotificationW(void* recipient, const void* notificationFilter,
                                  std::uint32_t flags) {
    return sim::TheSystem().RegisterDeviceNotificationW(recipient, notificationFilter, flags);
}

}  // namespace os
