#include "host/volume.h"

#include <cstdint>
#include <vector>

#include "os/bytes.h"
#include "os/os.h"
#include "os/records.h"

namespace {

constexpr wchar_t kCameraVendorId[] = L"KMZ";
constexpr wchar_t kNoVolume[] = L" ";
constexpr std::size_t kDevicePathChars = 260;
constexpr std::size_t kWideTextChars = 1024;
constexpr std::uint32_t kDriveListSpare = 4;

std::wstring Trim(const std::wstring& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsVendorIdSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsVendorIdSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

bool IsVendorIdSpace(wchar_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0xA0) {
        return true;
    }
    if (static_cast<std::uint32_t>(c) < 0x100) {
        return false;
    }
    std::uint16_t type = 0;
    return os::GetStringTypeW(os::kCtCtype1, &c, 1, &type) && (type & os::kC1Space) != 0;
}

std::string VendorIdBytes(const unsigned char* descriptor, std::size_t returned) {
    if (returned > kDeviceDescriptorAreaSize) {
        returned = kDeviceDescriptorAreaSize;
    }
    if (returned < os::sdd::kVendorIdOffset + 4) {
        return {};
    }
    const std::uint32_t offset = bytes::GetLe32(descriptor, os::sdd::kVendorIdOffset);
    if (offset == 0 || offset >= returned) {
        return {};
    }
    std::string vendor;
    for (std::size_t i = offset; i < returned && descriptor[i] != 0; ++i) {
        vendor.push_back(static_cast<char>(descriptor[i]));
    }
    return vendor;
}

std::wstring QueryVolumeVendorId(const std::wstring& rootPath) {
    std::wstring name;
    for (const wchar_t c : rootPath) {
        if (c != L'\\') {
            name.push_back(c);
        }
    }
    std::wstring devicePath = L"\\\\.\\" + name;
    if (devicePath.size() > kDevicePathChars - 1) {
        devicePath.resize(kDevicePathChars - 1);
    }

    const os::Handle volume =
        os::CreateFileW(devicePath.c_str(), os::kGenericRead,
                        os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
    if (volume == os::InvalidHandle()) {
        return {};
    }

    std::uint8_t query[os::spq::kSize] = {};
    bytes::PutLe32(query, os::spq::kPropertyId, os::spq::kStorageDeviceProperty);
    bytes::PutLe32(query, os::spq::kQueryType, os::spq::kPropertyStandardQuery);

    std::uint8_t descriptor[kDeviceDescriptorAreaSize] = {};
    bytes::PutLe32(descriptor, os::sdd::kSize,
                   static_cast<std::uint32_t>(kDeviceDescriptorAreaSize));
    std::uint32_t returned = 0;
    const bool ok = os::DeviceIoControl(volume, os::kIoctlStorageQueryProperty, query,
                                        static_cast<std::uint32_t>(os::spq::kSize), descriptor,
                                        bytes::GetLe32(descriptor, os::sdd::kSize), &returned);

    const std::string vendor = ok ? VendorIdBytes(descriptor, returned) : std::string();
    wchar_t wide[kWideTextChars] = {};
    if (!vendor.empty()) {
        os::MultiByteToWideChar(os::kCpAcp, 0, vendor.c_str(), -1, wide,
                                static_cast<int>(kWideTextChars));
        wide[kWideTextChars - 1] = L'\0';
    }
    os::CloseHandle(volume);
    return wide;
}

std::vector<std::wstring> FindCameraVolumes() {
    std::vector<std::wstring> volumes;

    const std::uint32_t needed = os::GetLogicalDriveStringsW(0, nullptr);
    if (needed == 0) {
        return volumes;
    }
    std::vector<wchar_t> list(static_cast<std::size_t>(needed) + kDriveListSpare, L'\0');
    const std::uint32_t filled = os::GetLogicalDriveStringsW(needed, list.data());
    if (filled == 0 || filled > needed) {
        return volumes;
    }

    // The list ends with an empty string; the spare zeros keep the walk inside the buffer even
    // when the system leaves the last terminator out.
    std::size_t at = 0;
    while (at < list.size() && list[at] != L'\0') {
        const std::wstring root(list.data() + at);
        at += root.size() + 1;
        if (os::GetDriveTypeW(root.c_str()) != os::kDriveRemovable) {
            continue;
        }
        if (Trim(QueryVolumeVendorId(root)) == kCameraVendorId) {
            volumes.push_back(root);
        }
    }
    return volumes;
}

std::wstring FindCameraVolume() {
    // The last one listed wins.
    const std::vector<std::wstring> volumes = FindCameraVolumes();
    return volumes.empty() ? std::wstring(kNoVolume) : volumes.back();
}
