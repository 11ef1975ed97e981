#include "sim/camera_model.h"

#include <algorithm>
#include <utility>

#include "sim/little_endian.h"

namespace sim {

namespace {

using namespace scsi;

// SCSI.
constexpr std::uint8_t kOpVendor = 0xFA;
constexpr std::uint8_t kSenseAbortedCommand = 0x0B;
constexpr std::size_t kInquiryDataSize = 36;
constexpr std::size_t kVendorAnswerSize = 8;

}  // namespace

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    return sense;
}

std::vector<std::uint8_t> StandardInquiry(std::uint8_t byte3, std::string_view vendor,
                                          std::string_view product) {
    std::vector<std::uint8_t> data(kInquiryDataSize, 0x20);
    data[0] = 0x00;  // direct-access block device
    data[1] = 0x80;  // removable medium
    data[2] = 0x02;
    data[3] = byte3;
    data[4] = static_cast<std::uint8_t>(kInquiryDataSize - 5);
    data[5] = data[6] = data[7] = 0;
    std::copy_n(vendor.begin(), std::min<std::size_t>(vendor.size(), 8), data.begin() + 8);
    std::copy_n(product.begin(), std::min<std::size_t>(product.size(), 16), data.begin() + 16);
    const std::string_view revision = "1.00";
    std::copy(revision.begin(), revision.end(), data.begin() + 32);
    return data;
}

StorageDescriptor DescriptorWithVendor(std::string_view vendor, std::uint32_t vendorOffset,
                                       bool terminate) {
    constexpr std::string_view kProduct = "DV CAMERA";
    constexpr std::string_view kRevision = "1.00";
    const std::size_t vendorEnd =
        vendorOffset == 0 ? 0 : vendorOffset + vendor.size() + (terminate ? 1 : 0);
    const std::size_t productOffset = std::max<std::size_t>(kDescriptorHeadSize, vendorEnd);
    const std::size_t revisionOffset = productOffset + kProduct.size() + 1;
    const std::size_t total = revisionOffset + kRevision.size() + 1;

    std::vector<std::uint8_t> bytes(total, 0);
    PutLe32(bytes.data(), 0, kDescriptorHeadSize);                // Version
    PutLe32(bytes.data(), 4, static_cast<std::uint32_t>(total));  // Size
    bytes[10] = 1;                                                // RemovableMedia
    PutLe32(bytes.data(), 12, vendorOffset);                      // VendorIdOffset
    PutLe32(bytes.data(), 16, static_cast<std::uint32_t>(productOffset));
    PutLe32(bytes.data(), 20, static_cast<std::uint32_t>(revisionOffset));
    PutLe32(bytes.data(), 28, 7);  // BusType: USB
    std::copy(kProduct.begin(), kProduct.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(productOffset));
    std::copy(kRevision.begin(), kRevision.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(revisionOffset));
    if (vendorOffset != 0) {
        std::copy(vendor.begin(), vendor.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(vendorOffset));
    }
    return StorageDescriptor{std::move(bytes), std::nullopt, false};
}

StorageDescriptor DescriptorWithoutVendor() {
    return DescriptorWithVendor({}, 0);
}

FirmwarePiece MakeFirmwarePiece(std::string_view text) {
    FirmwarePiece piece = {};
    for (std::size_t i = 0; i < piece.size() && i < text.size(); ++i) {
        piece[i] = static_cast<std::uint8_t>(text[i]);
    }
    return piece;
}

// ---- faults ----

void CameraModel::Reset() {
    faults_.clear();
    hostile_.reset();
}

void CameraModel::InjectVendorFault(std::uint8_t code, Fault fault) {
    faults_[code].push_back(fault);
}

void CameraModel::InjectInquiryFault(Fault fault) {
    faults_[kInquiryKey].push_back(fault);
}

void CameraModel::SetHostile(const std::optional<HostileSettings>& settings) {
    if (settings) {
        hostile_.emplace(*settings);
    } else {
        hostile_.reset();
    }
}

bool CameraModel::TakeFault(int key, Fault& taken) {
    const auto found = faults_.find(key);
    if (found == faults_.end() || found->second.empty()) {
        return false;
    }
    Fault& next = found->second.front();
    taken = next;
    if (next.times != kAlways) {
        if (--next.times <= 0) {
            found->second.pop_front();
        }
    }
    return true;
}

// ---- the answers ----

ScsiAnswer CameraModel::Answer(Camera& camera, const std::uint8_t* cdb, std::uint8_t cdbLength) {
    int key = -1;
    if (cdb[0] == kOpInquiry) {
        key = kInquiryKey;
    } else if (cdb[0] == kOpVendor) {
        key = cdb[7];
    }
    Fault fault;
    const bool faulted = key >= 0 && TakeFault(key, fault);
    if (faulted && fault.kind == FaultKind::kCallFails) {
        ScsiAnswer failed;
        failed.callFails = true;
        return failed;
    }
    if (!faulted && hostile_ && hostile_->Draws(cdb)) {
        HostileAction action = hostile_->Decide(camera.letter, cdb, cdbLength);
        ScsiAnswer answer = Command(camera, cdb, cdbLength, action.TakesEffect());
        if (!answer.callFails) {
            CarryOut(action, answer.status, answer.data, answer.sense);
        }
        answer.hostile = std::move(action);
        return answer;
    }
    const bool refused = faulted && fault.kind == FaultKind::kCheckCondition;
    const bool ignored = faulted && fault.kind == FaultKind::kIgnored;
    ScsiAnswer answer = Command(camera, cdb, cdbLength, !refused && !ignored);
    if (faulted) {
        if (answer.data.size() > fault.dataBytes) {
            answer.data.resize(fault.dataBytes);
        }
        if (refused) {
            answer.status = kStatusCheckCondition;
            answer.sense = FixedSense(kSenseAbortedCommand, 0);
        }
    }
    return answer;
}

// One command as the camera understands it. `carryOut` false: answer without any effect.
ScsiAnswer CameraModel::Command(Camera& camera, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                bool carryOut) {
    ScsiAnswer answer;
    const auto refuse = [&answer](std::uint8_t asc) {
        answer.status = kStatusCheckCondition;
        answer.sense = FixedSense(kSenseIllegalRequest, asc);
        answer.data.clear();
        return answer;
    };
    const bool plainDisk =
        camera.mode == CameraMode::kStorage && camera.storageAnswers == StorageAnswers::kPlainDisk;

    if (cdb[0] == kOpInquiry) {
        if (cdbLength < 6 || (cdb[1] & 0x01) != 0 || cdb[2] != 0) {
            return refuse(kAscInvalidFieldInCdb);
        }
        // Byte 3 = 1 is the camera's mark; as a plain disk it reports 0.
        const std::string_view vendor = camera.mode == CameraMode::kCommand
                                            ? std::string_view(camera.inquiryVendor)
                                            : kInquiryVendorDefault;
        answer.data = StandardInquiry(plainDisk ? 0 : 1, vendor, "DV CAMERA");
        const std::size_t allocation = static_cast<std::size_t>((cdb[3] << 8) | cdb[4]);
        answer.data.resize(std::min(answer.data.size(), allocation));
        return answer;
    }
    if (cdb[0] != kOpVendor) {
        return refuse(kAscInvalidOpcode);
    }
    if (plainDisk) {
        answer.callFails = true;
        return answer;
    }

    // FA 55 66 FE 60|06 00 00 code args: the whole 16-byte block is needed.
    if (cdbLength != 16 || cdb[1] != 0x55 || cdb[2] != 0x66 || cdb[3] != 0xFE || cdb[5] != 0 ||
        cdb[6] != 0 || (cdb[4] != 0x60 && cdb[4] != 0x06)) {
        return refuse(kAscInvalidFieldInCdb);
    }
    const bool get = cdb[4] == 0x60;
    const std::uint8_t code = cdb[7];
    // The argument bytes a command does not use must be zero.
    const auto argsZeroFrom = [cdb](std::size_t first) {
        for (std::size_t i = first; i < 16; ++i) {
            if (cdb[i] != 0) {
                return false;
            }
        }
        return true;
    };

    answer.data.assign(kVendorAnswerSize, 0);
    if (get) {
        if (!argsZeroFrom(8)) {
            return refuse(kAscInvalidFieldInCdb);
        }
        switch (code) {
            case 1:
                answer.data[0] = camera.resolution;
                return answer;
            case 2:
                answer.data[0] = camera.loopRecording;
                return answer;
            case 11:
                answer.data[0] = camera.timestampDisplay;
                return answer;
            case 14:
                answer.data[0] = camera.state;
                return answer;
            case 26:
            case 27:
            case 28: {
                const FirmwarePiece& piece = camera.firmware[static_cast<std::size_t>(code - 26)];
                std::copy(piece.begin(), piece.end(), answer.data.begin());
                return answer;
            }
            case 15:
                if (carryOut) {
                    camera.mode = CameraMode::kStorage;
                    ++camera.releases;
                }
                return answer;
            default:
                return refuse(kAscInvalidOpcode);
        }
    }

    switch (code) {
        case 1:
        case 2:
        case 11: {
            if (!argsZeroFrom(9)) {
                return refuse(kAscInvalidFieldInCdb);
            }
            if (carryOut) {
                std::uint8_t& setting = code == 1   ? camera.resolution
                                        : code == 2 ? camera.loopRecording
                                                    : camera.timestampDisplay;
                setting = cdb[8];
            }
            return answer;
        }
        case 3:
        case 4: {
            if (!argsZeroFrom(11)) {
                return refuse(kAscInvalidFieldInCdb);
            }
            if (carryOut) {
                std::array<std::uint8_t, 3>& clock = code == 4 ? camera.date : camera.time;
                std::copy_n(cdb + 8, 3, clock.begin());
                (code == 4 ? camera.dateReceived : camera.timeReceived) = true;
            }
            return answer;
        }
        default:
            return refuse(kAscInvalidOpcode);
    }
}

}  // namespace sim
