#include "sim/file_access.h"

#ifdef _WIN32
#include <windows.h>

#include "sim/read_file_win32.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "os/text.h"
#endif

namespace sim {

#ifdef _WIN32

FileStamp StampOf(const std::wstring& path) {
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        stamp.exists = true;
        stamp.written = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                        data.ftLastWriteTime.dwLowDateTime;
        stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    return ReadWholeFile(path);
}

bool AppendToFile(const std::wstring& path, std::string_view bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) != FALSE;
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

void WriteLineToStandardError(std::string_view line) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string text(line);
    text += '\n';
    DWORD written = 0;
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return FolderOf(std::wstring(path, length < MAX_PATH * 2 ? length : 0));
}

#else

FileStamp StampOf(const std::wstring& path) {
    FileStamp stamp;
    struct stat data = {};
    if (::stat(os::ToUtf8(path).c_str(), &data) == 0 && !S_ISDIR(data.st_mode)) {
        stamp.exists = true;
        stamp.written = static_cast<std::uint64_t>(data.st_mtim.tv_sec) * 1000000000u +
                        static_cast<std::uint64_t>(data.st_mtim.tv_nsec);
        stamp.size = static_cast<std::uint64_t>(data.st_size);
    }
    return stamp;
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    std::FILE* file = std::fopen(os::ToUtf8(path).c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    std::size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, read);
    }
    std::fclose(file);
    return text;
}

bool AppendToFile(const std::wstring& path, std::string_view bytes) {
    std::FILE* file = std::fopen(os::ToUtf8(path).c_str(), "ab");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

void WriteLineToStandardError(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::wstring ExecutableFolder() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
        return {};
    }
    return FolderOf(os::FromUtf8(std::string_view(path, static_cast<std::size_t>(length))));
}

#endif

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool IsAbsolutePath(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') ||
           (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

}  // namespace sim
