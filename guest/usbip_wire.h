// The USB/IP protocol as the kernel's vhci-hcd speaks it (the kernel's
// Documentation/usb/usbip_protocol.rst): every field big-endian, read and written byte by byte
// at the offsets named here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace usbip {

inline constexpr std::uint16_t kVersion = 0x0111;

// Operation messages (device list and import), 8-byte common header.
inline constexpr std::uint16_t kOpReqDevlist = 0x8005;
inline constexpr std::uint16_t kOpRepDevlist = 0x0005;
inline constexpr std::uint16_t kOpReqImport = 0x8003;
inline constexpr std::uint16_t kOpRepImport = 0x0003;
inline constexpr std::size_t kOpHeaderSize = 8;  // version 2, code 2, status 4
inline constexpr std::size_t kBusIdSize = 32;
inline constexpr std::size_t kPathSize = 256;

// The exported device record (OP_REP_DEVLIST and OP_REP_IMPORT).
inline constexpr std::size_t kDevPath = 0;
inline constexpr std::size_t kDevBusId = 256;
inline constexpr std::size_t kDevBusNum = 288;
inline constexpr std::size_t kDevDevNum = 292;
inline constexpr std::size_t kDevSpeed = 296;
inline constexpr std::size_t kDevIdVendor = 300;
inline constexpr std::size_t kDevIdProduct = 302;
inline constexpr std::size_t kDevBcdDevice = 304;
inline constexpr std::size_t kDevClass = 306;
inline constexpr std::size_t kDevSubClass = 307;
inline constexpr std::size_t kDevProtocol = 308;
inline constexpr std::size_t kDevConfigurationValue = 309;
inline constexpr std::size_t kDevNumConfigurations = 310;
inline constexpr std::size_t kDevNumInterfaces = 311;
inline constexpr std::size_t kDevRecordSize = 312;
inline constexpr std::size_t kInterfaceRecordSize = 4;  // class, subclass, protocol, padding

// URB messages, 48 bytes each: basic header then the command's fields.
inline constexpr std::uint32_t kCmdSubmit = 0x0001;
inline constexpr std::uint32_t kCmdUnlink = 0x0002;
inline constexpr std::uint32_t kRetSubmit = 0x0003;
inline constexpr std::uint32_t kRetUnlink = 0x0004;
inline constexpr std::size_t kUrbHeaderSize = 48;
inline constexpr std::size_t kCommand = 0;
inline constexpr std::size_t kSeqNum = 4;
inline constexpr std::size_t kDevId = 8;
inline constexpr std::size_t kDirection = 12;  // 0 out, 1 in
inline constexpr std::size_t kEp = 16;
// CMD_SUBMIT
inline constexpr std::size_t kTransferFlags = 20;
inline constexpr std::size_t kTransferBufferLength = 24;
inline constexpr std::size_t kStartFrame = 28;
inline constexpr std::size_t kNumberOfPackets = 32;
inline constexpr std::size_t kInterval = 36;
inline constexpr std::size_t kSetup = 40;  // 8 bytes, as on the bus (little-endian fields)
// RET_SUBMIT
inline constexpr std::size_t kStatus = 20;
inline constexpr std::size_t kActualLength = 24;
inline constexpr std::size_t kRetStartFrame = 28;
inline constexpr std::size_t kRetNumberOfPackets = 32;
inline constexpr std::size_t kErrorCount = 36;
// CMD_UNLINK / RET_UNLINK
inline constexpr std::size_t kUnlinkSeqNum = 20;
inline constexpr std::size_t kUnlinkStatus = 20;

inline constexpr std::uint32_t kDirOut = 0;
inline constexpr std::uint32_t kDirIn = 1;
inline constexpr std::uint32_t kUrbShortNotOk = 0x0001;
inline constexpr std::uint32_t kSpeedHigh = 3;

inline std::uint16_t GetBe16(const std::uint8_t* p, std::size_t at) {
    return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

inline std::uint32_t GetBe32(const std::uint8_t* p, std::size_t at) {
    return (static_cast<std::uint32_t>(p[at]) << 24) |
           (static_cast<std::uint32_t>(p[at + 1]) << 16) |
           (static_cast<std::uint32_t>(p[at + 2]) << 8) | static_cast<std::uint32_t>(p[at + 3]);
}

inline void PutBe16(std::uint8_t* p, std::size_t at, std::uint16_t value) {
    p[at] = static_cast<std::uint8_t>(value >> 8);
    p[at + 1] = static_cast<std::uint8_t>(value);
}

inline void PutBe32(std::uint8_t* p, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        p[at + i] = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
    }
}

// The text of a fixed-size, zero-padded field.
inline std::string GetText(const std::uint8_t* p, std::size_t at, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size && p[at + i] != 0; ++i) {
        text += static_cast<char>(p[at + i]);
    }
    return text;
}

}  // namespace usbip
