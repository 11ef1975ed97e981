// The trace file of the simulated program: one line per device call, appended as the call
// returns, and the program's own notes, lines that start with '#' (docs/simulator.md shows the
// lines).
//
//     sim::TraceWriter trace;
//     trace.SetPath(L"C:\\sim\\trace.txt");
//     sim::TraceEveryCall(sim::TheWorld(), trace);   // every device call from now on
//     trace.Append("# world file read: C:\\sim\\world.txt");
//
// A second sink may receive the notes, or every line, as well (the simulated program hands them
// to its standard error when ZELQUIN_SIM_ECHO asks for it).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "sim/world.h"

namespace sim {

// One line of the trace file (no line end) for a recorded call, for example
//   DeviceIoControl E: handle 00001000 IOCTL_SCSI_PASS_THROUGH in=44 out=88
//       head=2C 00 ... cdb=FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00 -> ok status=00
//       data=8 returned=88
// (all on one line). Wide texts are written as UTF-8.
std::string TraceLine(const Event& event);

// Which lines also go to the second sink.
enum class TraceEcho : std::uint8_t {
    kNone,
    kNotes,  // the lines that start with '#'
    kAll,
};

// "none" or "" (kNone), "notes", "all"; nothing for any other text.
std::optional<TraceEcho> ParseTraceEcho(std::string_view text);

class TraceWriter {
  public:
    // The file the lines go to from now on; an empty path drops them. Each line is appended with
    // the file opened for it and closed again, so that the file can be read, emptied or removed
    // at any time; a file that cannot be opened loses the line.
    void SetPath(std::wstring path) { path_ = std::move(path); }
    const std::wstring& path() const { return path_; }

    // `sink` receives each line chosen by `echo` (without a line end) after it was appended; a
    // null sink echoes nothing.
    void SetEcho(TraceEcho echo, std::function<void(std::string_view line)> sink);

    // `line` and a line end. Lines from several threads are appended one whole line at a time.
    void Append(std::string_view line) const;

  private:
    std::wstring path_;
    TraceEcho echo_ = TraceEcho::kNone;
    std::function<void(std::string_view)> sink_;
    mutable std::mutex mutex_;
};

// From now on every device call `world` records is appended to `writer` as its TraceLine (a
// pass-through that drew a hostile camera's action preceded by the action's HostileTraceLine) and
// dropped from the world's own trace (which would otherwise grow for as long as the program
// runs). Both must outlive the world's observer; World::SetObserver(nullptr) ends it.
void TraceEveryCall(World& world, TraceWriter& writer);

}  // namespace sim
