// The world of the simulated program, Zelquin-sim.exe: the simulated computer is described by a
// world file, read before the first device call and read again whenever it has changed
// (sim/live_world_file.h), and every device call the program makes is appended to a trace file,
// one line each (sim/trace_writer.h).
//
//   world file  ZELQUIN_SIM_WORLD, or zelquin-sim.txt beside the executable
//   trace file  ZELQUIN_SIM_TRACE, or the world file's trace line (relative to the world file's
//               folder), or zelquin-sim-trace.txt beside the executable
//   echo        ZELQUIN_SIM_ECHO=notes (the lines starting with '#') or all (every line): the
//               trace's lines also go to the program's standard error
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

#include "os/text.h"
#include "sim/file_access.h"
#include "sim/letters.h"
#include "sim/live_world_file.h"
#include "sim/trace_writer.h"
#include "sim/world.h"

namespace {

constexpr wchar_t kWorldVariable[] = L"ZELQUIN_SIM_WORLD";
constexpr wchar_t kTraceVariable[] = L"ZELQUIN_SIM_TRACE";
constexpr wchar_t kEchoVariable[] = L"ZELQUIN_SIM_ECHO";
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

sim::WorldFilePlaces Places() {
    const std::wstring folder = sim::ExecutableFolder();
    const std::optional<std::wstring> named = Environment(kWorldVariable);
    return {named ? *named : folder + kWorldFileName, Environment(kTraceVariable),
            folder + kTraceFileName};
}

class ProgramWorld {
  public:
    ProgramWorld() : live_(sim::TheWorld(), trace_, Places(), "Zelquin-sim") {
        sim::World& world = sim::TheWorld();
        world.SetBeforeCall([this] { Refresh(); });
        sim::TraceEveryCall(world, trace_);
    }

    // Twice a second while notify is on: read a changed world file, then tell the windows
    // about the letters that came and went.
    // The device calls of other threads may be under way: the world changes under its lock.
    void Watch() {
        {
            const auto lock = sim::TheWorld().Lock();
            if (live_.applied() == nullptr || !live_.applied()->notify || announcing_) {
                return;
            }
            Refresh();
        }
        Announce();
    }

  private:
    // Before every device call: the first time, find the files and lay out the world; later,
    // lay out the changes when the world file has been written since.
    void Refresh() {
        if (!started_) {
            started_ = true;
            UseEcho();
        }
        live_.Refresh();
        if (live_.applied() != nullptr && live_.applied()->notify && watchTimer_ == 0) {
            // What is there now is known to the windows already, as at a computer's start.
            announced_ = sim::LettersOf(sim::TheWorld());
            watchTimer_ = ::SetTimer(nullptr, 0, kWatchPeriodMs, WatchTick);
        }
    }

    void UseEcho() {
        const std::optional<std::wstring> named = Environment(kEchoVariable);
        const std::optional<sim::TraceEcho> echo =
            sim::ParseTraceEcho(named ? os::ToUtf8(*named) : std::string());
        if (echo) {
            trace_.SetEcho(*echo, sim::WriteLineToStandardError);
        } else {
            sim::WriteLineToStandardError("Zelquin-sim: ZELQUIN_SIM_ECHO=" + os::ToUtf8(*named) +
                                          " is none, notes or all; nothing is echoed");
        }
    }

    // Removals first, then arrivals, one letter an event, sent to every top-level window of this
    // thread (the control panel, and any message box that is open).
    void Announce() {
        announcing_ = true;
        sim::LetterState now;
        {
            const auto lock = sim::TheWorld().Lock();
            now = sim::LettersOf(sim::TheWorld());
        }
        for (const sim::LetterEvent& event : sim::VolumeEvents(announced_, now)) {
            Broadcast(event.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, event.letter);
        }
        announced_ = now;
        announcing_ = false;
    }

    void Broadcast(WPARAM event, char letter) const {
        trace_.Append(
            std::string("# notify: ") +
            (event == DBT_DEVICEARRIVAL ? "DBT_DEVICEARRIVAL " : "DBT_DEVICEREMOVECOMPLETE ") +
            letter + ":");
        DEV_BROADCAST_VOLUME record = {};
        record.dbcv_size = sizeof record;
        record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        record.dbcv_unitmask = 1u << (letter - 'A');
        std::vector<HWND> windows;
        ::EnumThreadWindows(::GetCurrentThreadId(), CollectWindow,
                            reinterpret_cast<LPARAM>(&windows));
        for (HWND window : windows) {
            ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
        }
    }

    sim::TraceWriter trace_;
    sim::LiveWorldFile live_;
    bool started_ = false;
    UINT_PTR watchTimer_ = 0;
    sim::LetterState announced_;  // what the windows know of
    bool announcing_ = false;
};

ProgramWorld g_programWorld;

void CALLBACK WatchTick(HWND, UINT, UINT_PTR, DWORD) {
    g_programWorld.Watch();
}

}  // namespace
