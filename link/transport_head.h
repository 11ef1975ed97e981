// The pass-through request of either form, shared by link/transport.cpp (the program's own form)
// and link/transport_forms.cpp (a form given), which is in an object of its own so that a program
// that never names a form links none of it.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "link/transport.h"
#include "os/bytes.h"

namespace transport_detail {

// The work of each call below for one form. Always inlined: for the program's own form the
// offsets are constants, and the code is that of a transport that knows one form only.
[[gnu::always_inline]] inline void Build(std::span<std::uint8_t, kPassThroughRequestSize> request,
                                         std::span<const std::uint8_t> cdb,
                                         std::uint32_t dataTransferLength,
                                         const os::spt::Form& form) {
    std::uint8_t* const p = request.data();
    std::memset(p, 0, request.size());
    const std::size_t cdbLength = std::min(cdb.size(), os::spt::kCdbSize);
    bytes::PutLe16(p, os::spt::kLength, static_cast<std::uint16_t>(form.size));
    p[os::spt::kTargetId] = kTargetId;
    p[os::spt::kCdbLength] = static_cast<std::uint8_t>(cdbLength);
    p[os::spt::kSenseInfoLength] = kSenseInfoLength;
    p[os::spt::kDataIn] = os::spt::kScsiIoctlDataIn;
    bytes::PutLe32(p, os::spt::kDataTransferLength, dataTransferLength);
    bytes::PutLe32(p, os::spt::kTimeOutValue, kTimeOutSeconds);
    // A pointer-sized DataBufferOffset keeps its upper half zero (the fill above).
    bytes::PutLe32(p, form.dataBufferOffset, static_cast<std::uint32_t>(kDataAreaOffset));
    bytes::PutLe32(p, form.senseInfoOffset, static_cast<std::uint32_t>(SenseAreaOffset(form)));
    std::memcpy(p + form.cdb, cdb.data(), cdbLength);
}

[[gnu::always_inline]] inline PassThroughOutcome Send(os::Handle handle,
                                                      std::span<const std::uint8_t> cdb,
                                                      std::span<std::uint8_t> dataIn,
                                                      const os::spt::Form& form) {
    const std::size_t dataLength = std::min(dataIn.size(), kDataAreaSize);
    std::uint8_t request[kPassThroughRequestSize];
    if (&form == &os::spt::kProcess) {
        // The program's own form: the one out-of-line builder the program has.
        BuildPassThroughRequest(request, cdb, static_cast<std::uint32_t>(dataLength));
    } else {
        Build(request, cdb, static_cast<std::uint32_t>(dataLength), form);
    }

    PassThroughOutcome outcome;
    outcome.callSucceeded = os::DeviceIoControl(
        handle, os::kIoctlScsiPassThrough, request, static_cast<std::uint32_t>(form.size), request,
        static_cast<std::uint32_t>(kDataAreaOffset + dataLength), &outcome.bytesReturned);
    if (!outcome.callSucceeded) {
        outcome.systemError = os::GetLastError();
        return outcome;
    }
    // What the platform wrote back into the head; a driver that reports more than was asked for
    // is held to the areas it was given.
    outcome.scsiStatus = request[os::spt::kScsiStatus];
    outcome.senseLength = std::min(request[os::spt::kSenseInfoLength], kSenseInfoLength);
    std::memcpy(outcome.sense.data(), request + SenseAreaOffset(form), outcome.senseLength);
    outcome.dataBytes = std::min(bytes::GetLe32(request, os::spt::kDataTransferLength),
                                 static_cast<std::uint32_t>(dataLength));
    std::memcpy(dataIn.data(), request + kDataAreaOffset, dataLength);
    return outcome;
}

}  // namespace transport_detail
