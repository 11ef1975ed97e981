// Text as bytes: the platform's wide text (UTF-16 where wchar_t has 16 bits, UTF-32 where it has
// 32) as UTF-8 and back, and bytes as hex, for the text files, traces and reports above this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace os {

namespace text_detail {

inline constexpr char32_t kReplacement = 0xFFFD;

inline char32_t Unit(wchar_t unit) {
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

inline void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

inline void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

}  // namespace text_detail

// Unpaired surrogates and values beyond U+10FFFF become U+FFFD.
inline std::string ToUtf8(std::wstring_view wide) {
    using text_detail::Unit;
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = Unit(wide[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
                const char32_t low = Unit(wide[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        text_detail::AppendUtf8(out, c);
    }
    return out;
}

// Every byte that does not start a valid sequence (a stray continuation byte, an overlong form, an
// encoded surrogate, a value beyond U+10FFFF, a sequence cut short) becomes one U+FFFD, and
// reading goes on at the next byte.
inline std::wstring FromUtf8(std::string_view utf8) {
    using text_detail::AppendWide;
    using text_detail::kReplacement;
    std::wstring out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t extra = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            c = lead & 0x07;
        } else {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        bool ok = i + extra < utf8.size();
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            ok = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are malformed too.
        constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        AppendWide(out, c);
        i += extra + 1;
    }
    return out;
}

// "70 00 05": upper-case hex bytes separated by single spaces.
inline std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) {
            text.push_back(' ');
        }
        text += two;
    }
    return text;
}

}  // namespace os
