// Camera discovery against any INQUIRY answers: a letter is accepted exactly when its call
// succeeds and byte 3 of the inquiry data is 1 as a whole byte, the first accepted letter wins and
// no letter after it is opened, and no handle is left open except the camera's.
//
// Input: a start byte (bit 0: a handle from an earlier discovery is held), the link error code
// before (4), then for each letter from D on: flags (bit 0 opens, bit 1 the INQUIRY call fails,
// bit 2 it scribbles on the data area first), SCSI status, data length and the data. Letters the
// input does not reach do not open.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/scripted_devices.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "tests/support/process_state.h"

namespace {

constexpr std::array<std::uint8_t, 16> kInquiryCdb = {0x12, 0, 0, 0, 36, 0};

// Drives A to C answer as the camera would; discovery must never ask them.
void PlaceDecoys(fuzzseam::Devices& devices) {
    for (const char letter : {'A', 'B', 'C'}) {
        devices.SetOpens(letter, true);
        fuzzseam::Answer camera;
        camera.data.assign(36, 0);
        camera.data[3] = 1;
        devices.Queue(letter, camera);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    fuzzseam::Devices& devices = fuzzseam::TheDevices();
    devices.Reset();
    zqtest::ResetLinkState();
    PlaceDecoys(devices);

    const bool heldBefore = in.Bit();
    const os::Handle earlier = heldBefore ? devices.OpenLooseHandle() : nullptr;
    g_hCamera = earlier;
    const auto errBefore = static_cast<std::int32_t>(in.U32());
    std::int32_t err = errBefore;
    std::wmemset(g_szDevicePath, L'#', kDevicePathChars);

    // The letters as the input lays them out, and the one that must be accepted.
    std::optional<char> expected;
    std::vector<bool> opens;
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const std::uint8_t flags = in.Byte();
        fuzzseam::Answer answer;
        answer.callFails = (flags & 2) != 0;
        answer.scribbleOnFailure = (flags & 4) != 0;
        answer.status = in.Byte();
        answer.data = in.Bytes(in.Byte());
        answer.bytesReturned = 116;
        const bool opensHere = (flags & 1) != 0;
        opens.push_back(opensHere);
        const bool marked = !answer.callFails &&
                            std::min<std::size_t>(answer.data.size(), 36) > 3 &&
                            answer.data[3] == 1;
        if (opensHere && marked && !expected) {
            expected = letter;
        }
        devices.SetOpens(letter, opensHere);
        devices.Queue(letter, answer);
    }

    const bool found = FindCamera(err);

    // D up to the accepted letter (or Z), each once, in order.
    const char last = expected.value_or('Z');
    std::vector<char> letters;
    for (char letter = 'D'; letter <= last; ++letter) {
        letters.push_back(letter);
    }
    FUZZ_CHECK(devices.openedLetters() == letters);
    FUZZ_CHECK(devices.BadPaths() == 0);

    // One standard INQUIRY for 36 bytes on each letter that opened.
    std::vector<char> asked;
    for (const fuzzseam::Request& request : devices.requests()) {
        FUZZ_CHECK(request.wellFormed);
        FUZZ_CHECK(request.inSize == 44 && request.outSize == 116);
        FUZZ_CHECK(request.cdbLength == 6 && request.cdb == kInquiryCdb);
        FUZZ_CHECK(request.transferLength == 36 && request.dataOffset == 80);
        asked.push_back(request.letter);
    }
    std::vector<char> openedOk;
    for (const char letter : letters) {
        if (opens[static_cast<std::size_t>(letter - 'D')]) {
            openedOk.push_back(letter);
        }
    }
    FUZZ_CHECK(asked == openedOk);

    FUZZ_CHECK(found == expected.has_value());
    if (found) {
        FUZZ_CHECK(g_hCamera != nullptr && devices.LetterOf(g_hCamera) == *expected);
        FUZZ_CHECK(err == errBefore);
        const wchar_t path[] = {L'\\', L'\\', L'.', L'\\', static_cast<wchar_t>(*expected),
                                L':',  L'\0'};
        FUZZ_CHECK(std::wcscmp(g_szDevicePath, path) == 0);
    } else {
        FUZZ_CHECK(err == LINK_ERR_NOT_OPEN);
        FUZZ_CHECK(g_hCamera == earlier);
        for (const wchar_t c : g_szDevicePath) {
            FUZZ_CHECK(c == L'#');
        }
    }

    // Nothing stays open but the camera handle.
    FUZZ_CHECK(devices.BadCloses() == 0);
    FUZZ_CHECK(devices.OpenHandleCount() == (g_hCamera != nullptr ? 1u : 0u));
    FUZZ_CHECK(g_hCamera == nullptr || devices.IsOpen(g_hCamera));
    return 0;
}
