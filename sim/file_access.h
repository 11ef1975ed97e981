// The few file operations the simulated program's world file and trace need, on Windows through
// the Win32 calls (opened so that others may write, rename or delete the file meanwhile), elsewhere
// through the C library with the path in UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// What tells a changed file from the one read before: its time of last writing and its size.
struct FileStamp {
    bool exists = false;  // a file (not a folder) is there
    std::uint64_t written = 0;
    std::uint64_t size = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::wstring& path);

// The file's bytes; nothing when it cannot be opened.
std::optional<std::string> ReadFileBytes(const std::wstring& path);

// Appends `bytes` at the end of the file, which is created when missing, opened for this and closed
// again. False when it cannot be opened.
bool AppendToFile(const std::wstring& path, std::string_view bytes);

// `line` and a line end on the program's standard error (for a Windows program without a console:
// the handle it was started with, if any).
void WriteLineToStandardError(std::string_view line);

// The folder of the running program's executable, with its final separator ("" when it cannot
// be told).
std::wstring ExecutableFolder();

// The folder of `path` with its final separator, '\' or '/' ("" when it names none).
std::wstring FolderOf(const std::wstring& path);

// A path that starts at a drive ("C:...") or at a root ('\' or '/').
bool IsAbsolutePath(const std::wstring& path);

}  // namespace sim
