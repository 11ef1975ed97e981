// Camera discovery: the drive letters D to Z are opened in turn and asked a standard INQUIRY; the
// first device whose inquiry byte 3 is exactly 1 becomes the camera.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/os.h"

inline constexpr std::size_t kDevicePathChars = 10;
inline constexpr std::uint8_t kInquiryLength = 36;
inline constexpr std::uint8_t kCameraMark = 1;

// The open camera, or null. Set only by FindCamera; cleared by CloseCamera and ReleaseCamera.
extern os::Handle g_hCamera;
// Device path of the camera last found, terminated; closing the handle does not clear it.
extern wchar_t g_szDevicePath[kDevicePathChars];

// Writes the device path of drive `letter` ("\\.\X:") into `path` (room for 7 characters).
void MakeDevicePath(wchar_t letter, wchar_t* path);

// Scans D to Z. On success the camera handle is in g_hCamera (a handle it held before is closed
// first) and true is returned; otherwise `err` = LINK_ERR_NOT_OPEN and nothing else changes.
bool FindCamera(std::int32_t& err);

// Closes the camera if it is open. Never writes `err`; always true.
bool CloseCamera(std::int32_t& err);
