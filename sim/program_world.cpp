// The world of the simulated program, Zelquin-sim.exe: the simulated computer is described by a
// world file (sim/world_file.h), read before the first device call and read again whenever it
// has changed, and every device call the program makes is appended to a trace file, one line each.
//
//   world file  ZELQUIN_SIM_WORLD, or zelquin-sim.txt beside the executable
//   trace file  ZELQUIN_SIM_TRACE, or the world file's trace line (relative to the world file's
//               folder), or zelquin-sim-trace.txt beside the executable
//
// With a notify line in the world file the program also looks at the file twice a second while
// idle, and tells its windows about drive letters that came or went since it last looked (the
// volume arrival and removal events Windows sends to every top-level window), as a person who
// plugs the camera in by editing the file would expect.
//
// Linked into the simulated program only; the product has no world, no trace and reads no
// environment.
#include <windows.h>

#include <dbt.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/read_file_win32.h"
#include "sim/world.h"
#include "sim/world_file.h"

namespace {

constexpr wchar_t kWorldVariable[] = L"ZELQUIN_SIM_WORLD";
constexpr wchar_t kTraceVariable[] = L"ZELQUIN_SIM_TRACE";
constexpr wchar_t kWorldFileName[] = L"zelquin-sim.txt";
constexpr wchar_t kTraceFileName[] = L"zelquin-sim-trace.txt";
constexpr UINT kWatchPeriodMs = 500;

void CALLBACK WatchTick(HWND, UINT, UINT_PTR, DWORD);

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

std::optional<std::wstring> Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2];
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) {
        return std::nullopt;
    }
    return std::wstring(value, length);
}

// The folder of `path`, with its final separator ("" when it names none).
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return FolderOf(std::wstring(path, length));
}

bool IsAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') ||
           (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

// What tells a changed file from the one read before: its time of last writing and its size.
struct Stamp {
    bool exists = false;
    FILETIME written = {};
    ULONGLONG size = 0;

    bool operator==(const Stamp& other) const {
        return exists == other.exists && written.dwLowDateTime == other.written.dwLowDateTime &&
               written.dwHighDateTime == other.written.dwHighDateTime && size == other.size;
    }
};

Stamp StampOf(const std::wstring& path) {
    Stamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        stamp.exists = true;
        stamp.written = data.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

class ProgramWorld {
  public:
    ProgramWorld() {
        sim::World& world = sim::TheWorld();
        world.SetBeforeCall([this] { Refresh(); });
        world.SetObserver([this](const sim::Event& event) {
            Append(sim::TraceLine(event));
            // The trace lives in the file; the world keeps none of it.
            sim::TheWorld().ClearTrace();
        });
    }

    // Twice a second while notify is on: read a changed world file, then tell the windows
    // about the letters that came and went.
    void Watch() {
        if (!loaded_ || !loaded_->notify || announcing_) {
            return;
        }
        Refresh();
        Announce();
    }

  private:
    // Before every device call: the first time, find the files and lay out the world; later,
    // lay out the changes when the world file has been written since.
    void Refresh() {
        if (!started_) {
            started_ = true;
            const std::optional<std::wstring> named = Environment(kWorldVariable);
            worldPath_ = named ? *named : ExecutableFolder() + kWorldFileName;
            stamp_ = StampOf(worldPath_);
            if (!stamp_.exists) {
                UseTrace(std::nullopt);
                Append("# Zelquin-sim: no world file at " + sim::ToUtf8(worldPath_) +
                       "; an empty computer, no drives and no camera");
                return;
            }
            Load("read");
            return;
        }
        const Stamp now = StampOf(worldPath_);
        if (now == stamp_) {
            return;
        }
        stamp_ = now;
        if (!now.exists) {
            Append("# world file " + sim::ToUtf8(worldPath_) +
                   " is gone; the world stays as it is");
            return;
        }
        Load("read again");
    }

    void Load(const char* how) {
        const std::optional<std::string> text = sim::ReadWholeFile(worldPath_);
        if (!text) {
            UseTrace(loaded_ ? loaded_->trace : std::nullopt);
            Append("# world file " + sim::ToUtf8(worldPath_) + " cannot be read");
            return;
        }
        sim::ParsedWorld parsed = sim::ParseWorldFile(*text);
        if (!parsed.ok()) {
            UseTrace(loaded_ ? loaded_->trace : std::nullopt);
            Append("# world file " + sim::ToUtf8(worldPath_) +
                   " not taken, the world stays as it is:");
            for (const sim::WorldFileError& error : parsed.errors) {
                Append("#   " + sim::Describe(error));
            }
            return;
        }
        UseTrace(parsed.world.trace);
        sim::ApplyWorldFile(sim::TheWorld(), parsed.world, loaded_ ? &*loaded_ : nullptr);
        Append(std::string("# world file ") + how + ": " + sim::ToUtf8(worldPath_));
        loaded_ = std::move(parsed.world);
        if (loaded_->notify && watchTimer_ == 0) {
            // What is there now is known to the windows already, as at a computer's start.
            announced_ = PresentLetters();
            watchTimer_ = ::SetTimer(nullptr, 0, kWatchPeriodMs, WatchTick);
        }
    }

    static std::uint32_t PresentLetters() {
        std::uint32_t letters = 0;
        for (int i = 0; i < sim::kLetterCount; ++i) {
            if (sim::TheWorld().drive(static_cast<char>('A' + i)).present) {
                letters |= 1u << i;
            }
        }
        return letters;
    }

    // Removals first, then arrivals, one letter an event, sent to every top-level window of this
    // thread (the control panel, and any message box that is open).
    void Announce() {
        announcing_ = true;
        const std::uint32_t now = PresentLetters();
        for (const bool arrivals : {false, true}) {
            for (int i = 0; i < sim::kLetterCount; ++i) {
                const std::uint32_t bit = 1u << i;
                if (((now & bit) != 0) == arrivals && ((announced_ & bit) != 0) != arrivals) {
                    Broadcast(arrivals ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, i);
                }
            }
        }
        announced_ = now;
        announcing_ = false;
    }

    void Broadcast(WPARAM event, int letterIndex) const {
        const char letter = static_cast<char>('A' + letterIndex);
        Append(std::string("# notify: ") +
               (event == DBT_DEVICEARRIVAL ? "DBT_DEVICEARRIVAL " : "DBT_DEVICEREMOVECOMPLETE ") +
               letter + ":");
        DEV_BROADCAST_VOLUME record = {};
        record.dbcv_size = sizeof record;
        record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        record.dbcv_unitmask = 1u << letterIndex;
        std::vector<HWND> windows;
        ::EnumThreadWindows(::GetCurrentThreadId(), CollectWindow,
                            reinterpret_cast<LPARAM>(&windows));
        for (HWND window : windows) {
            ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
        }
    }

    // The trace goes to ZELQUIN_SIM_TRACE, else to the world file's trace line, else beside the
    // executable.
    void UseTrace(const std::optional<std::string>& fromWorld) {
        if (const std::optional<std::wstring> named = Environment(kTraceVariable)) {
            tracePath_ = *named;
        } else if (fromWorld) {
            const std::wstring path = sim::FromUtf8(*fromWorld);
            tracePath_ = IsAbsolute(path) ? path : FolderOf(worldPath_) + path;
        } else {
            tracePath_ = ExecutableFolder() + kTraceFileName;
        }
    }

    // One line at the end of the trace file, which is opened for it and closed again, so that it
    // can be read, emptied or removed at any time.
    void Append(const std::string& line) const {
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

    bool started_ = false;
    std::wstring worldPath_;
    std::wstring tracePath_;
    Stamp stamp_;
    std::optional<sim::WorldDescription> loaded_;
    UINT_PTR watchTimer_ = 0;
    std::uint32_t announced_ = 0;  // the letters the windows know of, bit 0 for A
    bool announcing_ = false;
};

ProgramWorld g_programWorld;

void CALLBACK WatchTick(HWND, UINT, UINT_PTR, DWORD) {
    g_programWorld.Watch();
}

}  // namespace
