// The camera's clock as the programs set it: a local time and the argument bytes of the two
// commands that carry it, the date (code 4: the year's low byte counted from 2000, the month, the
// day) sent first, then the time (code 3: hour, minute, second). One table for every level that
// checks the clock: the link, the panel, the tool, the simulated and the virtual camera, and the
// guest. A test whose clock it sets itself takes a row; a test whose clock is the moment of the
// run (the programs under Wine, the guest) computes the bytes with ClockDateArgs and
// ClockTimeArgs, which are checked against the table here, at compile time.
//
// Standard C++ only: the native tests, the Windows tests built with mingw-w64 and the guest's
// Linux tests include it alike.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zqtest {

// The clock commands' codes, in the order they are sent.
inline constexpr int kSetDateCode = 0x04;
inline constexpr int kSetTimeCode = 0x03;
inline constexpr std::array<int, 2> kClockCodes = {kSetDateCode, kSetTimeCode};

// A local time as the calendar gives it.
struct LocalClock {
    int year;
    int month;  // 1 to 12
    int day;
    int hour;
    int minute;
    int second;
};

// The three argument bytes of one clock command.
using ClockArgs = std::array<std::uint8_t, 3>;

struct ClockRow {
    const char* text;  // the local time as the tool reports it: "2025-03-07 14:05:09"
    LocalClock local;
    ClockArgs date;  // year (its low byte of the year modulo 2000), month, day
    ClockArgs time;  // hour, minute, second
};

// The first row is the local time the tests set when any will do.
inline constexpr ClockRow kClockRows[] = {
    {"2025-03-07 14:05:09", {2025, 3, 7, 14, 5, 9}, {0x19, 0x03, 0x07}, {0x0E, 0x05, 0x09}},
    {"2024-12-31 23:59:58", {2024, 12, 31, 23, 59, 58}, {0x18, 0x0C, 0x1F}, {0x17, 0x3B, 0x3A}},
    {"2000-01-01 00:00:00", {2000, 1, 1, 0, 0, 0}, {0x00, 0x01, 0x01}, {0x00, 0x00, 0x00}},
    {"2099-12-31 23:59:59", {2099, 12, 31, 23, 59, 59}, {0x63, 0x0C, 0x1F}, {0x17, 0x3B, 0x3B}},
    // The year byte is the low byte of the year modulo 2000: it wraps after 2255, and a year
    // before 2000 gives its own low byte.
    {"2255-06-15 12:30:45", {2255, 6, 15, 12, 30, 45}, {0xFF, 0x06, 0x0F}, {0x0C, 0x1E, 0x2D}},
    {"2256-06-15 12:30:45", {2256, 6, 15, 12, 30, 45}, {0x00, 0x06, 0x0F}, {0x0C, 0x1E, 0x2D}},
    {"1999-12-31 23:59:59", {1999, 12, 31, 23, 59, 59}, {0xCF, 0x0C, 0x1F}, {0x17, 0x3B, 0x3B}},
};
inline constexpr const ClockRow& kClock = kClockRows[0];

// The arguments of the date and the time command for any local time.
constexpr ClockArgs ClockDateArgs(const LocalClock& local) {
    return {static_cast<std::uint8_t>((local.year % 2000) & 0xFF),
            static_cast<std::uint8_t>(local.month), static_cast<std::uint8_t>(local.day)};
}
constexpr ClockArgs ClockTimeArgs(const LocalClock& local) {
    return {static_cast<std::uint8_t>(local.hour), static_cast<std::uint8_t>(local.minute),
            static_cast<std::uint8_t>(local.second)};
}

constexpr bool ClockRowsAgree() {
    for (const ClockRow& row : kClockRows) {
        if (ClockDateArgs(row.local) != row.date || ClockTimeArgs(row.local) != row.time) {
            return false;
        }
    }
    return true;
}
static_assert(ClockRowsAgree(), "a row of the clock table and the rule disagree");

// The bytes in upper-case hex, apart by spaces: "19 03 07".
inline std::string ClockHex(const ClockArgs& args) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X %02X %02X", args[0], args[1], args[2]);
    return text;
}

}  // namespace zqtest
