// The device half of the seam, carried out by the real KERNEL32 and SHELL32 calls.
#include <windows.h>
// windows.h first
#include <ntddscsi.h>
#include <shellapi.h>
#include <winioctl.h>

#include <cstddef>

#include "link/os.h"
#include "link/transport.h"

// The request is built byte by byte; these checks make sure the offsets it writes are those of
// the platform's SCSI_PASS_THROUGH in the 32-bit program, so a layout slip cannot build.
#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH) == kPassThroughHeadSize);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == kSptLength);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == kSptScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == kSptPathId);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == kSptTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == kSptLun);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == kSptCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == kSptSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == kSptDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == kSptDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == kSptTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == kSptDataBufferOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == kSptSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == kSptCdb);
static_assert(sizeof(SCSI_PASS_THROUGH::Cdb) == kVendorBlockSize);
#endif
static_assert(SCSI_IOCTL_DATA_IN == kScsiIoctlDataIn);

static_assert(IOCTL_SCSI_PASS_THROUGH == os::kIoctlScsiPassThrough);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == os::kIoctlStorageQueryProperty);
static_assert(GENERIC_READ == os::kGenericRead);
static_assert(GENERIC_WRITE == os::kGenericWrite);
static_assert(FILE_SHARE_READ == os::kFileShareRead);
static_assert(FILE_SHARE_WRITE == os::kFileShareWrite);
static_assert(OPEN_EXISTING == os::kOpenExisting);
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

std::uint32_t GetLogicalDriveStringsW(std::uint32_t bufferLength, wchar_t* buffer) {
    return ::GetLogicalDriveStringsW(bufferLength, buffer);
}

std::uint32_t GetDriveTypeW(const wchar_t* rootPath) {
    return ::GetDriveTypeW(rootPath);
}

void ShellExecuteW(const wchar_t* operation, const wchar_t* file, const wchar_t* parameters,
                   const wchar_t* directory, int showCommand) {
    (void)::ShellExecuteW(nullptr, operation, file, parameters, directory, showCommand);
}

}  // namespace os
