#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "cli/sense.h"
#include "cli/text.h"
#include "os/text.h"

namespace cli {

using Json = nlohmann::ordered_json;

namespace {

std::string StateText(int state) {
    return std::to_string(state) + (IsReadyState(state) ? " (ready)" : " (not ready)");
}

std::string ChangeText(const SettingChange& change) {
    return std::string(InfoOf(change.setting).name) + "=" + ValueText(change.setting, change.value);
}

std::string ClockText(const ClockReport& clock) {
    return "clock set to " + FormatLocalTime(clock.local) + " (date command " +
           std::to_string(kCmdSetDate) + ": " +
           os::HexBytes(std::array{clock.sent.year, clock.sent.month, clock.sent.day}) +
           ", time command " + std::to_string(kCmdSetTime) + ": " +
           os::HexBytes(std::array{clock.sent.hour, clock.sent.minute, clock.sent.second}) + ")";
}

// "overwrite=on confirmed", "resolution=720p NOT TAKEN, reads back 1080p", "timestamp=on FAILED".
std::string ChangeOutcome(const ChangeReport& change) {
    std::string text = ChangeText(change.change);
    if (change.error && change.error->exit == Exit::kMismatch && change.readBack) {
        text += " NOT TAKEN, reads back " + ValueText(change.change.setting, *change.readBack);
    } else if (change.error) {
        text += " FAILED";
    } else {
        text += " confirmed";
    }
    return text;
}

// "E: " for a drive letter, "/dev/sg2: " for a name that does not end with a colon.
std::string DevicePrefix(const std::string& device) {
    return device.empty() ? std::string() : device + (device.back() == ':' ? " " : ": ");
}

// ---- JSON ----

Json ValueJson(Setting setting, const std::optional<int>& value) {
    if (!value) {
        return nullptr;
    }
    const std::optional<std::string> name = ValueName(setting, *value);
    return Json{{"value", *value}, {"name", name ? Json(*name) : Json(nullptr)}};
}

Json CommandJson(const CommandRef& command) {
    return Json{{"name", DescribeCommand(command)},
                {"code", command.code},
                {"form", command.inquiry                     ? "inquiry"
                         : command.form == CommandForm::kGet ? "get"
                                                             : "set"}};
}

Json FailureJson(const Failure& failure) {
    Json json;
    json["kind"] = std::string(KindOf(failure.exit));
    json["exit_code"] = ToInt(failure.exit);
    json["drive"] = failure.device.empty() ? Json(nullptr) : Json(failure.device);
    json["message"] = failure.message;
    json["command"] = failure.command ? CommandJson(*failure.command) : Json(nullptr);
    json["system_error"] =
        failure.systemError
            ? Json{{"code", *failure.systemError},
                   {"text", failure.systemText.empty() ? Json(nullptr) : Json(failure.systemText)}}
            : Json(nullptr);
    if (failure.scsiStatus) {
        const SenseFields fields = DecodeSense(failure.sense);
        json["scsi"] = Json{
            {"status", *failure.scsiStatus},
            {"status_name", StatusName(*failure.scsiStatus)},
            {"sense", os::HexBytes(failure.sense)},
            {"sense_key", fields.valid ? Json(fields.key) : Json(nullptr)},
            {"sense_key_name", fields.valid ? Json(SenseKeyName(fields.key)) : Json(nullptr)},
            {"asc", fields.valid ? Json(fields.asc) : Json(nullptr)},
            {"ascq", fields.valid ? Json(fields.ascq) : Json(nullptr)},
            {"data_bytes", failure.dataBytes.value_or(0)},
            {"expected_bytes", failure.expectedBytes.value_or(0)},
        };
    } else {
        json["scsi"] = nullptr;
    }
    json["state"] = failure.state ? Json(*failure.state) : Json(nullptr);
    if (failure.setting) {
        json["setting"] = Json{{"name", InfoOf(*failure.setting).name},
                               {"sent", ValueJson(*failure.setting, failure.sent)},
                               {"read_back", ValueJson(*failure.setting, failure.readBack)}};
    } else {
        json["setting"] = nullptr;
    }
    json["notes"] = failure.notes;
    return json;
}

Json OptionalFailureJson(const std::optional<Failure>& failure) {
    return failure ? FailureJson(*failure) : Json(nullptr);
}

Json CameraJson(const CameraReport& camera, CommandKind command) {
    Json json;
    json["drive"] = camera.device;
    json["inquiry"] = Json{{"vendor", camera.identity.vendor},
                           {"product", camera.identity.product},
                           {"revision", camera.identity.revision}};
    json["state"] = camera.state ? Json(*camera.state) : Json(nullptr);
    json["ready"] = camera.state ? Json(IsReadyState(*camera.state)) : Json(nullptr);
    json["firmware"] = camera.firmware ? Json(*camera.firmware) : Json(nullptr);
    Json settings = Json::object();
    for (std::size_t i = 0; i < kAllSettings.size(); ++i) {
        settings[InfoOf(kAllSettings[i]).name] = ValueJson(kAllSettings[i], camera.settings[i]);
    }
    json["settings"] = settings;
    if (command == CommandKind::kSet || command == CommandKind::kWatch) {
        Json changes = Json::array();
        for (const ChangeReport& change : camera.changes) {
            changes.push_back(Json{
                {"setting", InfoOf(change.change.setting).name},
                {"requested", ValueJson(change.change.setting, change.change.value)},
                {"read_back", ValueJson(change.change.setting, change.readBack)},
                {"confirmed", !change.error.has_value()},
                {"error", OptionalFailureJson(change.error)},
            });
        }
        json["changes"] = changes;
    }
    if (command == CommandKind::kSyncTime || command == CommandKind::kWatch) {
        if (camera.clock) {
            const CameraDateTime& sent = camera.clock->sent;
            json["clock"] = Json{{"local_time", FormatLocalTime(camera.clock->local, 'T')},
                                 {"date", {sent.year, sent.month, sent.day}},
                                 {"time", {sent.hour, sent.minute, sent.second}}};
        } else {
            json["clock"] = nullptr;
        }
    }
    if (command == CommandKind::kRelease) {
        json["volume"] = camera.volume ? Json(*camera.volume) : Json(nullptr);
        json["opened"] = camera.opened ? Json(*camera.opened) : Json(nullptr);
    }
    json["notes"] = camera.notes;
    json["error"] = OptionalFailureJson(camera.error);
    return json;
}

const char* ProbeResultName(ProbeResult result) {
    switch (result) {
        case ProbeResult::kAbsent:
            return "absent";
        case ProbeResult::kOpenFailed:
            return "open-failed";
        case ProbeResult::kInquiryFailed:
            return "inquiry-failed";
        case ProbeResult::kNotCamera:
            return "not-camera";
        case ProbeResult::kCamera:
            return "camera";
    }
    return "absent";
}

Json DriveJson(const DriveReport& drive) {
    const bool failed =
        drive.result == ProbeResult::kOpenFailed || drive.result == ProbeResult::kInquiryFailed;
    return Json{
        {"drive", drive.device},
        {"result", ProbeResultName(drive.result)},
        {"system_error",
         failed ? Json{{"code", drive.systemError},
                       {"text", drive.systemText.empty() ? Json(nullptr) : Json(drive.systemText)}}
                : Json(nullptr)},
        {"inquiry_byte3",
         drive.result == ProbeResult::kNotCamera ? Json(drive.mark) : Json(nullptr)},
    };
}

Json Head(CommandKind command) {
    return Json{{"schema", kSchema}, {"command", CommandName(command)}};
}

// ---- text ----

void PrintTable(const std::vector<std::vector<std::string>>& rows, Output& output) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        text += line + "\n";
    }
    output.Out(text);
}

void PrintList(const Report& report, Output& output) {
    std::vector<std::vector<std::string>> rows = {
        {"DRIVE", "STATE", "READY", "FIRMWARE", "OVERWRITE", "TIMESTAMP", "RESOLUTION"}};
    for (const CameraReport& camera : report.cameras) {
        std::vector<std::string> row = {
            camera.device,
            camera.state ? std::to_string(*camera.state) : "-",
            camera.state ? (IsReadyState(*camera.state) ? "yes" : "no") : "-",
            camera.firmware ? Printable(*camera.firmware) : "-",
        };
        for (std::size_t i = 0; i < kAllSettings.size(); ++i) {
            row.push_back(camera.settings[i] ? ValueText(kAllSettings[i], *camera.settings[i])
                                             : "-");
        }
        rows.push_back(row);
    }
    if (!report.cameras.empty()) {
        PrintTable(rows, output);
    }
}

void PrintStatus(const CameraReport& camera, Output& output) {
    std::vector<std::pair<std::string, std::string>> lines;
    const std::string identity =
        camera.identity.vendor + " " + camera.identity.product + " " + camera.identity.revision;
    lines.emplace_back("Identity", Printable(identity));
    if (camera.state) {
        lines.emplace_back("State", StateText(*camera.state));
    }
    if (camera.firmware) {
        lines.emplace_back("Firmware", Printable(*camera.firmware));
    }
    for (std::size_t i = 0; i < kAllSettings.size(); ++i) {
        if (camera.settings[i]) {
            lines.emplace_back(InfoOf(kAllSettings[i]).title,
                               ValueText(kAllSettings[i], *camera.settings[i]));
        }
    }
    std::string text = "Camera on " + camera.device + "\n";
    for (const auto& [title, value] : lines) {
        text += "  " + title + ":" + std::string(11 - title.size(), ' ') + value + "\n";
    }
    output.Out(text);
}

void PrintCameraLines(const Report& report, const CameraReport& camera, Output& output) {
    switch (report.command) {
        case CommandKind::kSet: {
            std::string text;
            for (const ChangeReport& change : camera.changes) {
                text += camera.device + " " + ChangeOutcome(change) + "\n";
            }
            output.Out(text);
            break;
        }
        case CommandKind::kSyncTime:
            if (camera.clock) {
                output.Out(camera.device + " " + ClockText(*camera.clock) + "\n");
            }
            break;
        case CommandKind::kRelease:
            if (camera.volume) {
                output.Out(*camera.volume + "\n");
            }
            break;
        case CommandKind::kStatus:
            PrintStatus(camera, output);
            break;
        case CommandKind::kList:
        case CommandKind::kWatch:
            break;
    }
    for (const std::string& note : camera.notes) {
        output.Err(std::string(kToolName) + ": " + DevicePrefix(camera.device) + note + "\n");
    }
}

}  // namespace

const char* CommandName(CommandKind command) {
    switch (command) {
        case CommandKind::kList:
            return "list";
        case CommandKind::kStatus:
            return "status";
        case CommandKind::kSet:
            return "set";
        case CommandKind::kSyncTime:
            return "sync-time";
        case CommandKind::kRelease:
            return "release";
        case CommandKind::kWatch:
            return "watch";
    }
    return "list";
}

const Failure* DecidingFailure(const Report& report) {
    if (report.error) {
        return &*report.error;
    }
    for (const CameraReport& camera : report.cameras) {
        if (camera.error) {
            return &*camera.error;
        }
    }
    return nullptr;
}

Exit ExitOf(const Report& report) {
    const Failure* deciding = DecidingFailure(report);
    return deciding != nullptr ? deciding->exit : Exit::kOk;
}

std::string DescribeDrive(const DriveReport& drive) {
    switch (drive.result) {
        case ProbeResult::kAbsent:
            return drive.device + " is not there";
        case ProbeResult::kOpenFailed:
            return drive.device + " could not be opened: " +
                   SystemErrorPhrase(drive.systemError, drive.systemText);
        case ProbeResult::kInquiryFailed:
            return drive.device + " opened, but its INQUIRY failed: " +
                   SystemErrorPhrase(drive.systemError, drive.systemText);
        case ProbeResult::kNotCamera:
            return drive.device + " is not a camera (INQUIRY byte 3 is " +
                   std::to_string(drive.mark) + "; a camera answers 1)";
        case ProbeResult::kCamera:
            return drive.device + " is a camera";
    }
    return drive.device;
}

std::string FormatLocalTime(const std::tm& local, char separator) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, separator, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return text;
}

void PrintFailure(const Failure& failure, Output& output) {
    std::string text = std::string(kToolName) + ": ";
    text += DevicePrefix(failure.device) + failure.message + "\n";
    for (const std::string& note : failure.notes) {
        text += std::string(kToolName) + ":   " + note + "\n";
    }
    output.Err(text);
}

void PrintText(const Report& report, Output& output, bool verbose) {
    if (report.command == CommandKind::kList) {
        PrintList(report, output);
    }
    for (const CameraReport& camera : report.cameras) {
        PrintCameraLines(report, camera, output);
        if (camera.error) {
            PrintFailure(*camera.error, output);
        }
    }
    for (const DriveReport& drive : report.drives) {
        if (verbose || drive.result == ProbeResult::kOpenFailed) {
            output.Err(std::string(kToolName) + ": " + DescribeDrive(drive) + "\n");
        }
    }
    if (report.error) {
        PrintFailure(*report.error, output);
    }
}

std::string ToJson(const Report& report) {
    Json json = Head(report.command);
    json["exit_code"] = ToInt(ExitOf(report));
    const Failure* deciding = DecidingFailure(report);
    json["error"] = deciding != nullptr ? FailureJson(*deciding) : Json(nullptr);
    Json cameras = Json::array();
    for (const CameraReport& camera : report.cameras) {
        cameras.push_back(CameraJson(camera, report.command));
    }
    json["cameras"] = cameras;
    Json drives = Json::array();
    for (const DriveReport& drive : report.drives) {
        drives.push_back(DriveJson(drive));
    }
    json["drives"] = drives;
    return json.dump() + "\n";
}

std::string WatchLineText(const CameraReport& camera) {
    std::vector<std::string> parts;
    if (camera.state) {
        parts.push_back("state " + StateText(*camera.state));
    }
    if (camera.firmware) {
        parts.push_back("firmware " + Printable(*camera.firmware));
    }
    if (camera.clock) {
        parts.push_back(ClockText(*camera.clock));
    }
    for (const ChangeReport& change : camera.changes) {
        parts.push_back(ChangeOutcome(change));
    }
    if (camera.error) {
        parts.push_back(std::string("FAILED (") + KindOf(camera.error->exit).data() + ")");
    }
    std::string line = camera.device + " arrived";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        line += (i == 0 ? ": " : "; ") + parts[i];
    }
    return line + "\n";
}

std::string WatchArrivalJson(const CameraReport& camera) {
    Json json = Head(CommandKind::kWatch);
    json["event"] = "arrival";
    json["exit_code"] = ToInt(camera.exit());
    json["camera"] = CameraJson(camera, CommandKind::kWatch);
    return json.dump() + "\n";
}

std::string WatchStoppedJson(const std::string& reason, int cameras, Exit exit,
                             const std::optional<Failure>& error) {
    Json json = Head(CommandKind::kWatch);
    json["event"] = "stopped";
    json["reason"] = reason;
    json["cameras"] = cameras;
    json["exit_code"] = ToInt(exit);
    json["error"] = OptionalFailureJson(error);
    return json.dump() + "\n";
}

}  // namespace cli
