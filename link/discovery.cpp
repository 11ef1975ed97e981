#include "link/discovery.h"

#include <array>
#include <cwchar>

#include "link/camera.h"
#include "link/transport.h"

os::Handle g_hCamera = nullptr;
wchar_t g_szDevicePath[kDevicePathChars] = {};

namespace {

// The path template; its fifth character is replaced by the drive letter.
constexpr wchar_t kDevicePathTemplate[] = L"\\\\.\\F:";
constexpr std::size_t kDevicePathLetterIndex = 4;

// Sends the standard INQUIRY on `handle` and tells whether the answer carries the camera's mark.
bool AnswersAsCamera(os::Handle handle) {
    std::array<std::uint8_t, kInquiryLength> inquiry = {};
    if (!PassThrough(handle, InquiryCdb(), inquiry).callSucceeded) {
        return false;
    }
    return inquiry[kInquiryMarkByte] == kCameraMark;
}

}  // namespace

std::array<std::uint8_t, kInquiryCdbLength> InquiryCdb() {
    return {kOpInquiry, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
}

void MakeDevicePath(wchar_t letter, std::span<wchar_t, kDriveDevicePathChars> path) {
    static_assert(sizeof kDevicePathTemplate / sizeof(wchar_t) == kDriveDevicePathChars);
    std::wmemcpy(path.data(), kDevicePathTemplate, kDriveDevicePathChars);
    path[kDevicePathLetterIndex] = letter;
}

bool FindCamera(std::int32_t& err) {
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        wchar_t path[kDriveDevicePathChars];
        MakeDevicePath(letter, path);

        const os::Handle handle =
            os::CreateFileW(path, os::kGenericRead | os::kGenericWrite,
                            os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
        if (handle == os::InvalidHandle()) {
            continue;
        }
        if (!AnswersAsCamera(handle)) {
            os::CloseHandle(handle);
            continue;
        }

        // A handle still held from an earlier discovery is never used again: close it so that
        // repeated connection attempts do not leak handles.
        if (g_hCamera != nullptr) {
            os::CloseHandle(g_hCamera);
        }
        g_hCamera = handle;
        std::wcsncpy(g_szDevicePath, path, kDevicePathChars - 1);
        g_szDevicePath[kDevicePathChars - 1] = L'\0';
        return true;
    }
    err = LINK_ERR_NOT_OPEN;
    return false;
}

bool CloseCamera(std::int32_t& /*err*/) {
    if (g_hCamera != nullptr) {
        os::CloseHandle(g_hCamera);
        g_hCamera = nullptr;
    }
    return true;
}
