// The tool's commands, each carried out through a Backend and told as a Report (watch prints as it
// goes). Each camera is opened, worked on and closed with the panel's order and pauses
// (link/pacing.h) unless the user sets another pace. A command over every camera (list, --all)
// looks at all devices at once, each on a thread of its own with its own handle, and reports them
// in drive order; the backend must take calls from several threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/backend.h"
#include "cli/report.h"
#include "cli/settings.h"
#include "link/pacing.h"

namespace cli {

// The cameras a command works on: the one on `device`; every camera (`all`); or, with neither,
// the first camera found.
struct Target {
    std::optional<std::string> device;
    bool all = false;
    std::uint32_t paceMs = kSettingPauseMs;  // between two operations on one camera
};

// Pause between two looks for something that takes the camera a moment: its readiness after it
// arrived.
inline constexpr std::uint32_t kPollIntervalMs = 500;
inline constexpr std::uint32_t kDefaultReleaseTimeoutMs = 10000;
// After an arrival: how often a device that cannot be opened or asked yet is tried, and how
// often the state of a camera that is not ready yet is read, kPollIntervalMs apart.
inline constexpr int kArrivalProbeTries = 3;
inline constexpr int kArrivalStateTries = 10;

// Every camera: state, and for a ready one firmware and settings. Not being ready is no failure
// here; the state says it.
Report RunList(Backend& backend, std::uint32_t paceMs = kSettingPauseMs);

// State, firmware and settings; a camera that is not ready fails with kNotReady.
Report RunStatus(Backend& backend, const Target& target);

// Each change is sent, then read back (each its own operation); a value that reads back different
// fails with kMismatch.
Report RunSet(Backend& backend, const Target& target, const std::vector<SettingChange>& changes);

// The date and time commands from the local time.
Report RunSyncTime(Backend& backend, const Target& target);

struct ReleaseOptions {
    std::optional<std::string> device;
    bool open = false;
    std::uint32_t timeoutMs = kDefaultReleaseTimeoutMs;
    std::uint32_t paceMs = kSettingPauseMs;
};

// The release command, then a wait of up to `timeoutMs` for the camera's storage volume: one that
// arrives or changes after the command (Backend::WatchVolumes), never the device that was there
// before. It is told (and opened in the file manager with `open`).
Report RunRelease(Backend& backend, const ReleaseOptions& options);

struct WatchOptions {
    bool syncTime = false;
    std::vector<SettingChange> changes;
    std::optional<int> count;                // stop after this many cameras
    std::optional<std::uint32_t> timeoutMs;  // stop after this long
    bool json = false;
    std::uint32_t paceMs = kSettingPauseMs;
};

// Waits for volume arrivals and sets up every camera among them, one line each. Each camera is set
// up on a thread of its own as it arrives, and the lines keep the order of the arrivals; the
// cameras that arrived before the watch ends are set up and told before it returns. Ends when the
// user stops it, after `count` cameras or at the timeout; the exit code is that of the first camera
// that could not be set up, kNoCamera when the time ran out before `count` cameras (or any) came,
// kSystemError when listening failed.
Exit RunWatch(Backend& backend, EventSourceFactory& events, const WatchOptions& options,
              Output& output);

}  // namespace cli
