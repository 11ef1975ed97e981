// The dialog initialisation list (resource type 240, the same id as its dialog template): the
// strings the framework adds to list and combo boxes when the dialog starts.
//
// Each entry is a 16-bit control id, a 16-bit message code, a 32-bit length and that many bytes
// of 8-bit text, all little-endian and packed with no alignment; a 16-bit zero id ends the list.
// The list is read byte by byte and never past the size of its resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The message codes the list uses for adding a string (the 16-bit windowing values).
inline constexpr std::uint16_t kDlgInitListAddString = 0x0401;
inline constexpr std::uint16_t kDlgInitComboAddString = 0x0403;

// The resource type of the list.
inline constexpr std::uint16_t kDlgInitResourceType = 240;

struct DlgInitEntry {
    std::uint16_t controlId;
    std::uint16_t message;
    std::span<const std::uint8_t> data;  // the entry's bytes, inside the list
};

struct DlgInitList {
    std::vector<DlgInitEntry> entries;  // every whole entry before the end or the break
    bool complete;                      // the list ended with its zero id
};

DlgInitList ParseDlgInit(std::span<const std::uint8_t> list);

// The entry's 8-bit text up to its first zero byte (or all of its bytes when it has none),
// converted from the ANSI code page.
std::wstring DlgInitText(const DlgInitEntry& entry);
