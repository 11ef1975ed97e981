#include "vcam/driver_link.h"

#include "vcam/protocol.h"

namespace vcam {

DWORD DriverLink::Open(bool overlapped) {
    overlapped_ = overlapped;
    handle_ = ::CreateFileW(ZQVCAM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    if (overlapped) {
        requestEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    return 0;
}

DriverLink::~DriverLink() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        ::CancelIo(handle_);
        ::CloseHandle(handle_);
    }
    if (requestEvent_ != nullptr) {
        ::CloseHandle(requestEvent_);
    }
}

DWORD DriverLink::Call(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, DWORD* returned) {
    DWORD count = 0;
    OVERLAPPED call = {};
    if (overlapped_) {
        call.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    BOOL ok = ::DeviceIoControl(handle_, code, const_cast<void*>(in), inSize, out, outSize, &count,
                                overlapped_ ? &call : nullptr);
    DWORD error = ok ? 0 : ::GetLastError();
    if (overlapped_) {
        if (error == ERROR_IO_PENDING) {
            ok = ::GetOverlappedResult(handle_, &call, &count, TRUE);
            error = ok ? 0 : ::GetLastError();
        }
        ::CloseHandle(call.hEvent);
    }
    if (returned != nullptr) {
        *returned = count;
    }
    return error;
}

DWORD DriverLink::Attach(std::uint32_t timeoutMs) {
    std::uint8_t record[ZQVCAM_ATTACH_SIZE] = {};
    zqvcam_put32(record, ZQVCAM_ATTACH_VERSION, ZQVCAM_PROTOCOL_VERSION);
    zqvcam_put32(record, ZQVCAM_ATTACH_TIMEOUT, timeoutMs);
    return Call(ZQVCAM_IOCTL_ATTACH, record, sizeof record, nullptr, 0, nullptr);
}

DWORD DriverLink::SetLetter(char letter, std::uint32_t flags) {
    std::uint8_t record[ZQVCAM_LET_SIZE] = {};
    zqvcam_put32(record, ZQVCAM_LET_LETTER, static_cast<std::uint8_t>(letter));
    zqvcam_put32(record, ZQVCAM_LET_FLAGS, flags);
    return Call(ZQVCAM_IOCTL_SET_LETTER, record, sizeof record, nullptr, 0, nullptr);
}

DWORD DriverLink::Answer(const std::vector<std::uint8_t>& record) {
    return Call(ZQVCAM_IOCTL_ANSWER, record.data(), static_cast<std::uint32_t>(record.size()),
                nullptr, 0, nullptr);
}

std::optional<DriverStatus> DriverLink::Status() {
    std::vector<std::uint8_t> record(ZQVCAM_STATUS_SIZE);
    DWORD returned = 0;
    if (Call(ZQVCAM_IOCTL_STATUS, nullptr, 0, record.data(), ZQVCAM_STATUS_SIZE, &returned) != 0) {
        return std::nullopt;
    }
    record.resize(returned);
    return ReadStatus(record);
}

DWORD DriverLink::BeginNextRequest() {
    requestBuffer_.assign(ZQVCAM_REQUEST_MAX, 0);
    requestCall_ = {};
    ::ResetEvent(requestEvent_);
    requestCall_.hEvent = requestEvent_;
    DWORD count = 0;
    if (::DeviceIoControl(handle_, ZQVCAM_IOCTL_NEXT_REQUEST, nullptr, 0, requestBuffer_.data(),
                          ZQVCAM_REQUEST_MAX, &count, &requestCall_)) {
        ::SetEvent(requestEvent_);  // answered at once; Finish collects it
        return 0;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_IO_PENDING ? 0 : error;
}

DWORD DriverLink::FinishNextRequest(std::vector<std::uint8_t>& record) {
    DWORD count = 0;
    if (!::GetOverlappedResult(handle_, &requestCall_, &count, TRUE)) {
        return ::GetLastError();
    }
    record.assign(requestBuffer_.begin(), requestBuffer_.begin() + count);
    return 0;
}

void DriverLink::CancelAll() {
    ::CancelIo(handle_);
}

}  // namespace vcam
