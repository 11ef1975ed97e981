// The camera's command set: every named operation checks that the camera is open, builds its
// vendor command blocks and sends them one after another on g_hCamera.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>

#include "link/protocol.h"
#include "link/transport.h"

// Link error code: written only on some failures, never reset.
inline constexpr std::int32_t LINK_ERR_NOT_OPEN = 2;
inline constexpr std::int32_t LINK_ERR_IO = 8;
extern std::int32_t g_nLinkError;

// Firmware version text: "Firmware Version:   " and up to 8 characters from each of three
// pieces, in the ANSI code page, zero-terminated.
inline constexpr std::size_t kFirmwareTextSize = 50;
inline constexpr char kFirmwarePrefix[] = "Firmware Version:   ";
inline constexpr std::size_t kFirmwarePrefixLength = sizeof kFirmwarePrefix - 1;
extern char g_szFirmware[kFirmwareTextSize];

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
