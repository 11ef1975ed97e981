#include "app/afx/dlginit.h"

#include <windows.h>

#include <algorithm>

#include "os/bytes.h"

namespace {

// An entry's head: the control id, the message code, the length of the bytes that follow.
constexpr std::size_t kEntryId = 0;
constexpr std::size_t kEntryMessage = 2;
constexpr std::size_t kEntryLength = 4;
constexpr std::size_t kEntryHeadSize = 8;

}  // namespace

DlgInitList ParseDlgInit(std::span<const std::uint8_t> list) {
    DlgInitList result{{}, false};
    std::size_t at = 0;
    while (list.size() - at >= 2) {
        const std::uint16_t id = bytes::GetLe16(list.data(), at + kEntryId);
        if (id == 0) {
            result.complete = true;
            break;
        }
        if (list.size() - at < kEntryHeadSize) {
            break;
        }
        const std::uint16_t message = bytes::GetLe16(list.data(), at + kEntryMessage);
        const std::uint32_t length = bytes::GetLe32(list.data(), at + kEntryLength);
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
