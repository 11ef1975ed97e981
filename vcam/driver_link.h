// The user-mode side of the virtual camera driver's control device, \\.\ZelquinVcam
// (vcam/protocol.h): the camera service attaches through it, waits for requests, answers them
// and presents letters; anyone may read the driver's status.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "vcam/camera_service.h"

namespace vcam {

class DriverLink {
  public:
    // Opens the control device (for overlapped calls when `overlapped`); Windows' error code on
    // failure (ERROR_FILE_NOT_FOUND: the driver is not running).
    DWORD Open(bool overlapped);
    ~DriverLink();
    DriverLink() = default;
    DriverLink(const DriverLink&) = delete;
    DriverLink& operator=(const DriverLink&) = delete;

    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

    // The calls below answer Windows' error code, 0 on success.
    DWORD Attach(std::uint32_t timeoutMs);
    DWORD SetLetter(char letter, std::uint32_t flags);
    DWORD Answer(const std::vector<std::uint8_t>& record);
    std::optional<DriverStatus> Status();

    // The wait for the next request: Begin starts it (overlapped), the event is signalled when
    // it ends, Finish takes the request record.
    DWORD BeginNextRequest();
    HANDLE request_event() const { return requestEvent_; }
    DWORD FinishNextRequest(std::vector<std::uint8_t>& record);
    void CancelAll();

  private:
    DWORD Call(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
               std::uint32_t outSize, DWORD* returned);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool overlapped_ = false;
    HANDLE requestEvent_ = nullptr;
    OVERLAPPED requestCall_ = {};
    std::vector<std::uint8_t> requestBuffer_;
};

}  // namespace vcam
