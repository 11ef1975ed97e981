// Camera volume lookup: the removable volume whose storage device reports the vendor
// identification "KMZ".
#pragma once

#include <string>
#include <vector>

// Root path ("E:\") of the last listed removable volume whose trimmed vendor identification is
// exactly "KMZ"; " " when there is none.
std::wstring FindCameraVolume();

// Root paths ("E:\") of every removable volume whose trimmed vendor identification is exactly
// "KMZ", in the order the system lists them. Every removable volume is queried.
std::vector<std::wstring> FindCameraVolumes();

// The vendor identification of the storage device behind the volume at `rootPath`, untrimmed;
// empty when it cannot be learnt.
std::wstring QueryVolumeVendorId(const std::wstring& rootPath);

// True for the characters trimmed from the ends of a vendor identification: U+0009 to U+000D,
// U+0020, U+00A0, and from U+0100 on what the system's character typing calls space.
bool IsVendorIdSpace(wchar_t c);

// Bytes of the storage device descriptor area.
inline constexpr std::size_t kDeviceDescriptorAreaSize = 551;

// The vendor identification bytes in a descriptor of which `returned` bytes were filled in:
// from VendorIdOffset to the first zero byte, never beyond the returned bytes; empty when the
// offset is 0 or outside them.
std::string VendorIdBytes(const unsigned char* descriptor, std::size_t returned);
