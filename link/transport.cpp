#include "link/transport.h"

#include <algorithm>
#include <cstring>

#include "os/bytes.h"

void BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize> request,
                             std::span<const std::uint8_t> cdb, std::uint32_t dataTransferLength) {
    std::uint8_t* const p = request.data();
    std::memset(p, 0, request.size());
    const std::size_t cdbLength = std::min(cdb.size(), os::spt::kCdbSize);
    bytes::PutLe16(p, os::spt::kLength, static_cast<std::uint16_t>(os::spt::kSize));
    p[os::spt::kTargetId] = kTargetId;
    p[os::spt::kCdbLength] = static_cast<std::uint8_t>(cdbLength);
    p[os::spt::kSenseInfoLength] = kSenseInfoLength;
    p[os::spt::kDataIn] = os::spt::kScsiIoctlDataIn;
    bytes::PutLe32(p, os::spt::kDataTransferLength, dataTransferLength);
    bytes::PutLe32(p, os::spt::kTimeOutValue, kTimeOutSeconds);
    bytes::PutLe32(p, os::spt::kDataBufferOffset, static_cast<std::uint32_t>(kDataAreaOffset));
    bytes::PutLe32(p, os::spt::kSenseInfoOffset, static_cast<std::uint32_t>(kSenseAreaOffset));
    std::memcpy(p + os::spt::kCdb, cdb.data(), cdbLength);
}

PassThroughOutcome PassThrough(os::Handle handle, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn) {
    const std::size_t dataLength = std::min(dataIn.size(), kDataAreaSize);
    std::uint8_t request[kPassThroughRequestSize];
    BuildPassThroughRequest(request, cdb, static_cast<std::uint32_t>(dataLength));

    PassThroughOutcome outcome;
    outcome.callSucceeded = os::DeviceIoControl(
        handle, os::kIoctlScsiPassThrough, request, static_cast<std::uint32_t>(os::spt::kSize),
        request, static_cast<std::uint32_t>(kDataAreaOffset + dataLength), &outcome.bytesReturned);
    if (!outcome.callSucceeded) {
        outcome.systemError = os::GetLastError();
        return outcome;
    }
    // What the platform wrote back into the head; a driver that reports more than was asked for
    // is held to the areas it was given.
    outcome.scsiStatus = request[os::spt::kScsiStatus];
    outcome.senseLength = std::min(request[os::spt::kSenseInfoLength], kSenseInfoLength);
    std::memcpy(outcome.sense.data(), request + kSenseAreaOffset, outcome.senseLength);
    outcome.dataBytes = std::min(bytes::GetLe32(request, os::spt::kDataTransferLength),
                                 static_cast<std::uint32_t>(dataLength));
    std::memcpy(dataIn.data(), request + kDataAreaOffset, dataLength);
    return outcome;
}

PassThroughOutcome SendVendorBlock(std::span<std::uint8_t, kVendorBlockSize> block,
                                   std::span<std::uint8_t, kVendorAnswerSize> answer,
                                   os::Handle handle) {
    SignVendorBlock(block);
    return PassThrough(handle, block, answer);
}

bool SendVendorCommand(std::span<std::uint8_t, kVendorBlockSize> block,
                       std::span<std::uint8_t, kVendorAnswerSize> result, os::Handle handle) {
    return SendVendorBlock(block, result, handle).callSucceeded;
}
