// Reading a world file: the text that describes the simulated computer, one statement a line.
//
//     # the computer                       (a hash starts a comment, outside quotes)
//     drive C fixed
//     drive D cdrom inquiry=5              (a SCSI device answering INQUIRY with byte 3 = 5)
//     drive G removable vendor="KMZ     "  (a memory stick whose storage device says KMZ)
//     camera E state=2 overwrite=1 timestamp=0 resolution=1 firmware=V1.0,2024,B7
//     camera H state=3 delay=5             (a second camera, on a letter of its own, that takes
//                                           5 ms over each command)
//     storage letter=F answers=keep        (the first camera's volume after the release command)
//     storage camera=H letter=I            (the volume of the camera on H)
//     fault 26 fails times=1               (the next firmware command 26, on any camera, fails)
//     fault 2 ignored                      (the next set of command 2 is answered but not kept)
//     trace zelquin-trace.txt              (where the trace goes, relative to this file)
//     notify                               (the program's windows hear of letters that come
//                                           and go, as Windows would tell them)
//     hostile seed=7 hang=0 short=20       (the camera misbehaves at random from seed 7,
//                                           sim/hostile.h; KIND=WEIGHT changes a kind's weight)
//
// ParseWorldFile turns such a text into a WorldDescription, reporting every line it cannot take
// with its number. It only reads: laying a description out in a sim::World is
// sim/world_file_apply.h. docs/simulator.md describes the language in full.
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

// A camera's volume after the release command: `storage key=value...`.
struct StorageDescription {
    char camera = 0;  // the letter of the camera line it is for; 0: the first camera line's
    char letter = 0;  // 0: the camera's own letter
    std::uint32_t type = os::kDriveRemovable;
    std::optional<std::string> vendor = std::string(kCameraVendorId);
    StorageAnswers answers = StorageAnswers::kKeepsAnswering;

    bool operator==(const StorageDescription&) const = default;
};

// The longest answer delay a camera line may give: the pass-through time-out of 2 s.
inline constexpr std::uint32_t kMaxAnswerDelayMs = 2000;

// `camera X key=value...`.
struct CameraDescription {
    char letter = 0;
    std::uint8_t state = 2;
    std::uint8_t loopRecording = 0;
    std::uint8_t timestampDisplay = 0;
    std::uint8_t resolution = 0;
    std::array<FirmwarePiece, 3> firmware = Camera{}.firmware;
    std::string inquiryVendor = std::string(kInquiryVendorDefault);
    std::uint32_t answerDelayMs = 0;  // delay=MS: how long the camera takes over each command

    bool operator==(const CameraDescription&) const = default;
};

// `fault CODE|inquiry fails|short=N|check=N|ignored [times=N|always]`.
struct FaultDescription {
    bool inquiry = false;
    std::uint8_t code = 0;  // the vendor command code, when not the INQUIRY
    Fault fault;

    bool operator==(const FaultDescription&) const = default;
};

struct WorldDescription {
    std::vector<DriveDescription> drives;    // in the order of the file
    std::vector<CameraDescription> cameras;  // in the order of the file, each on its own letter
    // In the order of the file: at most one for each camera, and one without a camera letter,
    // which is the first camera line's (kept for the camera to come when there is none).
    std::vector<StorageDescription> storage;
    // In the order of the file. Faults belong to the computer, not to one camera: a fault hits
    // the next matching request whichever camera it goes to.
    std::vector<FaultDescription> faults;
    std::optional<std::string> trace;
    // The simulated program watches the file also while idle and sends its windows the volume
    // arrival and removal events for the drive letters that come and go.
    bool notify = false;
    // `hostile seed=N [KIND=WEIGHT]... [hang-ms=MS] [away-ms=MS] [storm-plugs=N]
    // [commands=all|vendor]`: the cameras misbehave at random (sim/hostile.h).
    std::optional<HostileSettings> hostile;

    const DriveDescription* DriveAt(char letter) const;
    const CameraDescription* CameraAt(char letter) const;
    // The volume of the camera line on `letter`: the storage line naming that letter; for the
    // first camera line, the storage line naming none; otherwise the defaults.
    StorageDescription StorageOf(char letter) const;
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

}  // namespace sim
