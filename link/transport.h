// The one SCSI pass-through of the camera link, and the vendor command transport on top of it.
//
// PassThrough sends one data-in SCSI command through IOCTL_SCSI_PASS_THROUGH, in the request
// layout every camera exchange uses (the SCSI_PASS_THROUGH head in the program's own form, a sense
// area and a data area in one 65616-byte buffer), and reports what came back. Discovery's INQUIRY
// and every vendor command go through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/protocol.h"
#include "os/os.h"
#include "os/records.h"

// The pass-through request: the SCSI_PASS_THROUGH head, filler up to the next 8 bytes, sense
// area, data area. The sense area follows the head of each form: at 48 after the 44-byte head of
// a 32-bit process, at 56 after the 56-byte head of a 64-bit one; the data area is at 80 in both.
inline constexpr std::size_t kPassThroughRequestSize = 65616;
constexpr std::size_t SenseAreaOffset(const os::spt::Form& form) {
    return (form.size + 7) / 8 * 8;
}
inline constexpr std::size_t kSenseAreaOffset = SenseAreaOffset(os::spt::kProcess);
inline constexpr std::size_t kDataAreaOffset = 80;
inline constexpr std::size_t kDataAreaSize = kPassThroughRequestSize - kDataAreaOffset;
inline constexpr std::uint8_t kTargetId = 1;
inline constexpr std::uint32_t kTimeOutSeconds = 2;
// The sense area lies between the head and the data area in either form.
static_assert(SenseAreaOffset(os::spt::k32) == 48 && SenseAreaOffset(os::spt::k64) == 56);
static_assert(SenseAreaOffset(os::spt::k64) + kSenseInfoLength <= kDataAreaOffset);

// Zero-fills the whole request and fills in the head for a data-in command: `cdb` (at most 16
// bytes; the CDB field itself is always 16 bytes, the rest staying 0) and a transfer of
// `dataTransferLength` bytes.
// The head is in the program's own form; with `form`, in that one (the tests build both).
void BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize> request,
                             std::span<const std::uint8_t> cdb, std::uint32_t dataTransferLength);
void BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize> request,
                             std::span<const std::uint8_t> cdb, std::uint32_t dataTransferLength,
                             const os::spt::Form& form);

// Sends `cdb` on `handle` as a data-in command of dataIn.size() bytes (at most kDataAreaSize),
// handing the platform the head (44 bytes in a 32-bit program, 56 in a 64-bit one) as input and the
// head, sense and data areas up to the end of the data as output. When the call succeeds, dataIn
// receives the data area's first dataIn.size() bytes (zeros where the device sent nothing); when it
// fails, dataIn is left as it was.
PassThroughOutcome PassThrough(os::Handle handle, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn);
PassThroughOutcome PassThrough(os::Handle handle, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn, const os::spt::Form& form);

// Writes the signature into bytes 0-2 of `block` and sends it as an 8-byte data-in command. On a
// successful call `answer` holds the 8 data bytes (zeros where none arrived); otherwise it is
// left as it was. The outcome tells the rest: the device's status and sense, the bytes delivered.
PassThroughOutcome SendVendorBlock(std::span<std::uint8_t, kVendorBlockSize> block,
                                   std::span<std::uint8_t, kVendorAnswerSize> answer,
                                   os::Handle handle);

// Sends one vendor command. Writes FA 55 66 into bytes 0-2 of `block`; true when the platform call
// succeeded, `result` then holding the 8 answer bytes; false otherwise, `result` left as it was.
// The device's SCSI status is not looked at.
bool SendVendorCommand(std::span<std::uint8_t, kVendorBlockSize> block,
                       std::span<std::uint8_t, kVendorAnswerSize> result, os::Handle handle);
