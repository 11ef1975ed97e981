#include "guest/mass_storage.h"

#include <algorithm>
#include <cerrno>

#include "guest/usbip_wire.h"
#include "os/bytes.h"

namespace usbcam {

namespace {

// SCSI operation codes the plumbing answers itself.
constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint8_t kOpModeSense6 = 0x1A;
constexpr std::uint8_t kOpStartStopUnit = 0x1B;
constexpr std::uint8_t kOpPreventAllow = 0x1E;
constexpr std::uint8_t kOpReadCapacity10 = 0x25;
constexpr std::uint8_t kOpRead10 = 0x28;
constexpr std::uint8_t kOpWrite10 = 0x2A;
constexpr std::uint8_t kOpSynchronizeCache = 0x35;
constexpr std::uint8_t kOpModeSense10 = 0x5A;

constexpr std::uint8_t kSenseNotReady = 0x02;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kSenseDataProtect = 0x07;
constexpr std::uint8_t kAscMediumNotPresent = 0x3A;
constexpr std::uint8_t kAscLbaOutOfRange = 0x21;
constexpr std::uint8_t kAscWriteProtected = 0x27;

// Command and Status Wrapper fields, little-endian.
constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr std::size_t kCbwTag = 4;
constexpr std::size_t kCbwDataLength = 8;
constexpr std::size_t kCbwFlags = 12;
constexpr std::size_t kCbwLun = 13;
constexpr std::size_t kCbwCbLength = 14;
constexpr std::size_t kCbwCb = 15;
constexpr std::size_t kCswTag = 4;
constexpr std::size_t kCswResidue = 8;
constexpr std::size_t kCswStatus = 12;

}  // namespace

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

// ---- SCSI ----

bool ScsiPlumbing::TakesDataOut(std::uint8_t opcode) {
    return opcode == kOpWrite10;
}

ScsiResult ScsiPlumbing::Refuse(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    ScsiResult result;
    result.status = 2;
    result.sense = FixedSense(key, asc, ascq);
    lastSense_ = result.sense;
    return result;
}

ScsiResult ScsiPlumbing::Execute(const std::uint8_t* cdb, std::uint8_t cdbLength) {
    const bool medium = mediumPresent_();
    ScsiResult result;
    switch (cdb[0]) {
        case kOpTestUnitReady:
            if (!medium) {
                return Refuse(kSenseNotReady, kAscMediumNotPresent);
            }
            return result;
        case kOpRequestSense: {
            result.data = lastSense_.empty() ? FixedSense(0, 0) : lastSense_;
            lastSense_.clear();
            result.data.resize(std::min<std::size_t>(result.data.size(), cdb[4]));
            return result;
        }
        case kOpReadCapacity10:
            if (!medium) {
                return Refuse(kSenseNotReady, kAscMediumNotPresent);
            }
            result.data.assign(8, 0);
            usbip::PutBe32(result.data.data(), 0, kMediumBlocks - 1);
            usbip::PutBe32(result.data.data(), 4, kBlockSize);
            return result;
        case kOpRead10: {
            if (!medium) {
                return Refuse(kSenseNotReady, kAscMediumNotPresent);
            }
            const std::uint32_t lba = usbip::GetBe32(cdb, 2);
            const std::uint32_t blocks = usbip::GetBe16(cdb, 7);
            if (std::uint64_t{lba} + blocks > kMediumBlocks) {
                return Refuse(kSenseIllegalRequest, kAscLbaOutOfRange);
            }
            result.data.assign(std::size_t{blocks} * kBlockSize, 0);
            return result;
        }
        case kOpWrite10:
            return Refuse(kSenseDataProtect, kAscWriteProtected);
        case kOpModeSense6: {
            // Mode data length 3, medium type 0, write protect, no block descriptors.
            result.data = {3, 0, 0x80, 0};
            result.data.resize(std::min<std::size_t>(result.data.size(), cdb[4]));
            return result;
        }
        case kOpModeSense10: {
            result.data = {0, 6, 0, 0x80, 0, 0, 0, 0};
            const std::size_t allocation = usbip::GetBe16(cdb, 7);
            result.data.resize(std::min(result.data.size(), allocation));
            return result;
        }
        case kOpPreventAllow:
        case kOpStartStopUnit:
        case kOpSynchronizeCache:
            return result;
        default:
            break;
    }
    result = model_(cdb, cdbLength);
    if (!result.phaseError && result.status == 2) {
        lastSense_ = result.sense;
    }
    return result;
}

// ---- bulk-only transport ----

void BulkOnlyTransport::Reset() {
    phase_ = Phase::kCommand;
    pendingIn_.clear();
    sentIn_ = 0;
    receivedOut_ = 0;
}

std::vector<std::uint8_t> BulkOnlyTransport::Csw() const {
    std::vector<std::uint8_t> csw(kCswSize, 0);
    bytes::PutLe32(csw.data(), 0, kCswSignature);
    bytes::PutLe32(csw.data(), kCswTag, tag_);
    bytes::PutLe32(csw.data(), kCswResidue, residue_);
    csw[kCswStatus] = cswStatus_;
    return csw;
}

// Decides the CSW once the data phase is known: `sent` bytes moved, `dataMismatch` when the
// device's data does not fit what the host announced.
void BulkOnlyTransport::Finish(const ScsiResult& result, std::size_t sent, bool dataMismatch) {
    if (result.phaseError || dataMismatch) {
        cswStatus_ = kCswPhaseError;
    } else {
        cswStatus_ = result.status == 0 ? kCswPassed : kCswFailed;
    }
    residue_ = hostLength_ - static_cast<std::uint32_t>(std::min<std::size_t>(sent, hostLength_));
    last_.cdb.assign(cdb_, cdb_ + cdbLength_);
    last_.dataIn = hostIn_;
    last_.hostLength = hostLength_;
    last_.cswStatus = cswStatus_;
    last_.residue = residue_;
    last_.scsiStatus = result.status;
    last_.dataBytes = sent;
    last_.sense = result.sense;
    if (onCommand_) {
        onCommand_(last_);
    }
}

UrbAnswer BulkOnlyTransport::BulkOut(const std::uint8_t* packet, std::size_t length) {
    UrbAnswer answer;
    if (phase_ == Phase::kDataOut) {
        receivedOut_ += length;
        if (receivedOut_ >= hostLength_) {
            // Every byte the host announced has arrived; only now is the command decided.
            const bool takesOut = ScsiPlumbing::TakesDataOut(cdb_[0]);
            ScsiResult result = executor_(cdb_, cdbLength_);
            const bool mismatch = !takesOut || !result.data.empty();
            Finish(result, takesOut ? receivedOut_ : 0, mismatch);
            phase_ = Phase::kStatus;
        }
        return answer;
    }
    if (phase_ != Phase::kCommand || length != kCbwSize ||
        bytes::GetLe32(packet, 0) != kCbwSignature || packet[kCbwLun] != 0 ||
        packet[kCbwCbLength] == 0 || packet[kCbwCbLength] > 16) {
        // Not a valid CBW where one is expected: stall until the host resets the device.
        answer.status = -EPIPE;
        return answer;
    }
    tag_ = bytes::GetLe32(packet, kCbwTag);
    hostLength_ = bytes::GetLe32(packet, kCbwDataLength);
    hostIn_ = (packet[kCbwFlags] & 0x80) != 0;
    cdbLength_ = packet[kCbwCbLength];
    std::fill(std::begin(cdb_), std::end(cdb_), std::uint8_t{0});
    std::copy_n(packet + kCbwCb, cdbLength_, cdb_);
    pendingIn_.clear();
    sentIn_ = 0;
    receivedOut_ = 0;

    if (hostLength_ > 0 && !hostIn_) {
        phase_ = Phase::kDataOut;
        return answer;
    }
    const ScsiResult result = executor_(cdb_, cdbLength_);
    if (hostLength_ == 0) {
        // No data phase: data the device has to send is a mismatch.
        Finish(result, 0, !result.data.empty() || ScsiPlumbing::TakesDataOut(cdb_[0]));
        phase_ = Phase::kStatus;
        return answer;
    }
    // Data-in: the device may send less than announced, never more. The host reads the data
    // phase in any case; after a mismatch it gets no bytes there.
    const bool mismatch = result.phaseError || result.data.size() > hostLength_ ||
                          ScsiPlumbing::TakesDataOut(cdb_[0]);
    if (!mismatch) {
        pendingIn_ = result.data;
    }
    Finish(result, pendingIn_.size(), mismatch);
    phase_ = Phase::kDataIn;
    return answer;
}

UrbAnswer BulkOnlyTransport::BulkIn(std::size_t length, bool shortNotOk) {
    UrbAnswer answer;
    if (phase_ == Phase::kDataIn) {
        const std::size_t now = std::min(pendingIn_.size() - sentIn_, length);
        answer.data.assign(pendingIn_.begin() + static_cast<std::ptrdiff_t>(sentIn_),
                           pendingIn_.begin() + static_cast<std::ptrdiff_t>(sentIn_ + now));
        sentIn_ += now;
        if (sentIn_ == pendingIn_.size()) {
            // A short packet (or none at all) ends the data phase.
            phase_ = Phase::kStatus;
            if (now < length && shortNotOk) {
                answer.status = -EREMOTEIO;
            }
        }
        return answer;
    }
    if (phase_ == Phase::kStatus) {
        answer.data = Csw();
        answer.data.resize(std::min(answer.data.size(), length));
        phase_ = Phase::kCommand;
        return answer;
    }
    answer.status = -EPIPE;
    return answer;
}

}  // namespace usbcam
