#include "sim/pass_through_codec.h"

#include <algorithm>
#include <cstring>

#include "sim/little_endian.h"

namespace sim {

namespace {

constexpr std::uint8_t kDataIn = 1;
constexpr std::uint8_t kTargetId = 1;

}  // namespace

std::optional<PassThroughRequest> DecodePassThrough(const std::uint8_t* in, std::uint32_t inSize,
                                                    const std::uint8_t* out, std::uint32_t outSize,
                                                    bool form64) {
    const PassThroughForm& form = form64 ? kPassThrough64 : kPassThrough32;
    if (in == nullptr || inSize < form.size || out == nullptr || outSize < form.size) {
        return std::nullopt;
    }
    PassThroughRequest request;
    request.form = &form;
    std::memcpy(request.head.data(), in, form.size);
    const std::uint8_t* head = request.head.data();

    request.length = Le16(head, 0);
    request.pathId = head[3];
    request.targetId = head[4];
    request.lun = head[5];
    request.cdbLength = head[6];
    request.senseLength = head[7];
    request.dataIn = head[8];
    request.transferLength = Le32(head, 12);
    request.timeOut = Le32(head, 16);
    request.dataOffset = Le32(head, form.dataOffsetAt);
    request.dataOffsetBeyond4G =
        form.dataOffsetWidth == 8 && Le32(head, form.dataOffsetAt + 4) != 0;
    request.senseOffset = Le32(head, form.senseOffsetAt);
    std::copy_n(head + form.cdbAt, request.cdb.size(), request.cdb.begin());
    return request;
}

bool IsWellFormed(const PassThroughRequest& request, std::uint32_t outSize) {
    const std::uint32_t headSize = request.form->size;
    if (request.dataOffsetBeyond4G) {
        return false;
    }
    if (request.length != headSize || request.pathId != 0 || request.targetId != kTargetId ||
        request.lun != 0) {
        return false;
    }
    if (request.cdbLength == 0 || request.cdbLength > 16 || request.dataIn != kDataIn ||
        request.timeOut == 0 || request.timeOut > kPassThroughMaxTimeOut) {
        return false;
    }
    const std::uint64_t dataEnd = std::uint64_t{request.dataOffset} + request.transferLength;
    const std::uint64_t senseEnd = std::uint64_t{request.senseOffset} + request.senseLength;
    if (request.transferLength > 0 && (request.dataOffset < headSize || dataEnd > outSize)) {
        return false;
    }
    if (request.senseLength > 0) {
        if (request.senseOffset < headSize || senseEnd > outSize) {
            return false;
        }
        if (request.transferLength > 0 && request.senseOffset < dataEnd &&
            request.dataOffset < senseEnd) {
            return false;  // sense and data areas overlap
        }
    }
    return true;
}

PassThroughDelivered EncodePassThroughAnswer(const PassThroughRequest& request, std::uint8_t status,
                                             const std::vector<std::uint8_t>& data,
                                             const std::vector<std::uint8_t>& sense,
                                             std::uint8_t* out) {
    PassThroughDelivered delivered;
    delivered.data =
        static_cast<std::uint32_t>(std::min<std::size_t>(data.size(), request.transferLength));
    delivered.sense =
        static_cast<std::uint8_t>(std::min<std::size_t>(sense.size(), request.senseLength));

    const std::uint32_t headSize = request.form->size;
    std::array<std::uint8_t, kPassThroughHeadMax> head = request.head;
    head[2] = status;
    head[7] = delivered.sense;
    PutLe32(head.data(), 12, delivered.data);
    std::memcpy(out, head.data(), headSize);
    if (delivered.data > 0) {
        std::memcpy(out + request.dataOffset, data.data(), delivered.data);
    }
    if (delivered.sense > 0) {
        std::memcpy(out + request.senseOffset, sense.data(), delivered.sense);
    }
    delivered.returned = headSize;
    if (delivered.data > 0) {
        delivered.returned = std::max(delivered.returned, request.dataOffset + delivered.data);
    }
    if (delivered.sense > 0) {
        delivered.returned = std::max(delivered.returned, request.senseOffset + delivered.sense);
    }
    return delivered;
}

}  // namespace sim
