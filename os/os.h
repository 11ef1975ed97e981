// The one seam between Zelquin's core and the operating system.
//
// Every system call the camera link, the panel logic and the host integration make is declared
// here, under its Windows name, with only the parameters the program varies (the owner windows,
// security attributes, templates and OVERLAPPED records it always passes as null are left out).
//
// Exactly one implementation of each group is linked into a program:
//   devices  - os_win32_devices.cpp (the product)  or  sim/os_sim_devices.cpp (tests, demo build)
//   system   - os_win32_system.cpp  (both exes)    or  sim/os_sim_system.cpp  (Linux tests)
//
// The constants are the Windows values; the Win32 implementation checks them against the
// platform headers at compile time. The layouts of the records passed through these calls are in
// os/records.h.
#pragma once

#include <cstdint>
#include <ctime>

namespace os {

using Handle = void*;

// Kernel handles: INVALID_HANDLE_VALUE is the all-ones pointer.
inline Handle InvalidHandle() {
    return reinterpret_cast<Handle>(~std::uintptr_t{0});
}

inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x00000001u;
inline constexpr std::uint32_t kFileShareWrite = 0x00000002u;
inline constexpr std::uint32_t kOpenExisting = 3;

inline constexpr std::uint32_t kIoctlScsiPassThrough = 0x0004D004u;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400u;

inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

inline constexpr std::uint32_t kDriveUnknown = 0;
inline constexpr std::uint32_t kDriveNoRootDir = 1;
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;
inline constexpr std::uint32_t kDriveRamdisk = 6;

inline constexpr std::uint32_t kCpAcp = 0;
inline constexpr std::uint32_t kCtCtype1 = 0x0001;
inline constexpr std::uint16_t kC1Space = 0x0008;

inline constexpr int kSwShow = 5;

inline constexpr std::uint32_t kDeviceNotifyWindowHandle = 0x00000000u;
inline constexpr std::uint32_t kDeviceNotifyAllInterfaceClasses = 0x00000004u;

// ---- devices (KERNEL32 device access and drive enumeration, SHELL32) ----

// CreateFileW(path, access, share, NULL, disposition, flags, NULL).
// Returns InvalidHandle() when the path cannot be opened.
Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes);

// DeviceIoControl(handle, code, in, inSize, out, outSize, &returned, NULL): synchronous.
// `in` and `out` may be the same buffer. Returns the call's success.
bool DeviceIoControl(Handle handle, std::uint32_t ioControlCode, const void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned);

bool CloseHandle(Handle handle);

// GetLastError(): the calling thread's last error code, as the calls above left it.
std::uint32_t GetLastError();

// GetLogicalDriveStringsW(length, buffer): with length 0 and no buffer, the number of wide
// characters the whole list needs, final terminator included.
std::uint32_t GetLogicalDriveStringsW(std::uint32_t bufferLength, wchar_t* buffer);

std::uint32_t GetDriveTypeW(const wchar_t* rootPath);

// ShellExecuteW(NULL, operation, file, parameters, directory, showCommand): true when the
// program was started (the call's result is above 32). The control panel does not look at it.
bool ShellExecuteW(const wchar_t* operation, const wchar_t* file, const wchar_t* parameters,
                   const wchar_t* directory, int showCommand);

// ---- system (KERNEL32 text and timing, USER32 notification registration, C runtime time) ----

// MultiByteToWideChar(codePage, flags, source, sourceLength, dest, destLength).
int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* source,
                        int sourceLength, wchar_t* dest, int destLength);

// GetStringTypeW(infoType, source, length, types).
bool GetStringTypeW(std::uint32_t infoType, const wchar_t* source, int length,
                    std::uint16_t* charTypes);

void Sleep(std::uint32_t milliseconds);

// _time64(NULL).
std::int64_t Time64();

// _localtime64_s(result, &time): true on success.
bool LocalTime64(std::int64_t time, std::tm* result);

// FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, messageId, 0,
// buffer, size, NULL): the system's text for an error code, in the user's language, as written
// into `buffer` (at most `size` wide characters, terminator included). The number of characters
// written, terminator not counted; 0 when the system has no text for the code.
std::uint32_t FormatMessageW(std::uint32_t messageId, wchar_t* buffer, std::uint32_t size);

// RegisterDeviceNotificationW(recipient, filter, flags): null on failure.
void* RegisterDeviceNotificationW(void* recipient, const void* notificationFilter,
                                  std::uint32_t flags);

}  // namespace os
