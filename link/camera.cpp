#include "link/camera.h"

#include <algorithm>
#include <array>

#include "link/discovery.h"
#include "link/transport.h"

std::int32_t g_nLinkError = 0;
char g_szFirmware[kFirmwareTextSize] = {};

namespace {

// Builds the block of one command with up to three argument bytes and sends it on g_hCamera.
bool Send(CommandForm form, std::uint8_t code, VendorAnswer& answer,
          std::span<const std::uint8_t> args = {}) {
    VendorBlock block = MakeCameraBlock(form, code, args);
    answer.fill(0);
    return SendVendorCommand(block, answer, g_hCamera);
}

bool CameraOpen(std::int32_t& err) {
    if (g_hCamera == nullptr) {
        err = LINK_ERR_NOT_OPEN;
        return false;
    }
    return true;
}

bool Read(std::uint8_t code, std::int32_t& value, std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    VendorAnswer answer;
    if (!Send(CommandForm::kGet, code, answer)) {
        return false;
    }
    value = static_cast<std::int32_t>(answer[0]);
    return true;
}

bool Write(std::uint8_t code, std::int32_t value, std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    VendorAnswer answer;
    const std::array<std::uint8_t, 1> args = {static_cast<std::uint8_t>(value & 0xFF)};
    return Send(CommandForm::kSet, code, answer, args);
}

}  // namespace

bool GetCameraState(std::int32_t& state, std::int32_t& err) {
    return Read(kCmdCameraState, state, err);
}

bool GetLoopRecording(std::int32_t& value, std::int32_t& err) {
    return Read(kCmdLoopRecording, value, err);
}

bool SetLoopRecording(std::int32_t value, std::int32_t& err) {
    return Write(kCmdLoopRecording, value, err);
}

bool GetResolution(std::int32_t& value, std::int32_t& err) {
    return Read(kCmdResolution, value, err);
}

bool SetResolution(std::int32_t value, std::int32_t& err) {
    return Write(kCmdResolution, value, err);
}

bool GetTimestampDisplay(std::int32_t& value, std::int32_t& err) {
    return Read(kCmdTimestampDisplay, value, err);
}

bool SetTimestampDisplay(std::int32_t value, std::int32_t& err) {
    return Write(kCmdTimestampDisplay, value, err);
}

bool SetCameraDateTime(CameraDateTime dateTime, std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    VendorAnswer answer;
    const std::array<ClockCommand, 2> clock = ClockCommands(dateTime);
    if (!Send(CommandForm::kSet, clock[0].code, answer, clock[0].args)) {
        return false;
    }
    return Send(CommandForm::kSet, clock[1].code, answer, clock[1].args);
}

bool ReleaseCamera(std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    VendorAnswer answer;
    (void)Send(CommandForm::kGet, kCmdRelease, answer);
    os::CloseHandle(g_hCamera);
    g_hCamera = nullptr;
    return true;
}

bool GetFirmwareVersion(std::span<char, kFirmwareTextSize> text, std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    static_assert(kFirmwarePrefixLength == 20);
    static_assert(kFirmwarePrefixLength + 3 * kVendorAnswerSize < kFirmwareTextSize);

    std::fill(text.begin(), text.end(), '\0');
    std::copy_n(kFirmwarePrefix, kFirmwarePrefixLength, text.begin());
    std::size_t length = kFirmwarePrefixLength;

    for (const std::uint8_t code : kFirmwareCommands) {
        VendorAnswer answer;
        if (!Send(CommandForm::kGet, code, answer)) {
            err = LINK_ERR_IO;
            return false;
        }
        const std::size_t piece = FirmwarePieceLength(answer);
        for (std::size_t i = 0; i < piece; ++i) {
            text[length++] = static_cast<char>(answer[i]);
        }
    }
    return true;
}
