// The pass-through request in a form given, for the tests that build both.
#include "link/transport.h"
#include "link/transport_head.h"

void BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize> request,
                             std::span<const std::uint8_t> cdb, std::uint32_t dataTransferLength,
                             const os::spt::Form& form) {
    transport_detail::Build(request, cdb, dataTransferLength, form);
}

PassThroughOutcome PassThrough(os::Handle handle, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn, const os::spt::Form& form) {
    return transport_detail::Send(handle, cdb, dataIn, form);
}
