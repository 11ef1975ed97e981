// The simulated system services: ANSI conversion as code page 1252, white-space typing, the fake
// clock and its local time, pauses and the notification registration.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "os/os.h"
#include "sim/system.h"
#include "tests/support/clock_bytes.h"
#include "tests/support/sim_test.h"

namespace {

class SystemTest : public zqtest::SimTest {
  protected:
    sim::System& system = sim::TheSystem();
};

// ---- MultiByteToWideChar ----

TEST_F(SystemTest, ConvertsCodePage1252ByteByByte) {
    struct Case {
        unsigned char byte;
        std::uint32_t wide;
    };
    const Case cases[] = {
        {0x41, 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160},
        {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x92, 0x2019}, {0x9D, 0x009D},
        {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte));
        const char text[] = {static_cast<char>(c.byte), 0};
        wchar_t wide[4] = {L'x', L'x', L'x', L'x'};

        EXPECT_EQ(os::MultiByteToWideChar(os::kCpAcp, 0, text, -1, wide, 4), 2);

        EXPECT_EQ(static_cast<std::uint32_t>(wide[0]), c.wide);
        EXPECT_EQ(wide[1], L'\0');
    }
}

TEST_F(SystemTest, ConversionHonoursSourceLengthAndDestinationSize) {
    struct Case {
        const char* name;
        int sourceLength;
        int destLength;
        int answer;
        std::wstring written;
    };
    const Case cases[] = {
        {"terminated, room enough", -1, 8, 4, std::wstring(L"KMZ\0xxxx", 8)},
        {"terminated, exact room", -1, 4, 4, std::wstring(L"KMZ\0xxxx", 8)},
        {"terminated, one short", -1, 3, 0, L"KMZxxxxx"},
        {"size query", -1, 0, 4, L"xxxxxxxx"},
        {"length 3, no terminator", 3, 8, 3, L"KMZxxxxx"},
        {"length 2", 2, 8, 2, L"KMxxxxxx"},
        {"length 0", 0, 8, 0, L"xxxxxxxx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring dest(8, L'x');

        EXPECT_EQ(os::MultiByteToWideChar(os::kCpAcp, 0, "KMZ", c.sourceLength,
                                          c.destLength == 0 ? nullptr : dest.data(), c.destLength),
                  c.answer);

        // A conversion that does not fit fills what it can; only the answer tells.
        if (c.answer != 0 || c.destLength == 0 || c.sourceLength == 0) {
            EXPECT_EQ(dest, c.written);
        }
    }
}

// ---- GetStringTypeW ----

TEST_F(SystemTest, TypesExactlyTheUnicodeWhiteSpaceAsSpace) {
    const std::uint32_t spaces[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,
                                    0x85,   0xA0,   0x1680, 0x2000, 0x2005, 0x200A,
                                    0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    const std::uint32_t others[] = {0x00,   0x08,   0x0E,   0x1F,   0x21,   0x41,   0x84,
                                    0x86,   0x9F,   0xA1,   0xAD,   0x180E, 0x1FFF, 0x200B,
                                    0x2027, 0x202A, 0x2060, 0x3001, 0xFEFF};
    for (const bool space : {true, false}) {
        for (const std::uint32_t c :
             space ? std::vector<std::uint32_t>(std::begin(spaces), std::end(spaces))
                   : std::vector<std::uint32_t>(std::begin(others), std::end(others))) {
            SCOPED_TRACE(c);
            const wchar_t ch = static_cast<wchar_t>(c);
            std::uint16_t type = 0;

            ASSERT_TRUE(os::GetStringTypeW(os::kCtCtype1, &ch, 1, &type));

            EXPECT_EQ(type, space ? os::kC1Space : 0) << "white space is all that is typed";
        }
    }
}

TEST_F(SystemTest, StringTypeFailsForWhatItDoesNotType) {
    constexpr std::uint32_t kCtCtype2 = 0x0002;
    constexpr std::uint32_t kCtCtype3 = 0x0004;
    const wchar_t text[] = L" ";
    std::uint16_t types[2] = {};
    struct Case {
        const char* name;
        std::uint32_t infoType;
        const wchar_t* source;
        int length;
        std::uint16_t* charTypes;
    };
    const Case cases[] = {
        {"CT_CTYPE2", kCtCtype2, text, 1, types},
        {"CT_CTYPE3", kCtCtype3, text, 1, types},
        {"no text", os::kCtCtype1, nullptr, 1, types},
        {"no room for the types", os::kCtCtype1, text, 1, nullptr},
        {"length 0", os::kCtCtype1, text, 0, types},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(os::GetStringTypeW(c.infoType, c.source, c.length, c.charTypes)) << c.name;
    }
}

TEST_F(SystemTest, StringTypeOfATerminatedTextIncludesTheTerminator) {
    std::uint16_t types[4] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

    ASSERT_TRUE(os::GetStringTypeW(os::kCtCtype1, L"A ", -1, types));

    EXPECT_EQ(types[0] & os::kC1Space, 0);
    EXPECT_NE(types[1] & os::kC1Space, 0);
    EXPECT_EQ(types[2] & os::kC1Space, 0);
    EXPECT_NE(types[2], 0xFFFF);
    EXPECT_EQ(types[3], 0xFFFF);
}

// ---- clock ----

TEST_F(SystemTest, LocalTimeBreaksTheClockDown) {
    struct Case {
        const char* name;
        std::int64_t time;
        std::int32_t offset;
        bool dst;
        int year, month, day, hour, minute, second, wday, yday, isdst;
    };
    const Case cases[] = {
        {"epoch", 0, 0, false, 1970, 1, 1, 0, 0, 0, 4, 0, 0},
        {"2024-03-05 14:07:09", 1709647629, 0, false, 2024, 3, 5, 14, 7, 9, 2, 64, 0},
        {"leap day", 951825600, 0, false, 2000, 2, 29, 12, 0, 0, 2, 59, 0},
        {"an hour east across midnight", 1709679600, 3600, false, 2024, 3, 6, 0, 0, 0, 3, 65, 0},
        {"daylight saving", 1709647629, 3600, true, 2024, 3, 5, 16, 7, 9, 2, 64, 1},
        {"last second accepted", 32535215999, 0, false, 3000, 12, 31, 23, 59, 59, 3, 364, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system.Reset();
        system.SetUtcOffset(c.offset);
        system.SetDaylightSaving(c.dst);
        system.SetTime(c.time);
        std::tm now = {};

        EXPECT_EQ(os::Time64(), c.time);
        ASSERT_TRUE(os::LocalTime64(os::Time64(), &now));

        EXPECT_EQ(now.tm_year, c.year - 1900);
        EXPECT_EQ(now.tm_mon, c.month - 1);
        EXPECT_EQ(now.tm_mday, c.day);
        EXPECT_EQ(now.tm_hour, c.hour);
        EXPECT_EQ(now.tm_min, c.minute);
        EXPECT_EQ(now.tm_sec, c.second);
        EXPECT_EQ(now.tm_wday, c.wday);
        EXPECT_EQ(now.tm_yday, c.yday);
        EXPECT_EQ(now.tm_isdst, c.isdst);
    }
}

// Every local time of the clock table reads back as set.
TEST_F(SystemTest, SetLocalTimeIsWhatLocalTimeReadsBack) {
    system.SetUtcOffset(-5 * 3600);
    system.SetDaylightSaving(true);
    for (const zqtest::ClockRow& row : zqtest::kClockRows) {
        SCOPED_TRACE(row.text);
        const zqtest::LocalClock& t = row.local;
        system.SetLocalTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
        std::tm now = {};

        ASSERT_TRUE(os::LocalTime64(os::Time64(), &now));

        EXPECT_EQ(now.tm_year + 1900, t.year);
        EXPECT_EQ(now.tm_mon + 1, t.month);
        EXPECT_EQ(now.tm_mday, t.day);
        EXPECT_EQ(now.tm_hour, t.hour);
        EXPECT_EQ(now.tm_min, t.minute);
        EXPECT_EQ(now.tm_sec, t.second);
    }
}

TEST_F(SystemTest, LocalTimeFailsWhenToldAndOutsideTheRuntimeRange) {
    std::tm now = {};
    EXPECT_FALSE(os::LocalTime64(-1, &now));
    EXPECT_FALSE(os::LocalTime64(32535216000, &now));

    system.FailLocalTime(true);
    EXPECT_FALSE(os::LocalTime64(1709647629, &now));
    system.FailLocalTime(false);
    EXPECT_TRUE(os::LocalTime64(1709647629, &now));
}

TEST_F(SystemTest, SleepIsRecordedAndAdvancesTheClockWithoutWaiting) {
    system.SetTime(100);
    std::vector<sim::SystemCall> seen;
    system.SetObserver([&seen](const sim::SystemEvent& e) { seen.push_back(e.call); });

    for (int i = 0; i < 5; ++i) {
        os::Sleep(200);
    }

    EXPECT_EQ(system.sleeps(), (std::vector<std::uint32_t>(5, 200)));
    EXPECT_EQ(system.TotalSleptMs(), 1000u);
    EXPECT_EQ(os::Time64(), 101);
    EXPECT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen.back(), sim::SystemCall::kTime64);
}

// ---- registration ----

TEST_F(SystemTest, RegistrationRecordsItsArgumentsAndAnswersTheSetHandle) {
    std::uint8_t filter[32] = {32, 0, 0, 0, 5};
    filter[12] = 0x10;
    void* window = &filter;

    EXPECT_NE(os::RegisterDeviceNotificationW(window, filter, 4), nullptr);
    system.SetNotificationHandle(nullptr);
    EXPECT_EQ(os::RegisterDeviceNotificationW(window, filter, 4), nullptr);

    ASSERT_EQ(system.registrations().size(), 2u);
    const sim::NotificationRegistration& first = system.registrations()[0];
    EXPECT_EQ(first.recipient, window);
    EXPECT_EQ(first.flags, 4u);
    EXPECT_EQ(first.filter, std::vector<std::uint8_t>(std::begin(filter), std::end(filter)));
    EXPECT_EQ(system.registrations()[1].result, nullptr);
}

}  // namespace
