// Wide texts as UTF-8 and back, and bytes as hex.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "os/text.h"

namespace {

TEST(Utf8, WideTextsBothWays) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const Case cases[] = {
        {L"", ""},
        {L"E:\\", "E:\\"},
        {L"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
        {L"caf\u00E9", "caf\xC3\xA9"},
        {L"\u20AC", "\xE2\x82\xAC"},
        {L"\U0001F4F7", "\xF0\x9F\x93\xB7"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(os::ToUtf8(c.wide), c.utf8);
        EXPECT_EQ(os::FromUtf8(c.utf8), c.wide);
    }
}

TEST(Utf8, EachByteOfABadSequenceBecomesAReplacementCharacter) {
    struct Case {
        const char* name;
        std::string utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"a byte that starts nothing, a sequence cut short at the end",
         "a\xFF"
         "b\xC3",
         L"a\uFFFDb\uFFFD"},
        {"a byte that starts nothing, between letters", "a\xFFz", L"a\uFFFDz"},
        {"an overlong zero", "\xC0\x80", L"\uFFFD\uFFFD"},
        {"an overlong slash", "\xC0\xAF", L"\uFFFD\uFFFD"},
        {"a sequence cut short at the end", "\xE2\x82", L"\uFFFD\uFFFD"},
        {"a stray continuation byte", "\x80x", L"\uFFFDx"},
        {"a sequence cut short by a letter", "\xE2\x82x", L"\uFFFD\uFFFDx"},
        {"an encoded surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(os::FromUtf8(c.utf8), c.wide) << c.name;
    }
}

TEST(Utf8, AnUnpairedSurrogateIsWrittenAsAReplacementCharacter) {
    const std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b',
                               static_cast<wchar_t>(0xDC00)};
    EXPECT_EQ(os::ToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(HexBytes, UpperCaseBytesSeparatedBySingleSpaces) {
    EXPECT_EQ(os::HexBytes(std::vector<std::uint8_t>{}), "");
    EXPECT_EQ(os::HexBytes(std::vector<std::uint8_t>{0x0A}), "0A");
    EXPECT_EQ(os::HexBytes(std::vector<std::uint8_t>{0x70, 0x00, 0x05, 0xFF}), "70 00 05 FF");
}

}  // namespace
