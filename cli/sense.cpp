#include "cli/sense.h"

#include <cstdio>

#include "link/protocol.h"
#include "os/text.h"

namespace cli {

const char* StatusName(std::uint8_t status) {
    switch (status) {
        case 0x00:
            return "GOOD";
        case 0x02:
            return "CHECK CONDITION";
        case 0x04:
            return "CONDITION MET";
        case 0x08:
            return "BUSY";
        case 0x18:
            return "RESERVATION CONFLICT";
        case 0x28:
            return "TASK SET FULL";
        case 0x30:
            return "ACA ACTIVE";
        case 0x40:
            return "TASK ABORTED";
        default:
            return "reserved";
    }
}

const char* SenseKeyName(std::uint8_t key) {
    static constexpr const char* kNames[16] = {
        "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
        "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
        "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
        "reserved (0xC)", "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED",
    };
    return kNames[key & 0x0F];
}

std::string AdditionalSenseText(std::uint8_t asc, std::uint8_t ascq) {
    struct Entry {
        std::uint8_t asc;
        int ascq;  // -1: any qualifier
        const char* text;
    };
    static constexpr Entry kEntries[] = {
        {0x00, 0x00, "no additional sense information"},
        {0x04, 0x01, "logical unit is in process of becoming ready"},
        {0x04, -1, "logical unit not ready"},
        {0x08, -1, "logical unit communication failure"},
        {0x20, 0x00, "invalid command operation code"},
        {0x24, 0x00, "invalid field in CDB"},
        {0x25, 0x00, "logical unit not supported"},
        {0x26, -1, "invalid field in parameter list"},
        {0x28, 0x00, "not ready to ready change, medium may have changed"},
        {0x29, -1, "power on, reset, or bus device reset occurred"},
        {0x3A, -1, "medium not present"},
        {0x44, 0x00, "internal target failure"},
    };
    for (const Entry& entry : kEntries) {
        if (entry.asc == asc && (entry.ascq < 0 || entry.ascq == ascq)) {
            return entry.text;
        }
    }
    return {};
}

std::string DescribeStatus(std::uint8_t status, std::span<const std::uint8_t> sense) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "SCSI status 0x%02X (%s)", static_cast<unsigned>(status),
                  StatusName(status));
    std::string text = buffer;
    const SenseFields fields = DecodeSense(sense);
    if (fields.valid) {
        std::snprintf(buffer, sizeof buffer,
                      ", sense key 0x%X (%s), additional sense 0x%02X/0x%02X",
                      static_cast<unsigned>(fields.key), SenseKeyName(fields.key),
                      static_cast<unsigned>(fields.asc), static_cast<unsigned>(fields.ascq));
        text += buffer;
        const std::string additional = AdditionalSenseText(fields.asc, fields.ascq);
        if (!additional.empty()) {
            text += " (" + additional + ")";
        }
    }
    if (!sense.empty()) {
        text += ", sense data " + os::HexBytes(sense);
    } else {
        text += ", no sense data";
    }
    return text;
}

std::string DescribeOutcome(const PassThroughOutcome& outcome, std::uint32_t neededBytes) {
    const OutcomeCategory category = Categorize(outcome, neededBytes);
    std::string text = CategoryName(category);
    switch (category) {
        case OutcomeCategory::kGood:
            return text + ", " + std::to_string(outcome.dataBytes) + " bytes";
        case OutcomeCategory::kShortAnswer:
            return text + ", " + std::to_string(outcome.dataBytes) + " of " +
                   std::to_string(neededBytes) + " bytes";
        case OutcomeCategory::kCheckCondition:
        case OutcomeCategory::kOtherStatus:
            return text + ", " + DescribeStatus(outcome.scsiStatus, outcome.Sense());
        case OutcomeCategory::kTransportFailure:
            return text + ", system error " + std::to_string(outcome.systemError);
        case OutcomeCategory::kSystemError:
            return text + " " + std::to_string(outcome.systemError);
    }
    return text;
}

}  // namespace cli
