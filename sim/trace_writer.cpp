#include "sim/trace_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <utility>

#include "os/text.h"
#include "sim/drive_types.h"
#include "sim/file_access.h"
#include "sim/quoted.h"

namespace sim {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::string HandleText(os::Handle handle) {
    if (handle == os::InvalidHandle()) {
        return "INVALID_HANDLE_VALUE";
    }
    char text[24];
    std::snprintf(text, sizeof text, "%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
    return text;
}

std::string DriveOf(const Event& event) {
    return event.letter == 0 ? std::string("?:") : std::string{event.letter, ':'};
}

std::string Wide(const std::optional<std::wstring>& text) {
    return text ? Quoted(os::ToUtf8(*text)) : std::string("null");
}

std::string Outcome(bool ok) {
    return ok ? "ok" : "failed";
}

}  // namespace

std::string TraceLine(const Event& event) {
    std::string line;
    switch (event.call) {
        case Call::kCreateFile:
            line = "CreateFileW " + Quoted(os::ToUtf8(event.path)) +
                   " access=" + Hex32(event.access) + " share=" + Hex32(event.share) +
                   " disposition=" + std::to_string(event.disposition) +
                   " flags=" + Hex32(event.flags) + " -> " +
                   (event.result ? "handle " + HandleText(event.handle) : "INVALID_HANDLE_VALUE");
            break;
        case Call::kDeviceIoControl:
            line =
                "DeviceIoControl " + DriveOf(event) + " handle " + HandleText(event.handle) + " ";
            if (event.ioctl == os::kIoctlScsiPassThrough) {
                const std::size_t headBytes = std::min<std::size_t>(event.inSize, event.cdbOffset);
                line += "IOCTL_SCSI_PASS_THROUGH in=" + std::to_string(event.inSize) +
                        " out=" + std::to_string(event.outSize) +
                        " head=" + os::HexBytes(std::span(event.head).first(headBytes)) +
                        " cdb=" + os::HexBytes(event.cdb) + " -> " + Outcome(event.result);
                if (event.result) {
                    line += " status=" + os::HexBytes({&event.scsiStatus, 1}) +
                            " data=" + std::to_string(event.dataBytes) +
                            " returned=" + std::to_string(event.bytesReturned);
                }
            } else if (event.ioctl == os::kIoctlStorageQueryProperty) {
                line += "IOCTL_STORAGE_QUERY_PROPERTY in=" + std::to_string(event.inSize) +
                        " out=" + std::to_string(event.outSize) + " query=" +
                        os::HexBytes(
                            std::span(event.query).first(std::min<std::size_t>(event.inSize, 12))) +
                        " -> " + Outcome(event.result);
                if (event.result) {
                    line += " returned=" + std::to_string(event.bytesReturned);
                }
            } else {
                line += "ioctl=" + Hex32(event.ioctl) + " in=" + std::to_string(event.inSize) +
                        " out=" + std::to_string(event.outSize) + " -> " + Outcome(event.result);
            }
            break;
        case Call::kCloseHandle:
            line = "CloseHandle " + DriveOf(event) + " handle " + HandleText(event.handle) +
                   " -> " + Outcome(event.result);
            break;
        case Call::kGetLogicalDriveStrings:
            line = "GetLogicalDriveStringsW length=" + std::to_string(event.inSize) + " -> " +
                   std::to_string(event.value);
            break;
        case Call::kGetDriveType:
            line = "GetDriveTypeW " + Quoted(os::ToUtf8(event.path)) + " -> " +
                   std::to_string(event.value) + " (" + std::string(DriveTypeName(event.value)) +
                   ")";
            break;
        case Call::kShellExecute:
            line = "ShellExecuteW operation=" + Wide(event.operation) +
                   " file=" + Wide(event.file) + " parameters=" + Wide(event.parameters) +
                   " directory=" + Wide(event.directory) +
                   " show=" + std::to_string(event.showCommand);
            break;
    }
    return line;
}

std::optional<TraceEcho> ParseTraceEcho(std::string_view text) {
    if (text.empty() || text == "none") {
        return TraceEcho::kNone;
    }
    if (text == "notes") {
        return TraceEcho::kNotes;
    }
    if (text == "all") {
        return TraceEcho::kAll;
    }
    return std::nullopt;
}

void TraceWriter::SetEcho(TraceEcho echo, std::function<void(std::string_view)> sink) {
    echo_ = sink ? echo : TraceEcho::kNone;
    sink_ = std::move(sink);
}

void TraceWriter::Append(std::string_view line) const {
    const std::lock_guard lock(mutex_);
    if (!path_.empty()) {
        std::string text(line);
        text += '\n';
        AppendToFile(path_, text);
    }
    if (echo_ == TraceEcho::kAll || (echo_ == TraceEcho::kNotes && line.starts_with('#'))) {
        sink_(line);
    }
}

void TraceEveryCall(World& world, TraceWriter& writer) {
    world.SetObserver([&world, &writer](const Event& event) {
        if (event.hostile) {
            writer.Append(HostileTraceLine(*event.hostile));
        }
        writer.Append(TraceLine(event));
        world.ClearTrace();
    });
}

}  // namespace sim
