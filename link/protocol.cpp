#include "link/protocol.h"

#include <algorithm>

void SignVendorBlock(std::span<std::uint8_t, kVendorBlockSize> block) {
    std::copy(kVendorSignatureBytes.begin(), kVendorSignatureBytes.end(),
              block.begin() + kVendorSignature);
}

VendorBlock MakeCameraBlock(CommandForm form, std::uint8_t code,
                            std::span<const std::uint8_t> args) {
    VendorBlock block = {};
    const std::uint32_t formBytes = form == CommandForm::kGet ? kVendorFormGet : kVendorFormSet;
    for (std::size_t i = 0; i < 4; ++i) {  // little-endian
        block[kVendorForm + i] = static_cast<std::uint8_t>(formBytes >> (8 * i));
    }
    block[kVendorCode] = code;
    std::copy_n(args.begin(), std::min(args.size(), kVendorBlockSize - kVendorArgs),
                block.begin() + kVendorArgs);
    return block;
}

std::size_t FirmwarePieceLength(std::span<const std::uint8_t, kVendorAnswerSize> answer) {
    std::size_t length = 0;
    while (length < answer.size() && answer[length] != 0) {
        ++length;
    }
    return length;
}

CameraDateTime CameraDateTimeFromLocalTime(const std::tm& local) {
    CameraDateTime dateTime{};
    dateTime.year = static_cast<std::uint8_t>(((local.tm_year + 1900) % 2000) & 0xFF);
    dateTime.month = static_cast<std::uint8_t>(local.tm_mon + 1);
    dateTime.day = static_cast<std::uint8_t>(local.tm_mday);
    dateTime.hour = static_cast<std::uint8_t>(local.tm_hour);
    dateTime.minute = static_cast<std::uint8_t>(local.tm_min);
    dateTime.second = static_cast<std::uint8_t>(local.tm_sec);
    return dateTime;
}

std::array<ClockCommand, 2> ClockCommands(const CameraDateTime& dateTime) {
    return {{{kCmdSetDate, {dateTime.year, dateTime.month, dateTime.day}},
             {kCmdSetTime, {dateTime.hour, dateTime.minute, dateTime.second}}}};
}

std::array<std::uint8_t, kInquiryCdbLength> InquiryCdb() {
    return {kOpInquiry, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
}

bool CarriesCameraMark(std::span<const std::uint8_t> inquiryData) {
    return inquiryData.size() > kInquiryMarkByte && inquiryData[kInquiryMarkByte] == kCameraMark;
}

OutcomeCategory Categorize(const PassThroughOutcome& outcome, std::uint32_t neededBytes) {
    if (!outcome.callSucceeded) {
        return outcome.transportFailed ? OutcomeCategory::kTransportFailure
                                       : OutcomeCategory::kSystemError;
    }
    if (outcome.scsiStatus == kScsiStatusCheckCondition) {
        return OutcomeCategory::kCheckCondition;
    }
    if (outcome.scsiStatus != kScsiStatusGood) {
        return OutcomeCategory::kOtherStatus;
    }
    return outcome.dataBytes < neededBytes ? OutcomeCategory::kShortAnswer : OutcomeCategory::kGood;
}

const char* CategoryName(OutcomeCategory category) {
    switch (category) {
        case OutcomeCategory::kGood:
            return "good";
        case OutcomeCategory::kCheckCondition:
            return "check condition";
        case OutcomeCategory::kOtherStatus:
            return "other status";
        case OutcomeCategory::kShortAnswer:
            return "short answer";
        case OutcomeCategory::kTransportFailure:
            return "transport failure";
        case OutcomeCategory::kSystemError:
            return "system error";
    }
    return "unknown";
}

namespace {

// Fixed format: the sense key in byte 2, the additional length in byte 7, the additional sense
// code and qualifier in bytes 12 and 13. Descriptor format: key, code and qualifier in bytes 1-3.
constexpr std::size_t kFixedKey = 2;
constexpr std::size_t kFixedAdditionalLength = 7;
constexpr std::size_t kFixedAsc = 12;
constexpr std::size_t kFixedAscq = 13;
constexpr std::size_t kDescriptorKey = 1;
constexpr std::size_t kDescriptorAsc = 2;
constexpr std::size_t kDescriptorAscq = 3;

}  // namespace

SenseFields DecodeSense(std::span<const std::uint8_t> sense) {
    SenseFields fields;
    if (sense.empty()) {
        return fields;
    }
    const std::uint8_t code = sense[0] & 0x7F;  // bit 7 is the VALID bit of fixed format
    if (code == 0x70 || code == 0x71) {
        fields.format = SenseFormat::kFixed;
        // A byte past the first eight is there when it arrived and the additional length
        // reaches it.
        const std::size_t reach =
            sense.size() > kFixedAdditionalLength
                ? std::min(sense.size(), kFixedAdditionalLength + 1 + sense[kFixedAdditionalLength])
                : std::min<std::size_t>(sense.size(), kFixedAdditionalLength + 1);
        const auto at = [&](std::size_t index) -> std::uint8_t {
            return index < reach ? sense[index] : 0;
        };
        fields.valid = sense.size() > kFixedKey;
        fields.key = at(kFixedKey) & 0x0F;
        fields.asc = at(kFixedAsc);
        fields.ascq = at(kFixedAscq);
    } else if (code == 0x72 || code == 0x73) {
        fields.format = SenseFormat::kDescriptor;
        const auto at = [&](std::size_t index) -> std::uint8_t {
            return index < sense.size() ? sense[index] : 0;
        };
        fields.valid = sense.size() > kDescriptorKey;
        fields.key = at(kDescriptorKey) & 0x0F;
        fields.asc = at(kDescriptorAsc);
        fields.ascq = at(kDescriptorAscq);
    } else {
        fields.format = SenseFormat::kUnknown;
    }
    return fields;
}
