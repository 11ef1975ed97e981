// IOCTL_SCSI_PASS_THROUGH as a driver sees it: the request decoded byte by byte from the caller's
// input buffer, and the device's answer encoded back into the caller's output buffer.
//
// The head is SCSI_PASS_THROUGH in the form of the calling process: the 32-bit form (44 bytes,
// DataBufferOffset 4 bytes at 20, SenseInfoOffset at 24, the CDB at 28) from a 32-bit process, the
// 64-bit form (56 bytes, DataBufferOffset 8 bytes at 24, SenseInfoOffset at 32, the CDB at 36)
// from a 64-bit one. Both begin alike: Length (2 bytes), ScsiStatus, PathId, TargetId, Lun,
// CdbLength, SenseInfoLength, DataIn, then DataTransferLength at 12 and TimeOutValue at 16. The
// sense and data areas lie in the output buffer at the head's offsets. Every field is read at its
// own offset, little-endian, never by laying a host struct over the bytes.
//
// Used by every double that plays the driver: the simulated world and the fuzz targets' scripted
// devices.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// Where the fields of one form of the head lie.
struct PassThroughForm {
    std::uint32_t size;           // the head's size, which Length must give
    std::size_t dataOffsetAt;     // DataBufferOffset
    std::size_t dataOffsetWidth;  // 4, or 8 (pointer-sized) in the 64-bit form
    std::size_t senseOffsetAt;    // SenseInfoOffset
    std::size_t cdbAt;            // Cdb[16]
};

inline constexpr PassThroughForm kPassThrough32 = {44, 20, 4, 24, 28};
inline constexpr PassThroughForm kPassThrough64 = {56, 24, 8, 32, 36};

// The longest head, for the buffers that hold either form.
inline constexpr std::size_t kPassThroughHeadMax = 56;

// The longest time-out a driver takes (30 hours, in seconds).
inline constexpr std::uint32_t kPassThroughMaxTimeOut = 108000;

// A pass-through request as decoded from the caller's head.
struct PassThroughRequest {
    const PassThroughForm* form = &kPassThrough32;
    std::array<std::uint8_t, kPassThroughHeadMax> head = {};  // as sent; zeros past form->size

    std::uint16_t length = 0;
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
    std::uint8_t cdbLength = 0;
    std::uint8_t senseLength = 0;
    std::uint8_t dataIn = 0;
    std::uint32_t transferLength = 0;
    std::uint32_t timeOut = 0;
    std::uint32_t dataOffset = 0;
    // The 64-bit form's DataBufferOffset past 4 GiB (its upper four bytes not zero): beyond any
    // buffer a call can hand over.
    bool dataOffsetBeyond4G = false;
    std::uint32_t senseOffset = 0;
    std::array<std::uint8_t, 16> cdb = {};
};

// The head at the start of `in`, in the 64-bit form when `form64`. Nullopt when either buffer is
// missing or shorter than the head.
std::optional<PassThroughRequest> DecodePassThrough(const std::uint8_t* in, std::uint32_t inSize,
                                                    const std::uint8_t* out, std::uint32_t outSize,
                                                    bool form64);

// Whether a driver takes the request into an output buffer of `outSize` bytes: Length gives the
// head's size; path 0, target 1, LUN 0; a CDB of 1 to 16 bytes; data in; a time-out of 1 second
// to kPassThroughMaxTimeOut; a data area (when data is asked for) and a sense area (when sense is)
// past the head, inside the output buffer and apart from each other.
bool IsWellFormed(const PassThroughRequest& request, std::uint32_t outSize);

// What an answer delivered, as the caller sees it.
struct PassThroughDelivered {
    std::uint32_t data = 0;      // data bytes, cut to DataTransferLength
    std::uint8_t sense = 0;      // sense bytes, cut to SenseInfoLength
    std::uint32_t returned = 0;  // the bytes of the output buffer the answer reaches
};

// Writes the answer into `out` (at least the head's size, and as the request was checked with
// IsWellFormed): the head as sent with ScsiStatus `status`, SenseInfoLength and DataTransferLength
// set to what was delivered, the data at DataBufferOffset and the sense at SenseInfoOffset.
PassThroughDelivered EncodePassThroughAnswer(const PassThroughRequest& request, std::uint8_t status,
                                             const std::vector<std::uint8_t>& data,
                                             const std::vector<std::uint8_t>& sense,
                                             std::uint8_t* out);

}  // namespace sim
