#include "app/afx/dlginit.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr std::size_t kEntryHeadSize = 8;  // id, message, length

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(Le16(bytes, at)) |
           (static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16);
}

}  // namespace

DlgInitList ParseDlgInit(std::span<const std::uint8_t> list) {
    DlgInitList result{{}, false};
    std::size_t at = 0;
    while (list.size() - at >= 2) {
        const std::uint16_t id = Le16(list, at);
        if (id == 0) {
            result.complete = true;
            break;
        }
        if (list.size() - at < kEntryHeadSize) {
            break;
        }
        const std::uint16_t message = Le16(list, at + 2);
        const std::uint32_t length = Le32(list, at + 4);
        at += kEntryHeadSize;
        if (length > list.size() - at) {
            break;
        }
        result.entries.push_back({id, message, list.subspan(at, length)});
        at += length;
    }
    return result;
}

std::wstring DlgInitText(const DlgInitEntry& entry) {
    const auto end = std::find(entry.data.begin(), entry.data.end(), std::uint8_t{0});
    const auto length = static_cast<int>(end - entry.data.begin());
    if (length == 0) {
        return {};
    }
    const char* text = reinterpret_cast<const char*>(entry.data.data());
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (wide <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, length, result.data(), wide);
    return result;
}
