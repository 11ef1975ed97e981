// The firmware version text against any three answers: the text is the 20-character prefix
// followed by each delivered piece up to its first zero byte, never longer than 44 characters and
// its terminator, with every byte after it up to the 50th cleared; the link error code becomes 8
// exactly when a command failed, and nothing is written outside the 50 bytes.
//
// Input: a start byte (bit 0: the camera is open), the link error code before (4), the 50 bytes
// the text buffer holds before, then for each of the commands 26, 27 and 28: flags (bit 0 the
// call fails, bit 1 it scribbles on the data area first), SCSI status, data length and the data.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/scripted_devices.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "tests/support/process_state.h"

namespace {

constexpr char kPrefix[] = "Firmware Version:   ";
constexpr std::size_t kCanary = 14;
constexpr std::uint8_t kCanaryByte = 0xC5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    fuzzseam::Devices& devices = fuzzseam::TheDevices();
    devices.Reset();
    zqtest::ResetLinkState();
    devices.SetOpens('E', true);

    const bool open = in.Bit();
    const auto errBefore = static_cast<std::int32_t>(in.U32());
    std::int32_t err = errBefore;

    // The 50-byte text with a guard behind it.
    std::array<char, kFirmwareTextSize + kCanary> buffer;
    buffer.fill(static_cast<char>(kCanaryByte));
    const auto initial = in.Bytes(kFirmwareTextSize);
    std::copy(initial.begin(), initial.end(), buffer.begin());
    const auto before = buffer;

    // The text the answers must give, and where the first failure lies.
    std::string expected = kPrefix;
    int failedAt = -1;
    for (int piece = 0; piece < 3; ++piece) {
        const std::uint8_t flags = in.Byte();
        fuzzseam::Answer answer;
        answer.callFails = (flags & 1) != 0;
        answer.scribbleOnFailure = (flags & 2) != 0;
        answer.status = in.Byte();
        answer.data = in.Bytes(in.Byte());
        if (failedAt < 0) {
            if (answer.callFails) {
                failedAt = piece;
            } else {
                const std::size_t delivered = std::min<std::size_t>(answer.data.size(), 8);
                for (std::size_t i = 0; i < delivered && answer.data[i] != 0; ++i) {
                    expected.push_back(static_cast<char>(answer.data[i]));
                }
            }
        }
        devices.Queue('E', answer);
    }

    if (open) {
        g_hCamera = os::CreateFileW(L"\\\\.\\E:", os::kGenericRead | os::kGenericWrite,
                                    os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
        FUZZ_CHECK(g_hCamera != os::InvalidHandle());
    }

    const bool ok = GetFirmwareVersion(
        std::span<char, kFirmwareTextSize>(buffer.data(), kFirmwareTextSize), err);

    FUZZ_CHECK(std::all_of(buffer.begin() + kFirmwareTextSize, buffer.end(),
                           [](char c) { return static_cast<std::uint8_t>(c) == kCanaryByte; }));
    if (!open) {
        FUZZ_CHECK(!ok && err == LINK_ERR_NOT_OPEN);
        FUZZ_CHECK(buffer == before);
        FUZZ_CHECK(devices.requests().empty());
        return 0;
    }

    // The commands 26, 27, 28 in order, up to the first that failed.
    const std::size_t sentCount = failedAt < 0 ? 3u : static_cast<std::size_t>(failedAt) + 1;
    FUZZ_CHECK(devices.requests().size() == sentCount);
    for (std::size_t i = 0; i < sentCount; ++i) {
        const fuzzseam::Request& request = devices.requests()[i];
        const std::array<std::uint8_t, 16> cdb = {
            0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, static_cast<std::uint8_t>(26 + i)};
        FUZZ_CHECK(request.wellFormed && request.cdbLength == 16 && request.cdb == cdb);
        FUZZ_CHECK(request.transferLength == 8);
    }

    FUZZ_CHECK(ok == (failedAt < 0));
    FUZZ_CHECK(err == (failedAt < 0 ? errBefore : LINK_ERR_IO));
    const std::size_t length = expected.size();
    FUZZ_CHECK(length <= 44);
    FUZZ_CHECK(std::memcmp(buffer.data(), expected.data(), length) == 0);
    FUZZ_CHECK(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(length),
                           buffer.begin() + kFirmwareTextSize, [](char c) { return c == 0; }));

    os::CloseHandle(g_hCamera);
    g_hCamera = nullptr;
    return 0;
}
