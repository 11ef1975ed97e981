// Text helpers of the tool: UTF-8 from and to the platform's wide text, hex bytes, and text made
// safe to print on one line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cli {

// Wide text (UTF-16 where wchar_t has 16 bits, UTF-32 where it has 32) as UTF-8. Unpaired
// surrogates and values beyond U+10FFFF become U+FFFD.
std::string Utf8FromWide(std::wstring_view wide);

// UTF-8 as wide text; malformed bytes become U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);

// "70 00 05": upper-case hex bytes separated by single spaces.
std::string HexBytes(std::span<const std::uint8_t> bytes);

// Control characters (U+0000-001F, U+007F) as \xNN, so that a device's text stays on one line.
std::string Printable(std::string_view utf8);

// Lower-case ASCII copy, for names given in any case.
std::string AsciiLower(std::string_view text);

}  // namespace cli
