// A USB mass-storage device (bulk-only transport, SCSI transparent command set) in front of a
// device of the simulated computer (sim/world.h).
//
// The camera model answers INQUIRY and the camera's vendor commands; a kernel's storage driver
// also sends the commands every disk answers. ScsiPlumbing adds them in front of the model:
//
//   TEST UNIT READY, READ CAPACITY(10), READ(10)  a medium of kMediumBlocks blocks of 512 zero
//                                                 bytes, present on a plain disk always and on
//                                                 the camera only in storage mode (after command
//                                                 15); without it NOT READY, MEDIUM NOT PRESENT
//   MODE SENSE(6), MODE SENSE(10)                 a header only, write-protected
//   REQUEST SENSE                                 the sense of the last refused command, once
//   PREVENT ALLOW MEDIUM REMOVAL, START STOP UNIT,
//   SYNCHRONIZE CACHE                             accepted
//   WRITE(10)                                     DATA PROTECT, WRITE PROTECTED
//
// and everything else (INQUIRY, the vendor block FA ..., unknown opcodes) goes to the model, with
// its faults: a call failure becomes a phase error on the bus, which the host's storage driver
// answers with a bulk-only reset (for the program, a transport error).
//
// BulkOnlyTransport carries commands in Command Block Wrappers on the bulk-out endpoint and
// answers data and Command Status Wrappers on the bulk-in endpoint. It checks the thirteen cases
// of host and device expectations strictly: a command whose data does not fit what the host
// announced (wrong direction, too short a transfer, data where none was expected) ends with a
// phase error instead of being cut to size, as a strict device does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace usbcam {

inline constexpr std::uint32_t kBlockSize = 512;
inline constexpr std::uint32_t kMediumBlocks = 2048;

// A SCSI command's outcome as the device reports it.
struct ScsiResult {
    bool phaseError = false;  // the device cannot carry the command out at all
    std::uint8_t status = 0;  // 0 good, 2 check condition
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> sense;  // with status 2: fixed-format sense data
};

// Fixed-format sense data, 18 bytes.
std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);

// The commands a storage driver sends, in front of the device model. `model` answers the rest;
// `mediumPresent` says whether a medium is loaded now.
class ScsiPlumbing {
  public:
    using Model = std::function<ScsiResult(const std::uint8_t* cdb, std::uint8_t cdbLength)>;

    ScsiPlumbing(Model model, std::function<bool()> mediumPresent)
        : model_(std::move(model)), mediumPresent_(std::move(mediumPresent)) {}

    // `cdb` points at 16 bytes, the first `cdbLength` of them the command.
    ScsiResult Execute(const std::uint8_t* cdb, std::uint8_t cdbLength);

    // True for the commands whose data travels from the host (only WRITE(10) here).
    static bool TakesDataOut(std::uint8_t opcode);

  private:
    ScsiResult Refuse(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);

    Model model_;
    std::function<bool()> mediumPresent_;
    std::vector<std::uint8_t> lastSense_;
};

// Result of one bulk URB.
struct UrbAnswer {
    std::int32_t status = 0;         // 0, or a negative errno: -EPIPE for a stall, -EREMOTEIO for a
                                     // short read the host did not allow
    std::vector<std::uint8_t> data;  // bulk-in: the bytes sent
};

inline constexpr std::size_t kCbwSize = 31;
inline constexpr std::size_t kCswSize = 13;
inline constexpr std::uint8_t kCswPassed = 0;
inline constexpr std::uint8_t kCswFailed = 1;
inline constexpr std::uint8_t kCswPhaseError = 2;

class BulkOnlyTransport {
  public:
    using Executor = std::function<ScsiResult(const std::uint8_t* cdb, std::uint8_t cdbLength)>;

    explicit BulkOnlyTransport(Executor executor) : executor_(std::move(executor)) {}

    // One URB on the bulk-out endpoint: a CBW, or data of a data-out command.
    UrbAnswer BulkOut(const std::uint8_t* packet, std::size_t length);
    // One URB on the bulk-in endpoint asking for up to `length` bytes; `shortNotOk` is the
    // host's URB_SHORT_NOT_OK.
    UrbAnswer BulkIn(std::size_t length, bool shortNotOk);
    // Bulk-only mass storage reset (class request 0xFF): ready for the next CBW.
    void Reset();

    // No command in progress: the next URB is expected to be a CBW.
    bool Idle() const { return phase_ == Phase::kCommand; }
    // The last command block taken and what it ended with, for the device's log.
    struct Record {
        std::vector<std::uint8_t> cdb;
        bool dataIn = false;
        std::uint32_t hostLength = 0;
        std::uint8_t cswStatus = 0;
        std::uint32_t residue = 0;
        std::uint8_t scsiStatus = 0;
        std::size_t dataBytes = 0;
        std::vector<std::uint8_t> sense;
    };
    const Record& last() const { return last_; }
    // Called after each command's CSW has been decided.
    void SetOnCommand(std::function<void(const Record&)> onCommand) {
        onCommand_ = std::move(onCommand);
    }

  private:
    enum class Phase { kCommand, kDataIn, kDataOut, kStatus };

    void Finish(const ScsiResult& result, std::size_t sent, bool dataMismatch);
    std::vector<std::uint8_t> Csw() const;

    Executor executor_;
    Phase phase_ = Phase::kCommand;
    std::uint32_t tag_ = 0;
    std::uint32_t hostLength_ = 0;
    bool hostIn_ = false;
    std::uint8_t cdb_[16] = {};
    std::uint8_t cdbLength_ = 0;
    std::vector<std::uint8_t> pendingIn_;  // data still to send
    std::size_t sentIn_ = 0;
    std::size_t receivedOut_ = 0;
    std::uint8_t cswStatus_ = 0;
    std::uint32_t residue_ = 0;
    Record last_;
    std::function<void(const Record&)> onCommand_;
};

}  // namespace usbcam
