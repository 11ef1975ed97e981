// The camera's command set: every named operation checks that the camera is open, builds its
// vendor command blocks and sends them one after another on g_hCamera.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>

#include "link/transport.h"

// Link error code: written only on some failures, never reset.
inline constexpr std::int32_t LINK_ERR_NOT_OPEN = 2;
inline constexpr std::int32_t LINK_ERR_IO = 8;
extern std::int32_t g_nLinkError;

// Vendor command codes.
enum CameraCommand : std::uint8_t {
    kCmdResolution = 1,
    kCmdLoopRecording = 2,
    kCmdSetTime = 3,
    kCmdSetDate = 4,
    kCmdTimestampDisplay = 11,
    kCmdCameraState = 14,
    kCmdRelease = 15,
    kCmdFirmware1 = 26,
    kCmdFirmware2 = 27,
    kCmdFirmware3 = 28,
};

// The camera states in which it takes commands.
inline constexpr std::int32_t kCameraStateReady = 2;
inline constexpr std::int32_t kCameraStateReadyAlt = 3;
inline constexpr bool IsReadyState(std::int32_t state) {
    return state == kCameraStateReady || state == kCameraStateReadyAlt;
}

// The two forms of a vendor command block: a read, or a write carrying its value in the block.
enum class CommandForm : std::uint8_t { kGet, kSet };

// The block of one camera command: the form in bytes 3-6, the code in byte 7, `args` (at most 8)
// from byte 8, every other byte 0. Bytes 0-2 are left for the transport's signature.
VendorBlock MakeCameraBlock(CommandForm form, std::uint8_t code,
                            std::span<const std::uint8_t> args = {});

// Date and time for the camera's clock; year counted from 2000.
struct CameraDateTime {
    std::uint8_t year;
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
};

// The camera's clock set from a local time: the year counted from 2000 (the calendar year modulo
// 2000, its low 8 bits), the month from 1, the rest as they are.
CameraDateTime CameraDateTimeFromLocalTime(const std::tm& local);

// Firmware version text: "Firmware Version:   " and up to 8 characters from each of three
// pieces, in the ANSI code page, zero-terminated.
inline constexpr std::size_t kFirmwareTextSize = 50;
inline constexpr char kFirmwarePrefix[] = "Firmware Version:   ";
inline constexpr std::size_t kFirmwarePrefixLength = sizeof kFirmwarePrefix - 1;
extern char g_szFirmware[kFirmwareTextSize];

// The characters one firmware piece contributes: the answer's bytes up to the first zero byte,
// at most all 8.
std::size_t FirmwarePieceLength(std::span<const std::uint8_t, kVendorAnswerSize> answer);

bool GetCameraState(std::int32_t& state, std::int32_t& err);
bool GetFirmwareVersion(std::span<char, kFirmwareTextSize> text, std::int32_t& err);

bool GetLoopRecording(std::int32_t& value, std::int32_t& err);
bool SetLoopRecording(std::int32_t value, std::int32_t& err);
bool GetResolution(std::int32_t& value, std::int32_t& err);
bool SetResolution(std::int32_t value, std::int32_t& err);
bool GetTimestampDisplay(std::int32_t& value, std::int32_t& err);
bool SetTimestampDisplay(std::int32_t value, std::int32_t& err);

// Date command first; the time command is sent only when it succeeded.
bool SetCameraDateTime(CameraDateTime dateTime, std::int32_t& err);

// Sends the release command (its outcome ignored) and closes the camera handle.
bool ReleaseCamera(std::int32_t& err);
