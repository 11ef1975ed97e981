#include "vcam/camera_service.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "vcam/protocol.h"

namespace vcam {

namespace {

// Create options (the NtCreateFile values a driver is given).
constexpr std::uint32_t kFileWriteThrough = 0x00000002u;
constexpr std::uint32_t kFileSequentialOnly = 0x00000004u;
constexpr std::uint32_t kFileNoIntermediateBuffering = 0x00000008u;
constexpr std::uint32_t kFileSynchronousIoAlert = 0x00000010u;
constexpr std::uint32_t kFileSynchronousIoNonalert = 0x00000020u;
constexpr std::uint32_t kFileRandomAccess = 0x00000800u;
constexpr std::uint32_t kFileDeleteOnClose = 0x00001000u;
constexpr std::uint32_t kFileOpenForBackupIntent = 0x00004000u;
constexpr std::uint32_t kFileOpenReparsePoint = 0x00200000u;
constexpr std::uint32_t kFileOpenNoRecall = 0x00400000u;

// CreateFileW flags.
constexpr std::uint32_t kFlagWriteThrough = 0x80000000u;
constexpr std::uint32_t kFlagOverlapped = 0x40000000u;
constexpr std::uint32_t kFlagNoBuffering = 0x20000000u;
constexpr std::uint32_t kFlagRandomAccess = 0x10000000u;
constexpr std::uint32_t kFlagSequentialScan = 0x08000000u;
constexpr std::uint32_t kFlagDeleteOnClose = 0x04000000u;
constexpr std::uint32_t kFlagBackupSemantics = 0x02000000u;
constexpr std::uint32_t kFlagOpenReparsePoint = 0x00200000u;
constexpr std::uint32_t kFlagOpenNoRecall = 0x00100000u;

struct OptionFlag {
    std::uint32_t option;
    std::uint32_t flag;
};

constexpr std::array<OptionFlag, 8> kOptionFlags = {{
    {kFileWriteThrough, kFlagWriteThrough},
    {kFileSequentialOnly, kFlagSequentialScan},
    {kFileNoIntermediateBuffering, kFlagNoBuffering},
    {kFileRandomAccess, kFlagRandomAccess},
    {kFileDeleteOnClose, kFlagDeleteOnClose},
    {kFileOpenForBackupIntent, kFlagBackupSemantics},
    {kFileOpenReparsePoint, kFlagOpenReparsePoint},
    {kFileOpenNoRecall, kFlagOpenNoRecall},
}};

// Rights to data, as the generic rights map to them.
constexpr std::uint32_t kFileReadData = 0x0001u;
constexpr std::uint32_t kFileWriteData = 0x0002u;
constexpr std::uint32_t kGenericBits = 0xF0000000u;

// The CreateFileW disposition of each NtCreateFile disposition (FILE_SUPERSEDE has none).
constexpr std::array<std::uint32_t, 6> kDispositions = {0, 3, 1, 4, 5, 2};

std::uint32_t Get32(std::span<const std::uint8_t> bytes, unsigned offset) {
    return static_cast<std::uint32_t>(zqvcam_get32(bytes.data(), offset));
}

void Put32(std::vector<std::uint8_t>& bytes, unsigned offset, std::uint32_t value) {
    zqvcam_put32(bytes.data(), offset, value);
}

}  // namespace

std::optional<Request> ReadRequest(std::span<const std::uint8_t> record, std::string* error) {
    const auto fail = [error](std::string why) -> std::optional<Request> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    if (record.size() < ZQVCAM_REQ_HEAD) {
        return fail("a request of " + std::to_string(record.size()) +
                    " bytes, shorter than its head");
    }
    if (Get32(record, ZQVCAM_REQ_LENGTH) != record.size()) {
        return fail("a request whose length field says " +
                    std::to_string(Get32(record, ZQVCAM_REQ_LENGTH)) + " bytes, not " +
                    std::to_string(record.size()));
    }
    Request request;
    request.id = Get32(record, ZQVCAM_REQ_ID);
    request.kind = Get32(record, ZQVCAM_REQ_KIND);
    const std::uint32_t letter = Get32(record, ZQVCAM_REQ_LETTER);
    request.handle = Get32(record, ZQVCAM_REQ_HANDLE);
    if (request.id == 0) {
        return fail("a request numbered 0");
    }
    if (letter < 'A' || letter > 'Z') {
        return fail("a request for letter " + std::to_string(letter));
    }
    request.letter = static_cast<char>(letter);
    const std::size_t data = record.size() - ZQVCAM_REQ_HEAD;
    switch (request.kind) {
        case ZQVCAM_KIND_OPEN:
            request.share = Get32(record, ZQVCAM_REQ_ARG0);
            request.options = Get32(record, ZQVCAM_REQ_ARG1);
            request.attributes = Get32(record, ZQVCAM_REQ_ARG2);
            request.access = Get32(record, ZQVCAM_REQ_ARG3);
            request.accessGiven = (Get32(record, ZQVCAM_REQ_FLAGS) & ZQVCAM_FLAG_ACCESS_GIVEN) != 0;
            if (data != 0) {
                return fail("an open with " + std::to_string(data) + " bytes of data");
            }
            break;
        case ZQVCAM_KIND_CONTROL: {
            request.code = Get32(record, ZQVCAM_REQ_ARG0);
            const std::uint32_t inSize = Get32(record, ZQVCAM_REQ_ARG1);
            request.outputSize = Get32(record, ZQVCAM_REQ_ARG2);
            request.caller64 = (Get32(record, ZQVCAM_REQ_FLAGS) & ZQVCAM_FLAG_CALLER64) != 0;
            if (inSize != data) {
                return fail("a device control of " + std::to_string(inSize) +
                            " input bytes that carries " + std::to_string(data));
            }
            if (request.outputSize > ZQVCAM_DATA_MAX) {
                return fail("a device control with an output of " +
                            std::to_string(request.outputSize) + " bytes");
            }
            request.input.assign(record.begin() + ZQVCAM_REQ_HEAD, record.end());
            break;
        }
        case ZQVCAM_KIND_CLOSE:
            if (data != 0) {
                return fail("a close with " + std::to_string(data) + " bytes of data");
            }
            break;
        default:
            return fail("a request of kind " + std::to_string(request.kind));
    }
    return request;
}

std::vector<std::uint8_t> WriteRequest(const Request& request) {
    const bool control = request.kind == ZQVCAM_KIND_CONTROL;
    std::vector<std::uint8_t> record(ZQVCAM_REQ_HEAD + (control ? request.input.size() : 0), 0);
    Put32(record, ZQVCAM_REQ_LENGTH, static_cast<std::uint32_t>(record.size()));
    Put32(record, ZQVCAM_REQ_ID, request.id);
    Put32(record, ZQVCAM_REQ_KIND, request.kind);
    Put32(record, ZQVCAM_REQ_LETTER, static_cast<std::uint8_t>(request.letter));
    Put32(record, ZQVCAM_REQ_HANDLE, request.handle);
    if (request.kind == ZQVCAM_KIND_OPEN) {
        Put32(record, ZQVCAM_REQ_ARG0, request.share);
        Put32(record, ZQVCAM_REQ_ARG1, request.options);
        Put32(record, ZQVCAM_REQ_ARG2, request.attributes);
        Put32(record, ZQVCAM_REQ_ARG3, request.access);
        Put32(record, ZQVCAM_REQ_FLAGS, request.accessGiven ? ZQVCAM_FLAG_ACCESS_GIVEN : 0);
    } else if (control) {
        Put32(record, ZQVCAM_REQ_ARG0, request.code);
        Put32(record, ZQVCAM_REQ_ARG1, static_cast<std::uint32_t>(request.input.size()));
        Put32(record, ZQVCAM_REQ_ARG2, request.outputSize);
        Put32(record, ZQVCAM_REQ_FLAGS, request.caller64 ? ZQVCAM_FLAG_CALLER64 : 0);
        std::copy(request.input.begin(), request.input.end(), record.begin() + ZQVCAM_REQ_HEAD);
    }
    return record;
}

std::vector<std::uint8_t> WriteAnswer(const Answer& answer) {
    std::vector<std::uint8_t> record(ZQVCAM_ANS_HEAD + answer.output.size(), 0);
    Put32(record, ZQVCAM_ANS_LENGTH, static_cast<std::uint32_t>(record.size()));
    Put32(record, ZQVCAM_ANS_ID, answer.id);
    Put32(record, ZQVCAM_ANS_STATUS, answer.status);
    Put32(record, ZQVCAM_ANS_HANDLE, answer.handle);
    Put32(record, ZQVCAM_ANS_INFORMATION, static_cast<std::uint32_t>(answer.output.size()));
    std::copy(answer.output.begin(), answer.output.end(), record.begin() + ZQVCAM_ANS_HEAD);
    return record;
}

std::optional<Answer> ReadAnswer(std::span<const std::uint8_t> record) {
    if (record.size() < ZQVCAM_ANS_HEAD || Get32(record, ZQVCAM_ANS_LENGTH) != record.size()) {
        return std::nullopt;
    }
    const std::uint32_t information = Get32(record, ZQVCAM_ANS_INFORMATION);
    if (information != record.size() - ZQVCAM_ANS_HEAD) {
        return std::nullopt;
    }
    Answer answer;
    answer.id = Get32(record, ZQVCAM_ANS_ID);
    answer.status = Get32(record, ZQVCAM_ANS_STATUS);
    answer.handle = Get32(record, ZQVCAM_ANS_HANDLE);
    answer.output.assign(record.begin() + ZQVCAM_ANS_HEAD, record.end());
    return answer;
}

OpenCall OpenCallOf(const Request& open) {
    OpenCall call;
    call.share = open.share;
    if (open.accessGiven) {
        if ((open.access & kGenericBits) != 0) {
            call.access = open.access & kGenericBits;
        } else {
            call.access = ((open.access & kFileReadData) != 0 ? os::kGenericRead : 0) |
                          ((open.access & kFileWriteData) != 0 ? os::kGenericWrite : 0);
        }
        const std::uint32_t disposition = open.options >> 24;
        call.disposition = disposition < kDispositions.size() ? kDispositions[disposition] : 0;
    } else {
        call.access = os::kGenericRead | os::kGenericWrite;
        call.disposition = os::kOpenExisting;
    }
    const std::uint32_t options = open.options & 0x00FFFFFFu;
    if ((options & (kFileSynchronousIoAlert | kFileSynchronousIoNonalert)) == 0) {
        call.flags |= kFlagOverlapped;
    }
    for (const OptionFlag& pair : kOptionFlags) {
        if ((options & pair.option) != 0) {
            call.flags |= pair.flag;
        }
    }
    call.flags |= open.attributes;
    return call;
}

std::optional<Answer> CameraService::Carry(const Request& request) {
    Answer answer;
    answer.id = request.id;
    switch (request.kind) {
        case ZQVCAM_KIND_OPEN: {
            const std::wstring path =
                std::wstring(L"\\\\.\\") + static_cast<wchar_t>(request.letter) + L":";
            // A number already in use means the driver has forgotten that open: its handle is
            // put down before the number gets a new one.
            Abandon(request.handle);
            const OpenCall call = OpenCallOf(request);
            const os::Handle handle = world_.CreateFileW(path.c_str(), call.access, call.share,
                                                         call.disposition, call.flags);
            if (handle == os::InvalidHandle()) {
                answer.status = kStatusNoSuchDevice;
            } else {
                opens_[request.handle] = handle;
                answer.handle =
                    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
            }
            return answer;
        }
        case ZQVCAM_KIND_CONTROL: {
            const auto open = opens_.find(request.handle);
            if (open == opens_.end()) {
                answer.status = kStatusInvalidHandle;
                return answer;
            }
            // The system's buffer holds the input, and zeros up to the output size.
            const auto inSize = static_cast<std::uint32_t>(request.input.size());
            std::vector<std::uint8_t> output(request.outputSize, 0);
            std::copy_n(request.input.begin(), std::min<std::size_t>(inSize, output.size()),
                        output.begin());
            std::uint32_t returned = 0;
            world_.SetCaller64(request.caller64);
            const bool ok = world_.DeviceIoControl(
                open->second, request.code, request.input.empty() ? nullptr : request.input.data(),
                inSize, output.empty() ? nullptr : output.data(), request.outputSize, &returned);
            if (!ok) {
                answer.status = kStatusIoDeviceError;
                return answer;
            }
            output.resize(std::min<std::size_t>(returned, output.size()));
            answer.output = std::move(output);
            return answer;
        }
        case ZQVCAM_KIND_CLOSE:
            Abandon(request.handle);
            return std::nullopt;
        default:
            answer.status = kStatusIoDeviceError;
            return answer;
    }
}

bool CameraService::Abandon(std::uint32_t number) {
    const auto open = opens_.find(number);
    if (open == opens_.end()) {
        return false;
    }
    world_.CloseHandle(open->second);
    opens_.erase(open);
    return true;
}

LetterPlan PlanLetters(const sim::World& world, std::uint32_t reserved) {
    LetterPlan plan;
    for (int i = 0; i < sim::kLetterCount; ++i) {
        const std::uint32_t bit = 1u << i;
        const sim::Drive& drive = world.drive(static_cast<char>('A' + i));
        if (!drive.present || (reserved & bit) != 0) {
            continue;
        }
        plan.present |= bit;
        if (drive.type == os::kDriveRemovable) {
            plan.removable |= bit;
        } else if (drive.type == os::kDriveCdrom) {
            plan.cdrom |= bit;
        }
    }
    return plan;
}

std::uint32_t DriverStatus::LettersWith(std::uint32_t flag) const {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if ((letters[i].flags & flag) != 0) {
            mask |= 1u << i;
        }
    }
    return mask;
}

std::optional<DriverStatus> ReadStatus(std::span<const std::uint8_t> record) {
    if (record.size() < ZQVCAM_STATUS_SIZE ||
        Get32(record, ZQVCAM_ST_LENGTH) != ZQVCAM_STATUS_SIZE) {
        return std::nullopt;
    }
    DriverStatus status;
    status.version = Get32(record, ZQVCAM_ST_VERSION);
    status.attached = Get32(record, ZQVCAM_ST_ATTACHED) != 0;
    status.forwarded = Get32(record, ZQVCAM_ST_FORWARDED);
    status.answered = Get32(record, ZQVCAM_ST_ANSWERED);
    status.timedOut = Get32(record, ZQVCAM_ST_TIMED_OUT);
    status.cancelled = Get32(record, ZQVCAM_ST_CANCELLED);
    status.abandoned = Get32(record, ZQVCAM_ST_ABANDONED);
    status.timeoutMs = Get32(record, ZQVCAM_ST_TIMEOUT_MS);
    status.attaches = Get32(record, ZQVCAM_ST_ATTACHES);
    for (unsigned i = 0; i < status.letters.size(); ++i) {
        const unsigned at = ZQVCAM_ST_LETTERS + i * ZQVCAM_STL_SIZE;
        DriverStatus::Letter& letter = status.letters[i];
        letter.flags = Get32(record, at + ZQVCAM_STL_FLAGS);
        letter.open = Get32(record, at + ZQVCAM_STL_OPEN);
        letter.opened = Get32(record, at + ZQVCAM_STL_OPENED);
        letter.closed = Get32(record, at + ZQVCAM_STL_CLOSED);
    }
    return status;
}

std::string LetterList(std::uint32_t letters) {
    std::string list;
    for (int i = 0; i < sim::kLetterCount; ++i) {
        if ((letters & (1u << i)) != 0) {
            if (!list.empty()) {
                list += ' ';
            }
            list += static_cast<char>('A' + i);
        }
    }
    return list.empty() ? "none" : list;
}

}  // namespace vcam
