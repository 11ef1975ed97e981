#include "link/transport.h"

#include <algorithm>
#include <cstring>

#include "link/transport_head.h"
#include "os/bytes.h"

void BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize> request,
                             std::span<const std::uint8_t> cdb, std::uint32_t dataTransferLength) {
    transport_detail::Build(request, cdb, dataTransferLength, os::spt::kProcess);
}

PassThroughOutcome PassThrough(os::Handle handle, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn) {
    return transport_detail::Send(handle, cdb, dataIn, os::spt::kProcess);
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
