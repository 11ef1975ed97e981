// Wide text (UTF-16 on Windows, UTF-32 elsewhere) as UTF-8 and back, for the simulated program's
// text files: the world file is read as UTF-8 and the trace file written as UTF-8. And a text
// between double quotes, as both files' lines show one.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Unpaired surrogates and values beyond U+10FFFF become U+FFFD.
std::string ToUtf8(std::wstring_view text);

// Every byte that does not start a valid sequence (a stray continuation byte, an overlong form, an
// encoded surrogate, a value beyond U+10FFFF, a sequence cut short) becomes one U+FFFD, and
// reading goes on at the next byte.
std::wstring FromUtf8(std::string_view text);

// `text` between double quotes, as it stands (nothing inside is escaped): a path in the trace, a
// value in the world file's messages.
std::string Quoted(std::string_view text);

}  // namespace sim
