// Text helpers of the tool: text made safe to print on one line, names in any case. (UTF-8 and
// hex bytes: os/text.h.)
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Control characters (U+0000-001F, U+007F) as \xNN, so that a device's text stays on one line.
std::string Printable(std::string_view utf8);

// Lower-case ASCII copy, for names given in any case.
std::string AsciiLower(std::string_view text);

}  // namespace cli
