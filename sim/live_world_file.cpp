#include "sim/live_world_file.h"

#include <utility>

#include "os/text.h"
#include "sim/file_access.h"
#include "sim/world_file_apply.h"

namespace sim {

std::wstring TracePath(const WorldFilePlaces& places, const std::optional<std::string>& traceLine) {
    if (places.traceOverride) {
        return *places.traceOverride;
    }
    if (traceLine) {
        const std::wstring path = os::FromUtf8(*traceLine);
        return IsAbsolutePath(path) ? path : FolderOf(places.world) + path;
    }
    return places.defaultTrace;
}

LiveWorldFile::LiveWorldFile(World& world, TraceWriter& trace, WorldFilePlaces places,
                             std::string programName)
    : world_(world),
      trace_(trace),
      places_(std::move(places)),
      programName_(std::move(programName)) {}

bool LiveWorldFile::Refresh() {
    if (!started_) {
        started_ = true;
        stamp_ = StampOf(places_.world);
        if (!stamp_.exists) {
            trace_.SetPath(TracePath(places_, std::nullopt));
            Note(programName_ + ": no world file at " + os::ToUtf8(places_.world) +
                 "; an empty computer, no drives and no camera");
            return false;
        }
        return Load("read");
    }
    const FileStamp now = StampOf(places_.world);
    if (now == stamp_) {
        return false;
    }
    stamp_ = now;
    if (!now.exists) {
        Note("world file " + os::ToUtf8(places_.world) + " is gone; the world stays as it is");
        return false;
    }
    return Load("read again");
}

bool LiveWorldFile::Load(const char* how) {
    const std::optional<std::string> text = ReadFileBytes(places_.world);
    const std::optional<std::string> traceBefore =
        applied_ ? applied_->trace : std::optional<std::string>();
    if (!text) {
        trace_.SetPath(TracePath(places_, traceBefore));
        Note("world file " + os::ToUtf8(places_.world) + " cannot be read");
        return false;
    }
    ParsedWorld parsed = ParseWorldFile(*text);
    if (!parsed.ok()) {
        trace_.SetPath(TracePath(places_, traceBefore));
        Note("world file " + os::ToUtf8(places_.world) + " not taken, the world stays as it is:");
        for (const WorldFileError& error : parsed.errors) {
            Note("  " + Describe(error));
        }
        return false;
    }
    trace_.SetPath(TracePath(places_, parsed.world.trace));
    ApplyWorldFile(world_, parsed.world, applied_ ? &*applied_ : nullptr);
    Note(std::string("world file ") + how + ": " + os::ToUtf8(places_.world));
    applied_ = std::move(parsed.world);
    return true;
}

void LiveWorldFile::Note(const std::string& text) const {
    trace_.Append("# " + text);
}

}  // namespace sim
