// The dialog initialisation list, read byte by byte and never past its resource.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/afx/dlginit.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One entry as the list stores it: id, message, length, then the bytes.
Bytes Entry(std::uint16_t id, std::uint16_t message, std::uint32_t length,
            const std::string& data) {
    Bytes out = {static_cast<std::uint8_t>(id),           static_cast<std::uint8_t>(id >> 8),
                 static_cast<std::uint8_t>(message),      static_cast<std::uint8_t>(message >> 8),
                 static_cast<std::uint8_t>(length),       static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// The text with its terminating zero, and its length as the list states it.
Bytes Text(std::uint16_t id, const std::string& text) {
    return Entry(id, kDlgInitComboAddString, static_cast<std::uint32_t>(text.size() + 1),
                 text + std::string(1, '\0'));
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Bytes kEnd = {0, 0};

// The bytes at the very end of a readable page that is followed by an inaccessible one: a read
// past the list faults instead of passing unnoticed.
class GuardedBytes {
  public:
    explicit GuardedBytes(const Bytes& bytes) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<std::uint8_t*>(
            ::VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
        data_ = base_ + page_ - bytes.size();
        if (!bytes.empty()) {
            std::memcpy(data_, bytes.data(), bytes.size());
        }
        size_ = bytes.size();
    }
    ~GuardedBytes() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    std::span<const std::uint8_t> span() const { return {data_, size_}; }

  private:
    std::size_t page_ = 0;
    std::uint8_t* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct Expected {
    std::uint16_t id;
    std::uint16_t message;
    std::string data;
};

struct ParseCase {
    const char* name;
    Bytes list;
    std::vector<Expected> entries;
    bool complete;
};

const ParseCase kParseCases[] = {
    {"the control panel's list",
     Join({Text(1008, "ON"), Text(1008, "OFF"), Text(1009, "OFF"), Text(1009, "ON"),
           Text(1010, "1080P 30FPS"), Text(1010, "720P 30FPS"), kEnd}),
     {{1008, 0x0403, std::string("ON\0", 3)},
      {1008, 0x0403, std::string("OFF\0", 4)},
      {1009, 0x0403, std::string("OFF\0", 4)},
      {1009, 0x0403, std::string("ON\0", 3)},
      {1010, 0x0403, std::string("1080P 30FPS\0", 12)},
      {1010, 0x0403, std::string("720P 30FPS\0", 11)}},
     true},
    {"an empty resource", {}, {}, false},
    {"only the end", kEnd, {}, true},
    {"one byte", {0x01}, {}, false},
    {"half an end", {0x00}, {}, false},
    {"an entry head cut after its message", {0xF0, 0x03, 0x03, 0x04}, {}, false},
    {"an entry head cut inside its length", {0xF0, 0x03, 0x03, 0x04, 0x03, 0x00}, {}, false},
    {"a length past the end",
     Join({Text(1008, "ON"), Entry(1008, 0x0403, 5, "OF")}),
     {{1008, 0x0403, std::string("ON\0", 3)}},
     false},
    {"a length one past the end", Entry(1008, 0x0403, 3, "ON"), {}, false},
    {"the largest length", Entry(1008, 0x0403, 0xFFFFFFFFu, "ON"), {}, false},
    {"a length that wraps the offset", Entry(1008, 0x0403, 0xFFFFFFF8u, "ABCDEFGHIJ"), {}, false},
    {"a last entry without the end",
     Text(1009, "OFF"),
     {{1009, 0x0403, std::string("OFF\0", 4)}},
     false},
    {"a text without its zero",
     Join({Entry(1008, 0x0403, 2, "ON"), kEnd}),
     {{1008, 0x0403, "ON"}},
     true},
    {"an empty entry", Join({Entry(1008, 0x0403, 0, ""), kEnd}), {{1008, 0x0403, ""}}, true},
    {"bytes after the end are not read as entries",
     Join({Text(1008, "ON"), kEnd, Text(1009, "OFF")}),
     {{1008, 0x0403, std::string("ON\0", 3)}},
     true},
    {"other message codes are kept for the caller to judge",
     Join({Entry(1008, 0x1234, 1, std::string(1, '\0')), kEnd}),
     {{1008, 0x1234, std::string(1, '\0')}},
     true},
};

TEST(DlgInitTest, ParsesEntriesUpToTheEndOrTheBreak) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        const GuardedBytes guarded(c.list);
        const DlgInitList parsed = ParseDlgInit(guarded.span());
        EXPECT_EQ(parsed.complete, c.complete);
        ASSERT_EQ(parsed.entries.size(), c.entries.size());
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            const DlgInitEntry& entry = parsed.entries[i];
            EXPECT_EQ(entry.controlId, c.entries[i].id) << "entry " << i;
            EXPECT_EQ(entry.message, c.entries[i].message) << "entry " << i;
            EXPECT_EQ(std::string(entry.data.begin(), entry.data.end()), c.entries[i].data)
                << "entry " << i;
            EXPECT_GE(entry.data.data(), guarded.span().data()) << "entry " << i;
            EXPECT_LE(entry.data.data() + entry.data.size(),
                      guarded.span().data() + guarded.span().size())
                << "entry " << i;
        }
    }
}

TEST(DlgInitTest, TextStopsAtTheFirstZeroOrTheEntryEnd) {
    const struct {
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {std::string("ON\0", 3), L"ON"}, {"OFF", L"OFF"}, {std::string("A\0B\0", 4), L"A"},
        {std::string(1, '\0'), L""},     {"", L""},       {"1080P 30FPS", L"1080P 30FPS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const Bytes bytes(c.bytes.begin(), c.bytes.end());
        const GuardedBytes guarded(bytes);
        const DlgInitEntry entry{1008, kDlgInitComboAddString, guarded.span()};
        EXPECT_EQ(DlgInitText(entry), c.text);
    }
}

}  // namespace
