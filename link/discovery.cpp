#include "link/discovery.h"

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
    const std::uint8_t cdb[6] = {0x12, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
    std::uint8_t request[kPassThroughRequestSize];
    BuildPassThroughRequest(request, cdb, sizeof cdb, kInquiryLength);

    std::uint32_t returned = 0;
    if (!os::DeviceIoControl(handle, os::kIoctlScsiPassThrough, request,
                             static_cast<std::uint32_t>(kPassThroughHeadSize), request,
                             static_cast<std::uint32_t>(kDataAreaOffset + kInquiryLength),
                             &returned)) {
        return false;
    }
    return request[kDataAreaOffset + 3] == kCameraMark;
}

}  // namespace

void MakeDevicePath(wchar_t letter, wchar_t* path) {
    std::wmemcpy(path, kDevicePathTemplate, sizeof kDevicePathTemplate / sizeof(wchar_t));
    path[kDevicePathLetterIndex] = letter;
}

bool FindCamera(std::int32_t& err) {
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        wchar_t path[sizeof kDevicePathTemplate / sizeof(wchar_t)];
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
