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

}  // namespace

void MakeDevicePath(wchar_t letter, std::span<wchar_t, kDriveDevicePathChars> path) {
    static_assert(sizeof kDevicePathTemplate / sizeof(wchar_t) == kDriveDevicePathChars);
    std::wmemcpy(path.data(), kDevicePathTemplate, kDriveDevicePathChars);
    path[kDevicePathLetterIndex] = letter;
}

LetterProbe ProbeDriveLetter(wchar_t letter) {
    LetterProbe probe;
    MakeDevicePath(letter, probe.path);

    const os::Handle handle =
        os::CreateFileW(probe.path.data(), os::kGenericRead | os::kGenericWrite,
                        os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
    if (handle == os::InvalidHandle()) {
        probe.result = LetterProbeResult::kOpenFailed;
        probe.openError = os::GetLastError();
        return probe;
    }
    probe.inquiry = PassThrough(handle, InquiryCdb(), probe.inquiryData);
    if (!probe.inquiry.callSucceeded) {
        probe.result = LetterProbeResult::kInquiryFailed;
    } else if (!CarriesCameraMark(probe.inquiryData)) {
        probe.result = LetterProbeResult::kNotCamera;
    } else {
        probe.result = LetterProbeResult::kCamera;
        probe.handle = handle;
        return probe;
    }
    os::CloseHandle(handle);
    return probe;
}

bool FindCamera(std::int32_t& err) {
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        const LetterProbe probe = ProbeDriveLetter(letter);
        if (probe.result != LetterProbeResult::kCamera) {
            continue;
        }

        // A handle still held from an earlier discovery is never used again: close it so that
        // repeated connection attempts do not leak handles.
        if (g_hCamera != nullptr) {
            os::CloseHandle(g_hCamera);
        }
        g_hCamera = probe.handle;
        std::wcsncpy(g_szDevicePath, probe.path.data(), kDevicePathChars - 1);
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
