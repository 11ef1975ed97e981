#include "sim/world_files.h"

#include <windows.h>

#include "sim/read_file_win32.h"

namespace sim {

namespace {

bool IsAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') ||
           (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

}  // namespace

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return FolderOf(std::wstring(path, length));
}

WorldFiles::Stamp WorldFiles::StampOf(const std::wstring& path) {
    Stamp stamp;
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

bool WorldFiles::Refresh(World& world) {
    if (!started_) {
        started_ = true;
        stamp_ = StampOf(places_.world);
        if (!stamp_.exists) {
            UseTrace(std::nullopt);
            Append("# " + places_.program + ": no world file at " + ToUtf8(places_.world) +
                   "; an empty computer, no drives and no camera");
            return false;
        }
        return Load(world, "read");
    }
    const Stamp now = StampOf(places_.world);
    if (now == stamp_) {
        return false;
    }
    stamp_ = now;
    if (!now.exists) {
        Append("# world file " + ToUtf8(places_.world) + " is gone; the world stays as it is");
        return false;
    }
    return Load(world, "read again");
}

bool WorldFiles::Load(World& world, const char* how) {
    const std::optional<std::string> text = ReadWholeFile(places_.world);
    if (!text) {
        UseTrace(loaded_ ? loaded_->trace : std::nullopt);
        Append("# world file " + ToUtf8(places_.world) + " cannot be read");
        return false;
    }
    ParsedWorld parsed = ParseWorldFile(*text);
    if (!parsed.ok()) {
        UseTrace(loaded_ ? loaded_->trace : std::nullopt);
        Append("# world file " + ToUtf8(places_.world) + " not taken, the world stays as it is:");
        for (const WorldFileError& error : parsed.errors) {
            Append("#   " + Describe(error));
        }
        return false;
    }
    UseTrace(parsed.world.trace);
    ApplyWorldFile(world, parsed.world, loaded_ ? &*loaded_ : nullptr);
    Append(std::string("# world file ") + how + ": " + ToUtf8(places_.world));
    loaded_ = std::move(parsed.world);
    return true;
}

void WorldFiles::UseTrace(const std::optional<std::string>& fromWorld) {
    if (places_.trace) {
        tracePath_ = *places_.trace;
    } else if (fromWorld) {
        const std::wstring path = FromUtf8(*fromWorld);
        tracePath_ = IsAbsolute(path) ? path : FolderOf(places_.world) + path;
    } else {
        tracePath_ = places_.defaultTrace;
    }
}

void WorldFiles::Append(const std::string& line) const {
    const HANDLE file = ::CreateFileW(tracePath_.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace sim
