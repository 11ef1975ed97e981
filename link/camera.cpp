#include "link/camera.h"

#include <cstring>
#include <initializer_list>

#include "link/discovery.h"
#include "link/transport.h"

std::int32_t g_nLinkError = 0;
char g_szFirmware[kFirmwareTextSize] = {};

namespace {

enum class Form { kGet, kSet };

// Builds the block of one command with up to three argument bytes and sends it on g_hCamera.
bool Send(Form form, std::uint8_t code, std::uint8_t* answer, std::uint8_t arg0 = 0,
          std::uint8_t arg1 = 0, std::uint8_t arg2 = 0) {
    std::uint8_t block[kVendorBlockSize] = {};
    block[3] = 0xFE;
    block[4] = form == Form::kGet ? 0x60 : 0x06;
    block[5] = 0x00;
    block[6] = 0x00;
    block[7] = code;
    block[8] = arg0;
    block[9] = arg1;
    block[10] = arg2;
    std::memset(answer, 0, kVendorAnswerSize);
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
    std::uint8_t answer[kVendorAnswerSize];
    if (!Send(Form::kGet, code, answer)) {
        return false;
    }
    value = static_cast<std::int32_t>(answer[0]);
    return true;
}

bool Write(std::uint8_t code, std::int32_t value, std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    std::uint8_t answer[kVendorAnswerSize];
    return Send(Form::kSet, code, answer, static_cast<std::uint8_t>(value & 0xFF));
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
    std::uint8_t answer[kVendorAnswerSize];
    if (!Send(Form::kSet, kCmdSetDate, answer, dateTime.year, dateTime.month, dateTime.day)) {
        return false;
    }
    return Send(Form::kSet, kCmdSetTime, answer, dateTime.hour, dateTime.minute, dateTime.second);
}

bool ReleaseCamera(std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    std::uint8_t answer[kVendorAnswerSize];
    (void)Send(Form::kGet, kCmdRelease, answer);
    os::CloseHandle(g_hCamera);
    g_hCamera = nullptr;
    return true;
}

bool GetFirmwareVersion(char* text, std::int32_t& err) {
    if (!CameraOpen(err)) {
        return false;
    }
    static constexpr char kPrefix[] = "Firmware Version:   ";
    static constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
    static_assert(kPrefixLength == 20);
    static_assert(kPrefixLength + 3 * kVendorAnswerSize < kFirmwareTextSize);

    std::memset(text, 0, kFirmwareTextSize);
    std::memcpy(text, kPrefix, kPrefixLength);
    std::size_t length = kPrefixLength;

    for (const std::uint8_t code : {kCmdFirmware1, kCmdFirmware2, kCmdFirmware3}) {
        std::uint8_t answer[kVendorAnswerSize];
        if (!Send(Form::kGet, code, answer)) {
            err = LINK_ERR_IO;
            return false;
        }
        for (std::size_t i = 0; i < kVendorAnswerSize && answer[i] != 0; ++i) {
            text[length++] = static_cast<char>(answer[i]);
        }
    }
    return true;
}
