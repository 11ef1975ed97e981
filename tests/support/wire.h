// The bytes the tests compare and send, in one place: a hex notation, the pass-through heads the
// program sends, and the volume record of WM_DEVICECHANGE. Written out by hand at the record's
// named offsets, so that a test never reuses the program's own encoder to check it. Header-only
// and free of GoogleTest (the Windows suites and the fuzz targets include it too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "os/records.h"

namespace zqtest {

// "FA 55 66": upper-case hex bytes separated by single spaces.
template <typename Bytes>
std::string Hex(const Bytes& bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X",
                      static_cast<unsigned>(static_cast<std::uint8_t>(byte)));
        if (!text.empty()) {
            text += ' ';
        }
        text += two;
    }
    return text;
}

inline std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    return Hex(std::span<const std::uint8_t>(bytes, count));
}

// The SCSI_PASS_THROUGH head of every vendor command up to its CDB, in the form of the program
// the test is built into (a Windows test built for x86_64 sees its 64-bit programs send the
// 64-bit form; the native tests and the 32-bit Windows tests see the product's 32-bit form):
// Length, TargetId 1, CdbLength 16, SenseInfoLength 24, DataIn 1, DataTransferLength 8,
// TimeOutValue 2, DataBufferOffset 80, SenseInfoOffset just after the head. kInquiryHead: the same
// for the standard INQUIRY, CdbLength 6 and DataTransferLength 36. kPassThroughIn: the head's
// size as the trace gives it.
#if defined(_WIN64)
// 56 bytes; the head up to the CDB is bytes 0-35, DataBufferOffset is 8 bytes at 24, the sense
// area at 56.
inline constexpr char kVendorHead[] =
    "38 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 00 00 00 00 "
    "50 00 00 00 00 00 00 00 38 00 00 00";
inline constexpr char kInquiryHead[] =
    "38 00 00 00 01 00 06 18 01 00 00 00 24 00 00 00 02 00 00 00 00 00 00 00 "
    "50 00 00 00 00 00 00 00 38 00 00 00";
inline constexpr char kPassThroughIn[] = "in=56";
#else
// 44 bytes; the head up to the CDB is bytes 0-27, the sense area at 48.
inline constexpr char kVendorHead[] =
    "2C 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 50 00 00 00 30 00 00 00";
inline constexpr char kInquiryHead[] =
    "2C 00 00 00 01 00 06 18 01 00 00 00 24 00 00 00 02 00 00 00 50 00 00 00 30 00 00 00";
inline constexpr char kPassThroughIn[] = "in=44";
#endif

// The INQUIRY's block in the head's 16 CDB bytes: operation 12h, allocation length 36.
inline constexpr char kInquiryCdb[] = "12 00 00 00 24 00 00 00 00 00 00 00 00 00 00 00";

// The unit-mask bit of a drive letter.
constexpr std::uint32_t DriveBit(char letter) {
    return 1u << (letter - 'A');
}

// A DEV_BROADCAST_VOLUME record (20 bytes as the system sends it) for the drives in `unitMask`,
// in a buffer of exactly `size` bytes whose dbch_size says `size`; fields past `size` are cut.
inline std::vector<std::uint8_t> VolumeRecord(std::uint32_t unitMask, std::uint16_t flags = 0,
                                              std::uint32_t size = 20) {
    namespace dbt = os::dbt;
    std::vector<std::uint8_t> full(20, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        full[dbt::kSize + i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
        full[dbt::kDeviceType + i] =
            static_cast<std::uint8_t>((dbt::kDevtypVolume >> (8 * i)) & 0xFFu);
        full[dbt::kVolumeUnitMask + i] = static_cast<std::uint8_t>((unitMask >> (8 * i)) & 0xFFu);
    }
    full[dbt::kVolumeFlags] = static_cast<std::uint8_t>(flags & 0xFFu);
    full[dbt::kVolumeFlags + 1] = static_cast<std::uint8_t>(flags >> 8);
    full.resize(size, 0);
    return full;
}

}  // namespace zqtest
