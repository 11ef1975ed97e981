// The simulated system services behind the system half of the operating-system seam (Linux test
// builds only): ANSI text conversion as Windows code page 1252, white-space typing, pauses, the
// clock, and the device-notification registration.
//
//     sim::System& system = sim::TheSystem();
//     system.Reset();
//     system.SetLocalTime(2024, 3, 5, 14, 7, 9);   // what Time64 + LocalTime64 give
//     system.SetNotificationHandle(nullptr);        // RegisterDeviceNotificationW fails
//     ... run the code ...
//     system.sleeps();  system.registrations();
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

namespace sim {

// One RegisterDeviceNotificationW call.
struct NotificationRegistration {
    void* recipient = nullptr;
    std::vector<std::uint8_t> filter;  // the record's bytes, as many as its first field (size)
                                       // gives, at most 4096; empty for a null filter
    std::uint32_t flags = 0;
    void* result = nullptr;
};

enum class SystemCall : std::uint8_t {
    kSleep,
    kTime64,
    kLocalTime64,
    kRegisterDeviceNotification,
};

// One call of the system half that a test may want to place among other events.
struct SystemEvent {
    SystemCall call = SystemCall::kSleep;
    std::int64_t value = 0;  // Sleep: milliseconds; Time64 / LocalTime64: the time in seconds
    bool result = true;      // LocalTime64: success; RegisterDeviceNotificationW: non-null
};

// The Unicode white-space characters: U+0009-000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000-200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool IsUnicodeSpace(std::uint32_t c);

// Code page 1252 as Windows maps it: 0x80-0x9F by the code page's table, its five undefined
// bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) to the control characters of the same value, every
// other byte to the character of the same value.
wchar_t Cp1252ToWide(unsigned char byte);

// Several threads may call the system at once: each call holds the system's lock while it reads
// or changes the clock and the records, and calls the observer after releasing it, so that
// observers on several threads may wait for one another.
class System {
  public:
    System();

    // Clock at 0 (1970-01-01 00:00:00), local time = UTC, no daylight saving, local-time
    // conversion working, no pauses recorded, pauses that take no real time, notification handle
    // 0x0D0E, no registrations, no observer.
    void Reset();

    // -- clock --
    // The fake clock in milliseconds since 1970; Time64 answers it in whole seconds. Every
    // Sleep advances it by its pause (no real time passes).
    void SetTime(std::int64_t seconds) { nowMs_ = seconds * 1000; }
    std::int64_t NowMs() const { return nowMs_; }
    // Sets the clock so that local time reads the given date and time.
    void SetLocalTime(int year, int month, int day, int hour, int minute, int second);
    // Local time = UTC + offset (+ one hour with daylight saving, tm_isdst then 1).
    void SetUtcOffset(std::int32_t seconds) { utcOffset_ = seconds; }
    void SetDaylightSaving(bool on) { daylightSaving_ = on; }
    // LocalTime64 fails whatever the time (it also fails, as the C runtime does, for a time
    // before 1970 or after 3000-12-31 23:59:59).
    void FailLocalTime(bool fail) { failLocalTime_ = fail; }

    // -- pauses --
    // With `real`, every Sleep also blocks the calling thread for its pause, as Windows does (the
    // benchmarks); the clock advances the same either way.
    void SetRealPauses(bool real) { realPauses_ = real; }
    const std::vector<std::uint32_t>& sleeps() const { return sleeps_; }
    std::uint64_t TotalSleptMs() const;

    // -- registration --
    void SetNotificationHandle(void* handle) { notificationHandle_ = handle; }
    const std::vector<NotificationRegistration>& registrations() const { return registrations_; }

    // Called after every Sleep, Time64, LocalTime64 and RegisterDeviceNotificationW.
    void SetObserver(std::function<void(const SystemEvent&)> observer) {
        observer_ = std::move(observer);
    }

    // -- the seam's system half (called by sim/os_sim_system.cpp) --
    int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* source,
                            int sourceLength, wchar_t* dest, int destLength) const;
    // Types white space only, which is all the program asks: CT_CTYPE1 with C1_SPACE for the
    // characters IsUnicodeSpace names and 0 for every other (no other C1_ bit is ever set); any
    // other information type fails.
    bool GetStringTypeW(std::uint32_t infoType, const wchar_t* source, int length,
                        std::uint16_t* charTypes) const;
    void Sleep(std::uint32_t milliseconds);
    std::int64_t Time64();
    bool LocalTime64(std::int64_t time, std::tm* result);
    void* RegisterDeviceNotificationW(void* recipient, const void* filter, std::uint32_t flags);
    // The texts of English Windows, each ending with a carriage return and a line feed, for the
    // error codes os/os.h names; 0 (no text) for every other code. Like the system, it writes
    // nothing when the text and its terminator do not fit.
    std::uint32_t FormatMessageW(std::uint32_t messageId, wchar_t* buffer,
                                 std::uint32_t size) const;

  private:
    void Notify(const SystemEvent& event) const;

    mutable std::recursive_mutex mutex_;
    std::int64_t nowMs_ = 0;
    bool realPauses_ = false;
    std::int32_t utcOffset_ = 0;
    bool daylightSaving_ = false;
    bool failLocalTime_ = false;
    std::vector<std::uint32_t> sleeps_;
    void* notificationHandle_ = nullptr;
    std::vector<NotificationRegistration> registrations_;
    std::function<void(const SystemEvent&)> observer_;
};

System& TheSystem();

}  // namespace sim
