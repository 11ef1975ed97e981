// Camera discovery: the drive letters D to Z are opened in turn and asked a standard INQUIRY; the
// first device whose inquiry byte 3 is exactly 1 becomes the camera.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "os/os.h"

inline constexpr std::size_t kDevicePathChars = 10;

// The standard INQUIRY: six CDB bytes, 36 bytes of inquiry data; the camera's one mark is byte 3
// of the data holding exactly 1.
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::size_t kInquiryCdbLength = 6;
inline constexpr std::uint8_t kInquiryLength = 36;
inline constexpr std::size_t kInquiryMarkByte = 3;
inline constexpr std::uint8_t kCameraMark = 1;

// INQUIRY, standard data, allocation length 36.
std::array<std::uint8_t, kInquiryCdbLength> InquiryCdb();

// The open camera, or null. Set only by FindCamera; cleared by CloseCamera and ReleaseCamera.
extern os::Handle g_hCamera;
// Device path of the camera last found, terminated; closing the handle does not clear it.
extern wchar_t g_szDevicePath[kDevicePathChars];

// The device path of a drive letter, "\\.\X:": six characters and the terminator.
inline constexpr std::size_t kDriveDevicePathChars = 7;

// Writes the device path of drive `letter` into `path`.
void MakeDevicePath(wchar_t letter, std::span<wchar_t, kDriveDevicePathChars> path);

// Scans D to Z. On success the camera handle is in g_hCamera (a handle it held before is closed
// first) and true is returned; otherwise `err` = LINK_ERR_NOT_OPEN and nothing else changes.
bool FindCamera(std::int32_t& err);

// Closes the camera if it is open. Never writes `err`; always true.
bool CloseCamera(std::int32_t& err);
