#include "fuzz/scripted_devices.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>

#include "sim/pass_through_codec.h"

namespace fuzzseam {

namespace {

constexpr std::uint32_t kIoctlScsiPassThrough = 0x0004D004u;

}  // namespace

void Devices::Reset() {
    opens_ = {};
    answers_.clear();
    open_.clear();
    requests_.clear();
    opened_.clear();
    badCloses_ = 0;
    badPaths_ = 0;
}

os::Handle Devices::NewHandle(int slot) {
    const std::uintptr_t key = next_;
    next_ += 4;
    open_[key] = slot;
    return reinterpret_cast<os::Handle>(key);
}

os::Handle Devices::OpenLooseHandle() {
    return NewHandle(kLoose);
}

os::Handle Devices::CreateFileW(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                                std::uint32_t disposition) {
    // Only "\\.\X:" names a device here.
    if (path == nullptr || std::wcslen(path) != 6 || std::wcsncmp(path, L"\\\\.\\", 4) != 0 ||
        path[5] != L':' || path[4] < L'A' || path[4] > L'Z') {
        ++badPaths_;
        return os::InvalidHandle();
    }
    const char letter = static_cast<char>(path[4]);
    opened_.push_back(letter);
    const std::uint32_t readWrite = os::kGenericRead | os::kGenericWrite;
    const std::uint32_t shared = os::kFileShareRead | os::kFileShareWrite;
    if (!opens_[static_cast<std::size_t>(Slot(letter))] || (access & readWrite) != readWrite ||
        (share & shared) != shared || disposition != os::kOpenExisting) {
        return os::InvalidHandle();
    }
    return NewHandle(Slot(letter));
}

bool Devices::CloseHandle(os::Handle handle) {
    if (open_.erase(Key(handle)) == 0) {
        ++badCloses_;
        return false;
    }
    return true;
}

bool Devices::DeviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                              std::uint32_t inSize, void* out, std::uint32_t outSize,
                              std::uint32_t* bytesReturned) {
    Request request;
    request.ioctl = code;
    request.inSize = inSize;
    request.outSize = outSize;
    const auto found = open_.find(Key(handle));
    const int slot = found == open_.end() ? -1 : found->second;
    request.letter = slot >= 0 && slot < kLoose ? static_cast<char>('A' + slot) : 0;

    // Decode the head as the port driver does, from the input buffer; this process hands the
    // 32-bit form, as the product does.
    const auto* input = static_cast<const std::uint8_t*>(in);
    auto* output = static_cast<std::uint8_t*>(out);
    std::optional<sim::PassThroughRequest> decoded;
    if (code == kIoctlScsiPassThrough && bytesReturned != nullptr) {
        decoded = sim::DecodePassThrough(input, inSize, output, outSize, false);
    }
    const bool wellFormed = decoded && sim::IsWellFormed(*decoded, outSize);
    if (decoded) {
        request.cdbLength = decoded->cdbLength;
        request.cdb = decoded->cdb;
        request.transferLength = decoded->transferLength;
        request.dataOffset = decoded->dataOffset;
    }
    request.wellFormed = wellFormed;

    Answer answer;
    answer.callFails = true;
    if (slot >= 0) {
        auto& queue = answers_[slot];
        if (!queue.empty()) {
            answer = std::move(queue.front());
            queue.pop_front();
        }
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = answer.bytesReturned;
    }
    if (slot < 0 || !wellFormed || answer.callFails) {
        if (wellFormed && answer.scribbleOnFailure && decoded->transferLength > 0) {
            // A failing driver may have written part of a transfer before giving up.
            std::memset(output + decoded->dataOffset, 0xA5, decoded->transferLength);
        }
        requests_.push_back(request);
        return false;
    }

    const sim::PassThroughDelivered delivered =
        sim::EncodePassThroughAnswer(*decoded, answer.status, answer.data, answer.sense, output);
    request.succeeded = true;
    request.delivered = delivered.data;
    requests_.push_back(request);
    return true;
}

Devices& TheDevices() {
    static Devices devices;
    return devices;
}

}  // namespace fuzzseam

// The devices half of the seam.
namespace os {

Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t /*flagsAndAttributes*/) {
    return fuzzseam::TheDevices().CreateFileW(path, desiredAccess, shareMode, creationDisposition);
}

bool DeviceIoControl(Handle handle, std::uint32_t ioControlCode, const void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned) {
    return fuzzseam::TheDevices().DeviceIoControl(handle, ioControlCode, inBuffer, inBufferSize,
                                                  outBuffer, outBufferSize, bytesReturned);
}

bool CloseHandle(Handle handle) {
    return fuzzseam::TheDevices().CloseHandle(handle);
}

// A scripted call that fails gives no reason.
std::uint32_t GetLastError() {
    return kErrorGenFailure;
}

// No drives are listed and nothing is started: the targets on this seam do not look for volumes.
std::uint32_t GetLogicalDriveStringsW(std::uint32_t /*bufferLength*/, wchar_t* /*buffer*/) {
    return 0;
}

std::uint32_t GetDriveTypeW(const wchar_t* /*rootPath*/) {
    return kDriveNoRootDir;
}

bool ShellExecuteW(const wchar_t* /*operation*/, const wchar_t* /*file*/,
                   const wchar_t* /*parameters*/, const wchar_t* /*directory*/,
                   int /*showCommand*/) {
    return false;
}

}  // namespace os
