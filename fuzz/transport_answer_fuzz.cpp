// The vendor command transport against any answer a device can give: whatever data, however much
// of it and whatever SCSI status arrives, the caller's result is exactly the first 8 data bytes
// delivered with zeros beyond them, and a failed call leaves the result as the caller filled it.
//
// Input: flags (bit 0 the call fails, bit 1 it scribbles on the data area first), SCSI status,
// data length, the caller's 16-byte block, the caller's 8-byte result, bytes-returned (4),
// sense length and sense bytes, then the data.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "fuzz/scripted_devices.h"
#include "link/transport.h"
#include "tests/support/process_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    fuzzseam::Devices& devices = fuzzseam::TheDevices();
    devices.Reset();
    zqtest::ResetLinkState();
    devices.SetOpens('E', true);

    const std::uint8_t flags = in.Byte();
    fuzzseam::Answer answer;
    answer.callFails = (flags & 1) != 0;
    answer.scribbleOnFailure = (flags & 2) != 0;
    answer.status = in.Byte();
    const std::size_t dataLength = in.Byte();
    std::array<std::uint8_t, 16> block = {};
    const auto blockBytes = in.Bytes(block.size());
    std::copy(blockBytes.begin(), blockBytes.end(), block.begin());
    std::array<std::uint8_t, 8> result = {};
    const auto resultBytes = in.Bytes(result.size());
    std::copy(resultBytes.begin(), resultBytes.end(), result.begin());
    answer.bytesReturned = in.U32();
    answer.sense = in.Bytes(in.Byte());
    answer.data = in.Bytes(dataLength);
    const auto sent = answer.data;
    const bool fails = answer.callFails;
    devices.Queue('E', answer);

    const os::Handle handle =
        os::CreateFileW(L"\\\\.\\E:", os::kGenericRead | os::kGenericWrite,
                        os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
    FUZZ_CHECK(handle != os::InvalidHandle());

    const std::array<std::uint8_t, 16> callerBlock = block;
    const std::array<std::uint8_t, 8> before = result;
    const bool ok = SendVendorCommand(block, result, handle);

    // The block: bytes 0-2 are the transport's, the rest the caller's.
    FUZZ_CHECK(block[0] == 0xFA && block[1] == 0x55 && block[2] == 0x66);
    FUZZ_CHECK(std::equal(block.begin() + 3, block.end(), callerBlock.begin() + 3));

    // One well-formed request carrying that block as a 16-byte CDB for 8 bytes in.
    FUZZ_CHECK(devices.requests().size() == 1);
    const fuzzseam::Request& request = devices.requests()[0];
    FUZZ_CHECK(request.wellFormed);
    FUZZ_CHECK(request.inSize == 44 && request.outSize == 88);
    FUZZ_CHECK(request.cdbLength == 16 && request.cdb == block);
    FUZZ_CHECK(request.transferLength == 8 && request.dataOffset == 80);

    FUZZ_CHECK(ok == !fails);
    if (ok) {
        const std::size_t delivered = std::min<std::size_t>(sent.size(), 8);
        FUZZ_CHECK(request.delivered == delivered);
        for (std::size_t i = 0; i < result.size(); ++i) {
            FUZZ_CHECK(result[i] == (i < delivered ? sent[i] : 0));
        }
    } else {
        FUZZ_CHECK(result == before);
    }

    os::CloseHandle(handle);
    FUZZ_CHECK(devices.OpenHandleCount() == 0 && devices.BadCloses() == 0);
    return 0;
}
