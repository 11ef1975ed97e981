// What a command found and did, and its two renderings: plain text for people (the report on
// standard output, diagnostics on standard error) and one JSON document for scripts, whose schema
// "zelquin-cli/1" is described in docs/cli.md and docs/zelquin-cli.schema.json.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/backend.h"
#include "cli/failure.h"
#include "cli/settings.h"
#include "link/protocol.h"

namespace cli {

inline constexpr char kSchema[] = "zelquin-cli/1";
inline constexpr char kToolName[] = "zelquin-cli";

enum class CommandKind : std::uint8_t { kList, kStatus, kSet, kSyncTime, kRelease, kWatch };

const char* CommandName(CommandKind command);

// The identification of the INQUIRY data, trimmed.
struct Identity {
    std::string vendor;
    std::string product;
    std::string revision;
};

struct ChangeReport {
    SettingChange change;
    std::optional<int> readBack;
    std::optional<Failure> error;
};

struct ClockReport {
    std::tm local = {};
    CameraDateTime sent = {};
};

struct CameraReport {
    std::string device;
    Identity identity;
    std::optional<int> state;
    std::optional<std::string> firmware;
    std::array<std::optional<int>, 3> settings;  // in kAllSettings order; unset when not read
    std::vector<ChangeReport> changes;           // set, watch --set
    std::optional<ClockReport> clock;            // sync-time, watch --sync-time
    std::optional<std::string> volume;           // release
    std::optional<bool> opened;                  // release --open
    std::vector<std::string> notes;
    std::optional<Failure> error;  // the failure that ended the work on this camera

    Exit exit() const { return error ? error->exit : Exit::kOk; }
};

// A device that was there but is not a camera, or could not be asked.
struct DriveReport {
    std::string device;
    ProbeResult result = ProbeResult::kAbsent;
    std::uint32_t systemError = 0;
    std::string systemText;
    std::uint8_t mark = 0;  // INQUIRY byte 3, for kNotCamera
};

struct Report {
    CommandKind command = CommandKind::kList;
    std::vector<CameraReport> cameras;
    std::vector<DriveReport> drives;
    std::optional<Failure> error;  // a failure that concerns no one camera report
};

// What decides the exit code: the report's own failure, else that of the first camera (in device
// order) whose work failed; null when nothing failed.
const Failure* DecidingFailure(const Report& report);
Exit ExitOf(const Report& report);

// "F: could not be opened: Access is denied. (system error 5)".
std::string DescribeDrive(const DriveReport& drive);

// "2025-03-07 14:05:09", or with 'T' as `separator` "2025-03-07T14:05:09" (ISO 8601, for JSON).
std::string FormatLocalTime(const std::tm& local, char separator = ' ');

// The text rendering: the report to Out, the failure and the drives worth knowing about to Err
// (with `verbose`, every drive that was there).
void PrintText(const Report& report, Output& output, bool verbose);

// The JSON document, on one line with a final line break.
std::string ToJson(const Report& report);

// The watch's lines: one per camera that arrived, and the last one.
std::string WatchLineText(const CameraReport& camera);
std::string WatchArrivalJson(const CameraReport& camera);
std::string WatchStoppedJson(const std::string& reason, int cameras, Exit exit,
                             const std::optional<Failure>& error);

// Err lines for a failure: "zelquin-cli: E: message" and its notes.
void PrintFailure(const Failure& failure, Output& output);

}  // namespace cli
