// The platform records the core builds and reads, as they lie in memory in the Windows program
// (the 32-bit product; where a record differs in a 64-bit process, both forms): byte offsets and
// sizes, all multi-byte fields little-endian. The core fills and reads
// them byte by byte at these offsets (os/bytes.h), never by overlaying a host structure, so the
// same code builds for 64-bit Linux. os_win32_devices.cpp and os_win32_system.cpp check every
// offset against the Windows headers at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

// SCSI_PASS_THROUGH (the head of IOCTL_SCSI_PASS_THROUGH's buffer), in the form of the calling
// process: a 32-bit process sends the 32-bit form, a 64-bit process the 64-bit one, whose
// DataBufferOffset is pointer-sized. On return the platform writes the device's status into
// ScsiStatus, the sense bytes delivered into SenseInfoLength and the data bytes delivered into
// DataTransferLength.
namespace spt {
// The fields both forms hold at the same offsets.
inline constexpr std::size_t kLength = 0;               // 2 bytes
inline constexpr std::size_t kScsiStatus = 2;           // 1 byte
inline constexpr std::size_t kPathId = 3;               // 1 byte
inline constexpr std::size_t kTargetId = 4;             // 1 byte
inline constexpr std::size_t kLun = 5;                  // 1 byte
inline constexpr std::size_t kCdbLength = 6;            // 1 byte
inline constexpr std::size_t kSenseInfoLength = 7;      // 1 byte
inline constexpr std::size_t kDataIn = 8;               // 1 byte
inline constexpr std::size_t kDataTransferLength = 12;  // 4 bytes
inline constexpr std::size_t kTimeOutValue = 16;        // 4 bytes
inline constexpr std::size_t kCdbSize = 16;
inline constexpr std::uint8_t kScsiIoctlDataIn = 1;  // SCSI_IOCTL_DATA_IN

// Where the two forms differ.
struct Form {
    std::size_t size;                  // sizeof, and what Length says
    std::size_t dataBufferOffset;      // DataBufferOffset
    std::size_t dataBufferOffsetSize;  // its width: 4 or 8 bytes
    std::size_t senseInfoOffset;       // SenseInfoOffset, 4 bytes
    std::size_t cdb;                   // Cdb, kCdbSize bytes
};
inline constexpr Form k32 = {44, 20, 4, 24, 28};
inline constexpr Form k64 = {56, 24, 8, 32, 36};

// The form of this program. On Linux the core and the simulated camera stand for the shipped
// 32-bit Windows program.
#if defined(_WIN64)
inline constexpr Form kProcess = k64;
#else
inline constexpr Form kProcess = k32;
#endif
inline constexpr std::size_t kSize = kProcess.size;
inline constexpr std::size_t kDataBufferOffset = kProcess.dataBufferOffset;
inline constexpr std::size_t kSenseInfoOffset = kProcess.senseInfoOffset;
inline constexpr std::size_t kCdb = kProcess.cdb;
}  // namespace spt

// STORAGE_PROPERTY_QUERY, the input of IOCTL_STORAGE_QUERY_PROPERTY.
namespace spq {
inline constexpr std::size_t kSize = 12;
inline constexpr std::size_t kPropertyId = 0;            // 4 bytes
inline constexpr std::size_t kQueryType = 4;             // 4 bytes
inline constexpr std::size_t kAdditionalParameters = 8;  // 1 byte
inline constexpr std::uint32_t kStorageDeviceProperty = 0;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;
}  // namespace spq

// STORAGE_DEVICE_DESCRIPTOR, the output of that query: the fields the core uses.
namespace sdd {
inline constexpr std::size_t kSize = 4;             // 4 bytes
inline constexpr std::size_t kVendorIdOffset = 12;  // 4 bytes
}  // namespace sdd

// DEV_BROADCAST_HDR and the records that begin with it (WM_DEVICECHANGE).
namespace dbt {
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kSize = 0;        // dbch_size, 4 bytes
inline constexpr std::size_t kDeviceType = 4;  // dbch_devicetype, 4 bytes
inline constexpr std::size_t kReserved = 8;    // dbch_reserved, 4 bytes

// DEV_BROADCAST_VOLUME.
inline constexpr std::size_t kVolumeUnitMask = 12;  // dbcv_unitmask, 4 bytes
inline constexpr std::size_t kVolumeFlags = 16;     // dbcv_flags, 2 bytes
inline constexpr std::size_t kVolumeFieldsEnd = 18;

// DEV_BROADCAST_DEVICEINTERFACE_W.
inline constexpr std::size_t kInterfaceClassGuid = 12;  // dbcc_classguid, 16 bytes
inline constexpr std::size_t kInterfaceName = 28;       // dbcc_name, wide characters
inline constexpr std::size_t kInterfaceFilterSize = 32;

inline constexpr std::uint32_t kDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
inline constexpr std::uint32_t kDevNodesChanged = 0x0007;       // DBT_DEVNODES_CHANGED
inline constexpr std::uint32_t kDevtypVolume = 2;               // DBT_DEVTYP_VOLUME
inline constexpr std::uint32_t kDevtypDeviceInterface = 5;      // DBT_DEVTYP_DEVICEINTERFACE
inline constexpr std::uint16_t kFlagMedia = 0x0001;             // DBTF_MEDIA
inline constexpr std::uint16_t kFlagNet = 0x0002;               // DBTF_NET
}  // namespace dbt

}  // namespace os
