// Vendor command transport: the 16-byte vendor command block wrapped in a SCSI pass-through
// request (the 32-bit SCSI_PASS_THROUGH layout) and sent synchronously on the camera handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/os.h"

// Vendor command block.
inline constexpr std::size_t kVendorBlockSize = 16;
inline constexpr std::size_t kVendorAnswerSize = 8;

// Pass-through request: the SCSI_PASS_THROUGH head (32-bit form), filler, sense area, data area.
inline constexpr std::size_t kPassThroughRequestSize = 65616;
inline constexpr std::size_t kPassThroughHeadSize = 44;

inline constexpr std::size_t kSptLength = 0;               // 2 bytes
inline constexpr std::size_t kSptScsiStatus = 2;           // 1 byte
inline constexpr std::size_t kSptPathId = 3;               // 1 byte
inline constexpr std::size_t kSptTargetId = 4;             // 1 byte
inline constexpr std::size_t kSptLun = 5;                  // 1 byte
inline constexpr std::size_t kSptCdbLength = 6;            // 1 byte
inline constexpr std::size_t kSptSenseInfoLength = 7;      // 1 byte
inline constexpr std::size_t kSptDataIn = 8;               // 1 byte
inline constexpr std::size_t kSptDataTransferLength = 12;  // 4 bytes
inline constexpr std::size_t kSptTimeOutValue = 16;        // 4 bytes
inline constexpr std::size_t kSptDataBufferOffset = 20;    // 4 bytes
inline constexpr std::size_t kSptSenseInfoOffset = 24;     // 4 bytes
inline constexpr std::size_t kSptCdb = 28;                 // 16 bytes

inline constexpr std::size_t kSenseAreaOffset = 48;
inline constexpr std::uint8_t kSenseInfoLength = 24;
inline constexpr std::size_t kDataAreaOffset = 80;
inline constexpr std::uint8_t kTargetId = 1;
inline constexpr std::uint8_t kScsiIoctlDataIn = 1;
inline constexpr std::uint32_t kTimeOutSeconds = 2;

// Zero-fills the whole request and fills in the head for a data-in command whose CDB is
// `cdbLength` bytes of `cdb` (the CDB field itself is always 16 bytes; the rest stays 0).
void BuildPassThroughRequest(std::uint8_t* request, const std::uint8_t* cdb, std::uint8_t cdbLength,
                             std::uint32_t dataTransferLength);

// Sends one vendor command. Writes FA 55 66 into bytes 0-2 of `block`; on success copies the 8
// answer bytes into `result` and returns true; on failure leaves `result` as it was.
bool SendVendorCommand(std::uint8_t* block, std::uint8_t* result, os::Handle handle);
