// The tool's exit codes: one per class of outcome, stable from release to release. The table is
// what --help prints and what the JSON output names as the error's "kind".
#pragma once

#include <string>
#include <string_view>

namespace cli {

enum class Exit : int {
    kOk = 0,
    kInternal = 1,
    kUsage = 2,
    kNoCamera = 3,
    kNotReady = 4,
    kSystemError = 5,
    kRefused = 6,
    kMismatch = 7,
    kNoVolume = 8,
};

struct ExitCodeInfo {
    Exit code;
    const char* kind;     // the JSON "kind" of an error with this code
    const char* meaning;  // one line for --help and the README
};

inline constexpr ExitCodeInfo kExitCodes[] = {
    {Exit::kOk, "ok", "done: everything asked for was carried out and confirmed"},
    {Exit::kInternal, "internal", "an unexpected error inside the tool"},
    {Exit::kUsage, "usage", "bad command line (unknown command, option or setting value)"},
    {Exit::kNoCamera, "no-camera", "no camera found, or the named drive holds none"},
    {Exit::kNotReady, "not-ready", "the camera is not ready: its state is neither 2 nor 3"},
    {Exit::kSystemError, "system-error",
     "a platform call failed; the system's error text is shown"},
    {Exit::kRefused, "refused",
     "the camera refused a command or cut its answer short; what it sent is shown"},
    {Exit::kMismatch, "mismatch", "a setting read back differs from the value just set"},
    {Exit::kNoVolume, "no-volume", "the camera's storage volume did not appear after release"},
};

inline constexpr int ToInt(Exit code) {
    return static_cast<int>(code);
}

inline std::string_view KindOf(Exit code) {
    for (const ExitCodeInfo& info : kExitCodes) {
        if (info.code == code) {
            return info.kind;
        }
    }
    return "internal";
}

// The table of exit codes as --help shows it, ending with the rule for several cameras.
std::string ExitCodeHelp();

}  // namespace cli
