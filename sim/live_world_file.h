// A world kept in step with its world file while a program runs: the file is read before the
// first device call and read again whenever its time of writing or size has changed, each valid
// text laid out as the change from the one before (sim/world_file_apply.h), and what happened
// written to the trace as the program's notes:
//
//     # world file read: C:\sim\world.txt
//     # world file read again: C:\sim\world.txt
//     # world file C:\sim\world.txt not taken, the world stays as it is:
//     #   line 3: unknown key "colour" in a camera line
//     # world file C:\sim\world.txt cannot be read
//     # world file C:\sim\world.txt is gone; the world stays as it is
//     # Zelquin-sim: no world file at C:\sim\world.txt; an empty computer, no drives and no camera
//
// It also decides where the trace goes, since the world file may name the trace file.
//
//     sim::TraceWriter trace;
//     sim::LiveWorldFile live(sim::TheWorld(), trace, {worldPath, traceFromEnvironment,
//                                                      besideTheProgram}, "Zelquin-sim");
//     sim::TheWorld().SetBeforeCall([&] { live.Refresh(); });
#pragma once

#include <optional>
#include <string>

#include "sim/file_access.h"
#include "sim/trace_writer.h"
#include "sim/world.h"
#include "sim/world_file_parse.h"

namespace sim {

struct WorldFilePlaces {
    std::wstring world;                         // the world file
    std::optional<std::wstring> traceOverride;  // the trace file whatever the world file says
    std::wstring defaultTrace;                  // the trace file when neither names one
};

// The trace file: the override when there is one; else the world file's trace line, taken
// relative to the world file's folder unless it is absolute; else the default.
std::wstring TracePath(const WorldFilePlaces& places, const std::optional<std::string>& traceLine);

class LiveWorldFile {
  public:
    // `programName` opens the note of a missing world file. The world and the writer must
    // outlive this object.
    LiveWorldFile(World& world, TraceWriter& trace, WorldFilePlaces places,
                  std::string programName);

    // The first call reads the world file and lays out its world on `world` as it is (no file,
    // or a file with errors: the world stays as it is, empty after a Reset()); every later call
    // reads the file again when it has changed and lays out what changed. A file with any error
    // is not taken at all. Points the trace writer at the trace file the file read names before
    // the note of it is written. True when this call laid out a description.
    bool Refresh();

    // The description last laid out; null while none has been.
    const WorldDescription* applied() const { return applied_ ? &*applied_ : nullptr; }
    const WorldFilePlaces& places() const { return places_; }

  private:
    bool Load(const char* how);
    void Note(const std::string& text) const;

    World& world_;
    TraceWriter& trace_;
    WorldFilePlaces places_;
    std::string programName_;
    bool started_ = false;
    FileStamp stamp_;
    std::optional<WorldDescription> applied_;
};

}  // namespace sim
