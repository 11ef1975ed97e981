// The world file of the simulated program (Zelquin-sim.exe) and the lines of its trace file.
//
// A world file describes the simulated computer in lines of text, one statement a line:
//
//     # the computer                       (a hash starts a comment, outside quotes)
//     drive C fixed
//     drive D cdrom inquiry=5              (a SCSI device answering INQUIRY with byte 3 = 5)
//     drive G removable vendor="KMZ     "  (a memory stick whose storage device says KMZ)
//     camera E state=2 overwrite=1 timestamp=0 resolution=1 firmware=V1.0,2024,B7
//     storage letter=F answers=keep        (the camera's volume after the release command)
//     fault 26 fails times=1               (the next firmware command 26 fails)
//     trace zelquin-trace.txt              (where the trace goes, relative to this file)
//     notify                               (the program's windows hear of letters that come
//                                           and go, as Windows would tell them)
//
// ParseWorldFile reads such a text into a WorldDescription, reporting every line it cannot take
// with its number; ApplyWorldFile lays a description out in a sim::World, either on a fresh world
// or as the change from the description applied before (so that a person can plug and unplug the
// camera by editing the file while the program runs). docs/simulator.md describes the format in
// full.
//
// TraceLine renders one recorded device call as a line of the trace file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/world.h"

namespace sim {

// A drive that is not the camera: `drive X TYPE key=value...`.
struct DriveDescription {
    char letter = 0;
    std::uint32_t type = os::kDriveFixed;
    ScsiDevice scsi = ScsiDevice::kNone;
    std::uint8_t inquiryByte3 = 2;
    bool opens = true;
    std::optional<std::string> vendor;  // the storage device's vendor identification
    bool queryFails = false;

    bool operator==(const DriveDescription&) const = default;
};

// The camera's volume after the release command: `storage key=value...`.
struct StorageDescription {
    char letter = 0;  // 0: the camera's own letter
    std::uint32_t type = os::kDriveRemovable;
    std::optional<std::string> vendor = std::string(kCameraVendorId);
    StorageAnswers answers = StorageAnswers::kKeepsAnswering;

    bool operator==(const StorageDescription&) const = default;
};

// `camera X key=value...`.
struct CameraDescription {
    char letter = 0;
    std::uint8_t state = 2;
    std::uint8_t loopRecording = 0;
    std::uint8_t timestampDisplay = 0;
    std::uint8_t resolution = 0;
    std::array<FirmwarePiece, 3> firmware = Camera{}.firmware;

    bool operator==(const CameraDescription&) const = default;
};

// `fault CODE|inquiry fails|short=N|check=N [times=N|always]`.
struct FaultDescription {
    bool inquiry = false;
    std::uint8_t code = 0;  // the vendor command code, when not the INQUIRY
    Fault fault;

    bool operator==(const FaultDescription& other) const {
        return inquiry == other.inquiry && code == other.code && fault.kind == other.fault.kind &&
               fault.dataBytes == other.fault.dataBytes && fault.times == other.fault.times;
    }
};

struct WorldDescription {
    std::vector<DriveDescription> drives;  // in the order of the file
    std::optional<CameraDescription> camera;
    StorageDescription storage;
    std::vector<FaultDescription> faults;  // in the order of the file
    std::optional<std::string> trace;
    // The simulated program watches the file also while idle and sends its windows the volume
    // arrival and removal events for the drive letters that come and go.
    bool notify = false;

    const DriveDescription* DriveAt(char letter) const;
    bool operator==(const WorldDescription&) const = default;
};

struct WorldFileError {
    int line = 0;  // 1-based; 0 for the file as a whole
    std::string message;
};

struct ParsedWorld {
    WorldDescription world;
    std::vector<WorldFileError> errors;  // empty when every line was taken

    bool ok() const { return errors.empty(); }
};

// Reads the text of a world file. Lines end with LF or CR LF. Every line that cannot be taken
// is reported; the description then holds the lines that could.
ParsedWorld ParseWorldFile(std::string_view text);

// "line 3: unknown key "colour" in a camera line".
std::string Describe(const WorldFileError& error);

// Lays out `next` in `world`. With `previous` null the world is taken as empty (as after
// Reset()) and every statement is applied. Otherwise only what differs between the two
// descriptions changes: a drive whose line changed or went is unplugged (handles on it die) and
// plugged in as now described; a camera line that appears, goes or names another letter plugs,
// unplugs or replugs the camera (a fresh camera in command mode, with the file's settings); a
// camera that stays takes only the values whose text changed, so settings the program has set
// survive the reload; a changed list of faults replaces the faults not used up yet. The storage
// volume's description is always taken as it is.
void ApplyWorldFile(World& world, const WorldDescription& next, const WorldDescription* previous);

// One line of the trace file (no line end) for a recorded call, for example
//   DeviceIoControl E: handle 00001000 IOCTL_SCSI_PASS_THROUGH in=44 out=88
//       head=2C 00 ... cdb=FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00 -> ok status=00
//       data=8 returned=88
// (all on one line). Wide texts are written as UTF-8.
std::string TraceLine(const Event& event);

// Wide text as UTF-8, and back (invalid sequences become U+FFFD).
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace sim
