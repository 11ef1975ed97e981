// SCSI status and sense data as a person reads them: the names of the status and the sense key,
// and the additional sense code where it is one of the common ones.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cli {

struct SenseFields {
    bool valid = false;  // fixed (0x70, 0x71) or descriptor (0x72, 0x73) format, long enough
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

// The sense key and additional sense code of sense data in either format.
SenseFields DecodeSense(std::span<const std::uint8_t> sense);

// "CHECK CONDITION"; "reserved" for a value SCSI does not define.
const char* StatusName(std::uint8_t status);
// "ILLEGAL REQUEST".
const char* SenseKeyName(std::uint8_t key);
// "invalid field in CDB"; empty when the pair is not one of the common ones.
std::string AdditionalSenseText(std::uint8_t asc, std::uint8_t ascq);

// "SCSI status 0x02 (CHECK CONDITION), sense key 0x5 (ILLEGAL REQUEST), additional sense
// 0x24/0x00 (invalid field in CDB), sense data 70 00 05 ..." - as much as there is.
std::string DescribeStatus(std::uint8_t status, std::span<const std::uint8_t> sense);

}  // namespace cli
