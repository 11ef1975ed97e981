// SCSI status and sense data as a person reads them: the names of the status and the sense key,
// and the additional sense code where it is one of the common ones. The bytes are decoded by the
// camera protocol's one sense decoder (link/protocol.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/protocol.h"

namespace cli {

// "CHECK CONDITION"; "reserved" for a value SCSI does not define.
const char* StatusName(std::uint8_t status);
// "ILLEGAL REQUEST".
const char* SenseKeyName(std::uint8_t key);
// "invalid field in CDB"; empty when the pair is not one of the common ones.
std::string AdditionalSenseText(std::uint8_t asc, std::uint8_t ascq);

// "SCSI status 0x02 (CHECK CONDITION), sense key 0x5 (ILLEGAL REQUEST), additional sense
// 0x24/0x00 (invalid field in CDB), sense data 70 00 05 ..." - as much as there is.
std::string DescribeStatus(std::uint8_t status, std::span<const std::uint8_t> sense);

// How a command that needs `neededBytes` data bytes ended, one line for people and logs, its
// category first: "good, 36 bytes", "short answer, 3 of 8 bytes", "check condition, SCSI status
// 0x02 (CHECK CONDITION), ...", "transport failure, system error 110", "system error 2".
std::string DescribeOutcome(const PassThroughOutcome& outcome, std::uint32_t neededBytes);

}  // namespace cli
