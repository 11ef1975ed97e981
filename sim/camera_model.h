// The simulated camera: its state, settings, clock and firmware (Camera), and how it answers
// (CameraModel): the INQUIRY, the vendor blocks, and the faults and hostile actions injected into
// those answers.
//
// The camera answers the INQUIRY with 36 bytes of standard inquiry data, byte 3 = 1, and each
// vendor block FA 55 66 FE 60|06 00 00 code args with 8 bytes: the get forms of 1, 2, 11, 14
// put the setting in byte 0, those of 26-28 the firmware piece in bytes 0-7, that of 15 zeros
// and then enters storage mode; the set forms of 1, 2, 11 store byte 8, those of 4 and 3 store
// bytes 8-10 as the date and the time, and answer zeros. It refuses with a check condition
// (status 2, illegal-request sense data, nothing changed) any block that is shorter than 16
// bytes, differs in bytes 1-6, carries an unknown code or form, or has a non-zero argument byte
// the command does not use.
//
// The command codes are written here as literals, on purpose: the product's own tables are
// checked against this camera, not copied into it.
//
// Where a camera answers (its drive letter, its storage volume) is the world's (sim/world.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/os.h"
#include "sim/hostile.h"

namespace sim {

// The SCSI codes the simulated devices answer with: the simulator's own, on purpose, as an
// independent check of the product's protocol.
namespace scsi {
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x05;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;
}  // namespace scsi

// ---- storage device descriptors (IOCTL_STORAGE_QUERY_PROPERTY) ----

// What the storage property query on a drive answers. `bytes` are written to the caller's
// descriptor area, cut to its output size; the call reports `returned` bytes (bytes.size() when
// unset), never more than the output size.
struct StorageDescriptor {
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> returned;
    bool fails = false;  // the query call itself fails; nothing is written
};

// Size of the fixed part of STORAGE_DEVICE_DESCRIPTOR (RawDeviceProperties[1] and padding
// included); the default place of the vendor identification.
inline constexpr std::uint32_t kDescriptorHeadSize = 40;

// The vendor identification of the camera's storage device: "KMZ" padded to 8 characters.
inline constexpr std::string_view kCameraVendorId = "KMZ     ";
// What the camera's INQUIRY answer gives as its vendor: in storage mode always, in command mode
// unless the world says otherwise.
inline constexpr std::string_view kInquiryVendorDefault = "KMZ";

// A STORAGE_DEVICE_DESCRIPTOR (Version 40, Size = total, RemovableMedia 1, BusType USB) whose
// VendorIdOffset is `vendorOffset` and which holds the bytes of `vendor` there, followed by a zero
// byte when `terminate`; the product identification and revision follow the vendor text. With
// `vendorOffset` 0 the descriptor reports no vendor identification and `vendor` is not placed.
// An offset inside the fixed part is honoured as given (the text then overwrites header bytes).
StorageDescriptor DescriptorWithVendor(std::string_view vendor,
                                       std::uint32_t vendorOffset = kDescriptorHeadSize,
                                       bool terminate = true);

// A descriptor whose VendorIdOffset is 0.
StorageDescriptor DescriptorWithoutVendor();

// ---- the camera ----

enum class CameraMode : std::uint8_t { kCommand, kStorage };

// How the camera answers once it is in storage mode.
enum class StorageAnswers : std::uint8_t {
    kKeepsAnswering,  // INQUIRY and vendor commands as in command mode (reconnection succeeds)
    kPlainDisk,       // INQUIRY byte 3 = 0 and every vendor command's call fails
};

using FirmwarePiece = std::array<std::uint8_t, 8>;

// The bytes of `text`, at most 8, zero-padded to 8.
FirmwarePiece MakeFirmwarePiece(std::string_view text);

struct Camera {
    char letter = 0;  // the letter the camera answers on; 0 when no camera has been placed
    // The letter the camera was plugged in on. The release may move `letter` to the storage
    // volume's; `home` stays, so that a world file's camera line still finds its camera.
    char home = 0;

    // State answered by the get forms and changed by the set forms (byte 8, stored as sent).
    std::uint8_t state = 2;             // command 14
    std::uint8_t loopRecording = 0;     // command 2
    std::uint8_t timestampDisplay = 0;  // command 11
    std::uint8_t resolution = 0;        // command 1
    std::array<FirmwarePiece, 3> firmware = {MakeFirmwarePiece("V1.1"), MakeFirmwarePiece(".07"),
                                             MakeFirmwarePiece("20240101")};  // commands 26-28
    // The vendor identification of its INQUIRY answer in command mode, up to 8 characters. The
    // camera promises none; in storage mode it answers "KMZ".
    std::string inquiryVendor = std::string(kInquiryVendorDefault);

    // The clock as last set: bytes 8-10 of the date command (4) and of the time command (3).
    std::array<std::uint8_t, 3> date = {};
    bool dateReceived = false;
    std::array<std::uint8_t, 3> time = {};
    bool timeReceived = false;

    CameraMode mode = CameraMode::kCommand;
    int releases = 0;  // release commands (15) carried out

    // Storage mode, entered after command 15: the letter of the volume (0: the camera's own;
    // another letter moves the camera there and removes its command-mode letter), its drive
    // type and descriptor, and how the camera answers from then on.
    char storageLetter = 0;
    std::uint32_t storageDriveType = os::kDriveRemovable;
    StorageDescriptor storageDescriptor = DescriptorWithVendor(kCameraVendorId);
    StorageAnswers storageAnswers = StorageAnswers::kKeepsAnswering;

    // How long the camera takes over each command: a pass-through request to it (or AnswerCdb on
    // its letter) returns this many milliseconds of real time after it was carried out. Calls to
    // other devices and other cameras go on meanwhile.
    std::uint32_t answerDelayMs = 0;
};

// ---- faults ----

enum class FaultKind : std::uint8_t {
    kCallFails,       // the platform call fails; the command never reaches the camera
    kShortAnswer,     // the camera carries the command out but sends only `dataBytes` bytes
    kCheckCondition,  // the camera refuses the command (status 2, sense data, no effect) after
                      // sending the first `dataBytes` bytes of its answer; the call succeeds
    kIgnored,         // the camera answers as usual, GOOD status and all, but leaves out the
                      // command's effect (a set form that does not stick)
};

inline constexpr int kAlways = -1;

struct Fault {
    FaultKind kind = FaultKind::kCallFails;
    std::uint32_t dataBytes = 0;
    int times = 1;  // requests it hits before it is used up; kAlways: every one

    static Fault CallFails(int times = 1) { return {FaultKind::kCallFails, 0, times}; }
    static Fault ShortAnswer(std::uint32_t bytes, int times = 1) {
        return {FaultKind::kShortAnswer, bytes, times};
    }
    static Fault CheckCondition(std::uint32_t bytes, int times = 1) {
        return {FaultKind::kCheckCondition, bytes, times};
    }
    static Fault Ignored(int times = 1) { return {FaultKind::kIgnored, 8, times}; }

    bool operator==(const Fault&) const = default;
};

// ---- the answers ----

// A device's answer to one SCSI command.
struct ScsiAnswer {
    bool callFails = false;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> sense;
    // From a hostile camera: the action the request drew, its bytes already carried out in
    // the fields above. An action ForServer() is the caller's to carry out: the fields then
    // hold the answer the camera gives once the hang is over (hang), or the answer that never
    // reaches the host (unplug, storm); the command has taken effect either way.
    std::optional<HostileAction> hostile;
};

// Fixed-format sense data (0x70) with sense key `key` and additional sense code `asc`.
std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc);

// 36 bytes of standard inquiry data of a removable direct-access device: byte 3 `byte3`, the
// vendor (up to 8 characters) and product (up to 16) blank-padded, revision "1.00".
std::vector<std::uint8_t> StandardInquiry(std::uint8_t byte3, std::string_view vendor,
                                          std::string_view product);

// How every camera answers, and the faults and the hostile generator that are met on the way.
// Faults belong to the computer, not to one camera: a fault hits the next matching request,
// whichever camera it goes to.
class CameraModel {
  public:
    // No faults, no hostile generator.
    void Reset();

    // Faults for one vendor command code (CDB byte 7 of a block starting 0xFA) or for the
    // INQUIRY, used in the order injected; a fault with times N hits the next N matching requests.
    void InjectVendorFault(std::uint8_t code, Fault fault);
    void InjectInquiryFault(Fault fault);
    void ClearFaults() { faults_.clear(); }

    // From now on every request to a camera (the vendor blocks only, with `vendorOnly`) draws an
    // action from a generator seeded with `settings.seed`; nullopt ends it. Setting it again
    // starts the generator afresh. Injected faults come first: a request that meets one draws no
    // action.
    void SetHostile(const std::optional<HostileSettings>& settings);
    const HostileCamera* hostile() const { return hostile_ ? &*hostile_ : nullptr; }

    // What `camera` answers to one CDB (`cdb` points at 16 bytes, the first `cdbLength` of them
    // the command, 1 to 16): the next matching fault taken, or else a hostile action drawn, and
    // the command carried out unless the fault or the action says otherwise. A release (the get
    // form of 15) carried out puts the camera in storage mode and counts it in `releases`; laying
    // out its volume is the caller's.
    ScsiAnswer Answer(Camera& camera, const std::uint8_t* cdb, std::uint8_t cdbLength);

  private:
    static constexpr int kInquiryKey = 0x100;

    // One command as the camera understands it; `carryOut` false: the answer without any effect.
    static ScsiAnswer Command(Camera& camera, const std::uint8_t* cdb, std::uint8_t cdbLength,
                              bool carryOut);
    bool TakeFault(int key, Fault& taken);

    std::map<int, std::deque<Fault>> faults_;  // vendor code, or kInquiryKey
    std::optional<HostileCamera> hostile_;
};

}  // namespace sim
