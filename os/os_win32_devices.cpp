// The device half of the seam, carried out by the real KERNEL32 and SHELL32 calls.
#include <windows.h>
// windows.h first
#include <ntddscsi.h>
#include <shellapi.h>
#include <winioctl.h>

#include <cstddef>

#include "os/os.h"
#include "os/records.h"

// The core builds and reads these records byte by byte; these checks make sure its offsets are
// those of the platform's structures in a program of this build's width (and, in a 64-bit build,
// of the 32-bit form too), so a layout slip cannot build.
static_assert(sizeof(SCSI_PASS_THROUGH) == os::spt::kSize);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == os::spt::kLength);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == os::spt::kScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == os::spt::kPathId);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == os::spt::kTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == os::spt::kLun);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == os::spt::kCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == os::spt::kSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == os::spt::kDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == os::spt::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == os::spt::kTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == os::spt::kDataBufferOffset);
static_assert(sizeof(SCSI_PASS_THROUGH::DataBufferOffset) ==
              os::spt::kProcess.dataBufferOffsetSize);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == os::spt::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == os::spt::kCdb);
static_assert(sizeof(SCSI_PASS_THROUGH::Cdb) == os::spt::kCdbSize);
#if defined(_WIN64)
static_assert(sizeof(void*) == 8 && os::spt::kSize == os::spt::k64.size);
// The 32-bit form, as a 64-bit system takes it from a 32-bit process.
static_assert(sizeof(SCSI_PASS_THROUGH32) == os::spt::k32.size);
static_assert(offsetof(SCSI_PASS_THROUGH32, DataTransferLength) == os::spt::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH32, DataBufferOffset) == os::spt::k32.dataBufferOffset);
static_assert(sizeof(SCSI_PASS_THROUGH32::DataBufferOffset) == os::spt::k32.dataBufferOffsetSize);
static_assert(offsetof(SCSI_PASS_THROUGH32, SenseInfoOffset) == os::spt::k32.senseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH32, Cdb) == os::spt::k32.cdb);
#else
static_assert(sizeof(void*) == 4 && os::spt::kSize == os::spt::k32.size);
#endif
static_assert(SCSI_IOCTL_DATA_IN == os::spt::kScsiIoctlDataIn);

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == os::spq::kSize);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, PropertyId) == os::spq::kPropertyId);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, QueryType) == os::spq::kQueryType);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) ==
              os::spq::kAdditionalParameters);
static_assert(StorageDeviceProperty == os::spq::kStorageDeviceProperty);
static_assert(PropertyStandardQuery == os::spq::kPropertyStandardQuery);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == os::sdd::kSize);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == os::sdd::kVendorIdOffset);

static_assert(IOCTL_SCSI_PASS_THROUGH == os::kIoctlScsiPassThrough);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == os::kIoctlStorageQueryProperty);
static_assert(GENERIC_READ == os::kGenericRead);
static_assert(GENERIC_WRITE == os::kGenericWrite);
static_assert(FILE_SHARE_READ == os::kFileShareRead);
static_assert(FILE_SHARE_WRITE == os::kFileShareWrite);
static_assert(OPEN_EXISTING == os::kOpenExisting);
static_assert(ERROR_FILE_NOT_FOUND == os::kErrorFileNotFound);
static_assert(ERROR_PATH_NOT_FOUND == os::kErrorPathNotFound);
static_assert(ERROR_ACCESS_DENIED == os::kErrorAccessDenied);
static_assert(ERROR_INVALID_HANDLE == os::kErrorInvalidHandle);
static_assert(ERROR_NOT_READY == os::kErrorNotReady);
static_assert(ERROR_GEN_FAILURE == os::kErrorGenFailure);
static_assert(ERROR_SHARING_VIOLATION == os::kErrorSharingViolation);
static_assert(ERROR_INVALID_PARAMETER == os::kErrorInvalidParameter);
static_assert(ERROR_SEM_TIMEOUT == os::kErrorSemTimeout);
static_assert(ERROR_DEVICE_NOT_CONNECTED == os::kErrorDeviceNotConnected);
static_assert(DRIVE_UNKNOWN == os::kDriveUnknown);
static_assert(DRIVE_NO_ROOT_DIR == os::kDriveNoRootDir);
static_assert(DRIVE_REMOVABLE == os::kDriveRemovable);
static_assert(DRIVE_FIXED == os::kDriveFixed);
static_assert(DRIVE_REMOTE == os::kDriveRemote);
static_assert(DRIVE_CDROM == os::kDriveCdrom);
static_assert(DRIVE_RAMDISK == os::kDriveRamdisk);
static_assert(SW_SHOW == os::kSwShow);

namespace os {

Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    return ::CreateFileW(path, desiredAccess, shareMode, nullptr, creationDisposition,
                         flagsAndAttributes, nullptr);
}

bool DeviceIoControl(Handle handle, std::uint32_t ioControlCode, const void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned) {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(handle, ioControlCode, const_cast<void*>(inBuffer),
                                      inBufferSize, outBuffer, outBufferSize, &returned, nullptr);
    *bytesReturned = returned;
    return ok != FALSE;
}

bool CloseHandle(Handle handle) {
    return ::CloseHandle(handle) != FALSE;
}

std::uint32_t GetLastError() {
    return ::GetLastError();
}

std::uint32_t GetLogicalDriveStringsW(std::uint32_t bufferLength, wchar_t* buffer) {
    return ::GetLogicalDriveStringsW(bufferLength, buffer);
}

std::uint32_t GetDriveTypeW(const wchar_t* rootPath) {
    return ::GetDriveTypeW(rootPath);
}

bool ShellExecuteW(const wchar_t* operation, const wchar_t* file, const wchar_t* parameters,
                   const wchar_t* directory, int showCommand) {
    // The result is an HINSTANCE for compatibility; above 32 means the program was started.
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, operation, file, parameters, directory, showCommand));
    return result > 32;
}

}  // namespace os
