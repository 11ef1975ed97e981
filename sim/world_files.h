// The world file and the trace file of a Windows program that plays the simulated computer: the
// simulated program Zelquin-sim.exe, and the virtual camera's service. The world file
// (sim/world_file.h) is read before the first device call and read again whenever it has changed;
// every device call is appended to the trace file, one line each, with the program's own notes
// as lines that start with '#'. docs/simulator.md describes both files.
//
//     sim::WorldFiles files({worldPath, traceOverride, defaultTracePath, "Zelquin-sim"});
//     files.Refresh(world);                 // before each device call
//     files.Append(sim::TraceLine(event));  // after it
//
// Windows only (it reads and writes files with the Win32 calls, which let others write, rename
// or delete them meanwhile).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/world.h"
#include "sim/world_file.h"

namespace sim {

// The folder of `path`, with its final separator ("" when it names none).
std::wstring FolderOf(const std::wstring& path);
// The folder of the running executable, with its final separator.
std::wstring ExecutableFolder();

class WorldFiles {
  public:
    struct Places {
        std::wstring world;                 // the world file
        std::optional<std::wstring> trace;  // the trace file, whatever the world file says
        std::wstring defaultTrace;          // when neither `trace` nor the world file names one
        std::string program;                // the program's name, in its notes
    };

    explicit WorldFiles(Places places) : places_(std::move(places)) {}

    // The first call reads the world file and lays it out in `world` (which stays an empty
    // computer when there is no file); later calls lay out what changed when the file has been
    // written since. Errors and what was read go to the trace as notes. True when a description
    // was applied.
    bool Refresh(World& world);

    // One line at the end of the trace file, which is opened for it and closed again, so that
    // it can be read, emptied or removed at any time.
    void Append(const std::string& line) const;

    // The description applied last; none before the first good read.
    const std::optional<WorldDescription>& loaded() const { return loaded_; }
    const std::wstring& worldPath() const { return places_.world; }
    const std::wstring& tracePath() const { return tracePath_; }

  private:
    // What tells a changed file from the one read before: its time of writing and its size.
    struct Stamp {
        bool exists = false;
        std::uint64_t written = 0;
        std::uint64_t size = 0;

        bool operator==(const Stamp&) const = default;
    };

    static Stamp StampOf(const std::wstring& path);
    bool Load(World& world, const char* how);
    void UseTrace(const std::optional<std::string>& fromWorld);

    Places places_;
    bool started_ = false;
    Stamp stamp_;
    std::wstring tracePath_;
    std::optional<WorldDescription> loaded_;
};

}  // namespace sim
