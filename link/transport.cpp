#include "link/transport.h"

#include <cstring>

#include "link/bytes.h"

void BuildPassThroughRequest(std::uint8_t* request, const std::uint8_t* cdb, std::uint8_t cdbLength,
                             std::uint32_t dataTransferLength) {
    std::memset(request, 0, kPassThroughRequestSize);
    bytes::PutLe16(request, kSptLength, static_cast<std::uint16_t>(kPassThroughHeadSize));
    request[kSptTargetId] = kTargetId;
    request[kSptCdbLength] = cdbLength;
    request[kSptSenseInfoLength] = kSenseInfoLength;
    request[kSptDataIn] = kScsiIoctlDataIn;
    bytes::PutLe32(request, kSptDataTransferLength, dataTransferLength);
    bytes::PutLe32(request, kSptTimeOutValue, kTimeOutSeconds);
    bytes::PutLe32(request, kSptDataBufferOffset, static_cast<std::uint32_t>(kDataAreaOffset));
    bytes::PutLe32(request, kSptSenseInfoOffset, static_cast<std::uint32_t>(kSenseAreaOffset));
    std::memcpy(request + kSptCdb, cdb, cdbLength);
}

bool SendVendorCommand(std::uint8_t* block, std::uint8_t* result, os::Handle handle) {
    block[0] = 0xFA;
    block[1] = 0x55;
    block[2] = 0x66;

    std::uint8_t request[kPassThroughRequestSize];
    BuildPassThroughRequest(request, block, static_cast<std::uint8_t>(kVendorBlockSize),
                            static_cast<std::uint32_t>(kVendorAnswerSize));

    std::uint32_t returned = 0;
    if (!os::DeviceIoControl(handle, os::kIoctlScsiPassThrough, request,
                             static_cast<std::uint32_t>(kPassThroughHeadSize), request,
                             static_cast<std::uint32_t>(kDataAreaOffset + kVendorAnswerSize),
                             &returned)) {
        return false;
    }
    std::memcpy(result, request + kDataAreaOffset, kVendorAnswerSize);
    return true;
}
