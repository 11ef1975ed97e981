// Reads a whole file on Windows while others may write, rename or delete it meanwhile: the
// simulated program reads its world file this way, and so does the end-to-end driver its traces.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace sim {

// The file's bytes; nothing when it cannot be opened.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        text.append(chunk, read);
    }
    ::CloseHandle(file);
    return text;
}

}  // namespace sim
