#include "vcam/wine_drives.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "os/bytes.h"
#include "vcam/protocol.h"

namespace vcam {

namespace {

constexpr wchar_t kMountManager[] = L"\\\\.\\MountPointManager";

// Wine's own mount manager calls: CTL_CODE('m', 32 and 33, METHOD_BUFFERED, access).
constexpr DWORD kDefineUnixDrive = (0x6Du << 16) | (3u << 14) | (32u << 2);
constexpr DWORD kQueryUnixDrive = (0x6Du << 16) | (1u << 14) | (33u << 2);

// The record of both calls (Wine 8), little-endian; strings follow the head, 8-bit, ending
// with a zero byte.
constexpr unsigned kUdSize = 0;               // u32 the whole record
constexpr unsigned kUdType = 4;               // u32 DRIVE_..., DRIVE_NO_ROOT_DIR removes
constexpr unsigned kUdLetter = 24;            // u16 the letter
constexpr unsigned kUdMountPointOffset = 26;  // u16 offset of the folder's Unix path, 0 for none
constexpr unsigned kUdHead = 32;

std::uint32_t CallMountManager(DWORD code, std::vector<std::uint8_t>& record, DWORD outSize) {
    const HANDLE manager =
        ::CreateFileW(kMountManager, GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    const DWORD inSize = static_cast<DWORD>(record.size());
    record.resize(std::max<std::size_t>(record.size(), outSize), 0);
    DWORD returned = 0;
    const BOOL ok =
        ::DeviceIoControl(manager, code, record.data(), inSize,
                          outSize != 0 ? record.data() : nullptr, outSize, &returned, nullptr);
    const DWORD error = ok ? 0 : ::GetLastError();
    ::CloseHandle(manager);
    record.resize(ok ? returned : 0);
    return error;
}

}  // namespace

WineDrives::WineDrives() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (ntdll == nullptr || kernel32 == nullptr ||
        ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return;
    }
    unixName_ = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_unix_file_name")));
    active_ = unixName_ != nullptr;
}

std::wstring WineDrives::FolderName(char letter) {
    return std::wstring(L"zqvcam-") + static_cast<wchar_t>(letter);
}

std::uint32_t WineDrives::Define(char letter, std::uint32_t driveType, const std::wstring& folder) {
    if (!active_) {
        return ERROR_NOT_SUPPORTED;
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
    char* unixPath = unixName_(folder.c_str());
    if (unixPath == nullptr) {
        return ERROR_PATH_NOT_FOUND;
    }
    const std::string mountPoint(unixPath);
    ::HeapFree(::GetProcessHeap(), 0, unixPath);

    std::vector<std::uint8_t> record(kUdHead + mountPoint.size() + 1, 0);
    zqvcam_put32(record.data(), kUdSize, static_cast<unsigned long>(record.size()));
    zqvcam_put32(record.data(), kUdType, driveType);
    bytes::PutLe16(record.data(), kUdLetter, static_cast<std::uint16_t>(letter));
    bytes::PutLe16(record.data(), kUdMountPointOffset, kUdHead);
    std::copy(mountPoint.begin(), mountPoint.end(), record.begin() + kUdHead);
    return CallMountManager(kDefineUnixDrive, record, 0);
}

std::uint32_t WineDrives::Undefine(char letter) {
    if (!active_) {
        return ERROR_NOT_SUPPORTED;
    }
    std::vector<std::uint8_t> record(kUdHead, 0);
    zqvcam_put32(record.data(), kUdSize, kUdHead);
    zqvcam_put32(record.data(), kUdType, DRIVE_NO_ROOT_DIR);
    bytes::PutLe16(record.data(), kUdLetter, static_cast<std::uint16_t>(letter));
    return CallMountManager(kDefineUnixDrive, record, 0);
}

std::optional<std::string> WineDrives::MountPoint(char letter) {
    if (!active_) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> record(kUdHead, 0);
    zqvcam_put32(record.data(), kUdSize, kUdHead);
    bytes::PutLe16(record.data(), kUdLetter, static_cast<std::uint16_t>(letter));
    if (CallMountManager(kQueryUnixDrive, record, 1024) != 0 || record.size() < kUdHead) {
        return std::nullopt;
    }
    const unsigned offset = bytes::GetLe16(record.data(), kUdMountPointOffset);
    if (offset == 0 || offset >= record.size()) {
        return std::string();
    }
    std::string path;
    for (std::size_t i = offset; i < record.size() && record[i] != 0; ++i) {
        path += static_cast<char>(record[i]);
    }
    return path;
}

}  // namespace vcam
