// The virtual camera service's core against the simulated camera, natively: the driver's records
// read and written at their offsets, the CreateFileW call recovered from what the system tells a
// driver, each request carried out in the world as the program made it, and the drive letters
// the driver presents and announces.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/letters.h"
#include "sim/world.h"
#include "vcam/camera_service.h"
#include "vcam/protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian 32-bit words, then `tail`: a record as the other side writes it.
Bytes Words(std::initializer_list<std::uint32_t> words, Bytes tail = {}) {
    Bytes bytes;
    for (const std::uint32_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

constexpr std::uint32_t kWineOptions = 0x60;  // FILE_SYNCHRONOUS_IO_NONALERT | non-directory
constexpr std::uint32_t kBothShares = 3;
constexpr std::uint32_t kReadWrite = os::kGenericRead | os::kGenericWrite;

vcam::Request Open(char letter, std::uint32_t number, std::uint32_t share = kBothShares,
                   std::uint32_t options = kWineOptions) {
    vcam::Request request;
    request.id = number;
    request.kind = ZQVCAM_KIND_OPEN;
    request.letter = letter;
    request.handle = number;
    request.share = share;
    request.options = options;
    return request;
}

vcam::Request Control(std::uint32_t id, char letter, std::uint32_t number, std::uint32_t code,
                      Bytes input, std::uint32_t outputSize) {
    vcam::Request request;
    request.id = id;
    request.kind = ZQVCAM_KIND_CONTROL;
    request.letter = letter;
    request.handle = number;
    request.code = code;
    request.input = std::move(input);
    request.outputSize = outputSize;
    return request;
}

vcam::Request Close(std::uint32_t id, char letter, std::uint32_t number) {
    vcam::Request request;
    request.id = id;
    request.kind = ZQVCAM_KIND_CLOSE;
    request.letter = letter;
    request.handle = number;
    return request;
}

// The 44-byte SCSI_PASS_THROUGH head the product sends: target 1, 24 sense bytes at 48, data in
// at 80, a time-out of 2 seconds, then the command block.
Bytes PassThrough(Bytes cdb, std::uint8_t cdbLength, std::uint32_t transfer) {
    Bytes head = Words({0, 0, 0, transfer, 2, 80, 48});
    head[0] = 44;
    head[4] = 1;
    head[6] = cdbLength;
    head[7] = 24;
    head[8] = 1;
    cdb.resize(16, 0);
    head.insert(head.end(), cdb.begin(), cdb.end());
    return head;
}

const Bytes kInquiry = PassThrough({0x12, 0, 0, 0, 36, 0}, 6, 36);

// The same command as a 64-bit process sends it: the 56-byte head, whose DataBufferOffset is
// 8 bytes at 24 (80), its SenseInfoOffset at 32 (56, right after the head), the block at 36,
// then 4 bytes that align the structure to 8.
Bytes PassThrough64(Bytes cdb, std::uint8_t cdbLength, std::uint32_t transfer) {
    Bytes head = Words({0, 0, 0, transfer, 2, 0, 80, 0, 56});
    head[0] = 56;
    head[4] = 1;
    head[6] = cdbLength;
    head[7] = 24;
    head[8] = 1;
    cdb.resize(16, 0);
    head.insert(head.end(), cdb.begin(), cdb.end());
    head.resize(56, 0);
    return head;
}

Bytes VendorGet(std::uint8_t code) {
    return PassThrough({0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, code}, 16, 8);
}

// ---- the records ----

TEST(RequestRecord, EachKindIsReadFromItsOffsets) {
    struct Case {
        const char* what;
        Bytes record;
        vcam::Request expected;
    };
    vcam::Request open = Open('E', 5, kBothShares, 0x01000060);
    open.id = 7;
    open.attributes = 0x80;
    open.access = 0x0012019F;
    open.accessGiven = true;
    vcam::Request control64 = Control(8, 'F', 6, os::kIoctlScsiPassThrough, {1, 2}, 88);
    control64.caller64 = true;
    const Case cases[] = {
        {"an open as Windows gives it",
         Words({40, 7, ZQVCAM_KIND_OPEN, 'E', 5, 3, 0x01000060, 0x80, 0x0012019F,
                ZQVCAM_FLAG_ACCESS_GIVEN}),
         open},
        {"a device control with four input bytes",
         Words({44, 8, ZQVCAM_KIND_CONTROL, 'F', 6, os::kIoctlScsiPassThrough, 4, 88, 0, 0},
               {1, 2, 3, 4}),
         Control(8, 'F', 6, os::kIoctlScsiPassThrough, {1, 2, 3, 4}, 88)},
        {"a device control of a 64-bit process",
         Words({42, 8, ZQVCAM_KIND_CONTROL, 'F', 6, os::kIoctlScsiPassThrough, 2, 88, 0,
                ZQVCAM_FLAG_CALLER64},
               {1, 2}),
         control64},
        {"a close", Words({40, 9, ZQVCAM_KIND_CLOSE, 'Z', 6, 0, 0, 0, 0, 0}), Close(9, 'Z', 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        const std::optional<vcam::Request> read = vcam::ReadRequest(c.record, &error);
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(*read, c.expected);
        EXPECT_EQ(vcam::WriteRequest(c.expected), c.record);
    }
}

TEST(RequestRecord, MalformedRecordsAreRefusedWithTheirReason) {
    struct Case {
        Bytes record;
        std::string reason;
    };
    const Case cases[] = {
        {Bytes(39, 0), "shorter than its head"},
        {Words({44, 1, ZQVCAM_KIND_OPEN, 'E', 1, 3, 0x60, 0, 0, 0}), "length field says 44"},
        {Words({40, 0, ZQVCAM_KIND_OPEN, 'E', 1, 3, 0x60, 0, 0, 0}), "numbered 0"},
        {Words({40, 1, ZQVCAM_KIND_OPEN, '@', 1, 3, 0x60, 0, 0, 0}), "for letter 64"},
        {Words({40, 1, ZQVCAM_KIND_OPEN, '[', 1, 3, 0x60, 0, 0, 0}), "for letter 91"},
        {Words({40, 1, 4, 'E', 1, 0, 0, 0, 0, 0}), "of kind 4"},
        {Words({41, 1, ZQVCAM_KIND_OPEN, 'E', 1, 3, 0x60, 0, 0, 0}, {7}), "an open with 1 bytes"},
        {Words({41, 1, ZQVCAM_KIND_CLOSE, 'E', 1, 0, 0, 0, 0, 0}, {7}), "a close with 1 bytes"},
        {Words({42, 1, ZQVCAM_KIND_CONTROL, 'E', 1, 0x4D004, 3, 88, 0, 0}, {1, 2}),
         "of 3 input bytes that carries 2"},
        {Words({40, 1, ZQVCAM_KIND_CONTROL, 'E', 1, 0x4D004, 0, ZQVCAM_DATA_MAX + 1, 0, 0}),
         "an output of 65537 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        std::string error;
        EXPECT_FALSE(vcam::ReadRequest(c.record, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(AnswerRecord, IsWrittenAtItsOffsetsAndReadBackOnlyWhenWhole) {
    const vcam::Answer answer{9, vcam::kStatusIoDeviceError, 0x1004, {0xAA, 0xBB}};
    const Bytes record = Words({22, 9, 0xC0000185u, 0x1004, 2}, {0xAA, 0xBB});
    EXPECT_EQ(vcam::WriteAnswer(answer), record);
    EXPECT_EQ(vcam::ReadAnswer(record), answer);

    Bytes longer = record;
    longer.push_back(0);
    Bytes wrongCount = record;
    wrongCount[16] = 3;
    for (const Bytes& bad : {longer, wrongCount, Bytes(19, 0)}) {
        EXPECT_FALSE(vcam::ReadAnswer(bad)) << bad.size() << " bytes";
    }
}

TEST(StatusRecord, CountersAndLettersComeFromTheirOffsets) {
    Bytes record(ZQVCAM_STATUS_SIZE, 0);
    const auto put = [&record](unsigned at, std::uint32_t value) {
        zqvcam_put32(record.data(), at, value);
    };
    put(ZQVCAM_ST_LENGTH, ZQVCAM_STATUS_SIZE);
    put(ZQVCAM_ST_VERSION, 1);
    put(ZQVCAM_ST_ATTACHED, 1);
    put(ZQVCAM_ST_FORWARDED, 11);
    put(ZQVCAM_ST_ANSWERED, 10);
    put(ZQVCAM_ST_TIMED_OUT, 2);
    put(ZQVCAM_ST_CANCELLED, 3);
    put(ZQVCAM_ST_ABANDONED, 4);
    put(ZQVCAM_ST_TIMEOUT_MS, 1500);
    put(ZQVCAM_ST_ATTACHES, 5);
    const unsigned e = ZQVCAM_ST_LETTERS + 4 * ZQVCAM_STL_SIZE;
    put(e + ZQVCAM_STL_FLAGS, ZQVCAM_LETTER_PRESENT | ZQVCAM_LETTER_REMOVABLE);
    put(e + ZQVCAM_STL_OPEN, 1);
    put(e + ZQVCAM_STL_OPENED, 6);
    put(e + ZQVCAM_STL_CLOSED, 5);
    put(ZQVCAM_ST_LETTERS + 25 * ZQVCAM_STL_SIZE + ZQVCAM_STL_FLAGS, ZQVCAM_LETTER_PRESENT);

    const std::optional<vcam::DriverStatus> status = vcam::ReadStatus(record);
    ASSERT_TRUE(status);
    EXPECT_EQ((std::vector<std::uint32_t>{status->version, status->attached, status->forwarded,
                                          status->answered, status->timedOut, status->cancelled,
                                          status->abandoned, status->timeoutMs, status->attaches}),
              (std::vector<std::uint32_t>{1, 1, 11, 10, 2, 3, 4, 1500, 5}));
    EXPECT_EQ(status->letter('E'), (vcam::DriverStatus::Letter{3, 1, 6, 5}));
    EXPECT_EQ(status->letter('D'), vcam::DriverStatus::Letter{});
    EXPECT_EQ(status->LettersWith(ZQVCAM_LETTER_PRESENT), (1u << 4) | (1u << 25));
    EXPECT_EQ(status->LettersWith(ZQVCAM_LETTER_REMOVABLE), 1u << 4);

    Bytes wrongLength = record;
    zqvcam_put32(wrongLength.data(), ZQVCAM_ST_LENGTH, ZQVCAM_STATUS_SIZE - 1);
    EXPECT_FALSE(vcam::ReadStatus(wrongLength));
    EXPECT_FALSE(vcam::ReadStatus(Bytes(record.begin(), record.end() - 1)));
}

// ---- the open's CreateFileW call ----

TEST(OpenCall, IsRecoveredFromWhatTheSystemGivesTheDriver) {
    struct Case {
        const char* what;
        std::uint32_t options;
        std::uint32_t attributes;
        std::optional<std::uint32_t> access;  // none: not given (Wine)
        vcam::OpenCall expected;
    };
    constexpr std::uint32_t kOpen = 1u << 24;  // FILE_OPEN in the top byte
    const Case cases[] = {
        {"Wine, as the product opens", kWineOptions, 0, std::nullopt, {kReadWrite, 3, 3, 0}},
        {"Wine, overlapped and write-through",
         0x42,
         0,
         std::nullopt,
         {kReadWrite, 3, 3, 0x40000000u | 0x80000000u}},
        {"Wine, no buffering, random, sequential, delete on close, backup",
         0x20 | 0x8 | 0x800 | 0x4 | 0x1000 | 0x4000,
         0,
         std::nullopt,
         {kReadWrite, 3, 3, 0x20000000u | 0x10000000u | 0x08000000u | 0x04000000u | 0x02000000u}},
        {"Wine, reparse point and no recall",
         0x20 | 0x200000 | 0x400000,
         0,
         std::nullopt,
         {kReadWrite, 3, 3, 0x00200000u | 0x00100000u}},
        {"an alertable synchronous open is not overlapped",
         0x10,
         0,
         std::nullopt,
         {kReadWrite, 3, 3, 0}},
        {"the attributes join the flags",
         kWineOptions,
         0x80,
         std::nullopt,
         {kReadWrite, 3, 3, 0x80}},
        {"Windows, read and write rights",
         kOpen | kWineOptions,
         0,
         0x0012019Fu,
         {kReadWrite, 3, 3, 0}},
        {"Windows, read rights", kOpen | kWineOptions, 0, 0x00120089u, {os::kGenericRead, 3, 3, 0}},
        {"Windows, write rights",
         kOpen | kWineOptions,
         0,
         0x00120116u,
         {os::kGenericWrite, 3, 3, 0}},
        {"Windows, attributes only", kOpen | kWineOptions, 0, 0x00100080u, {0, 3, 3, 0}},
        {"Windows, generic rights as such",
         kOpen | kWineOptions,
         0,
         0x80000000u,
         {os::kGenericRead, 3, 3, 0}},
        {"Windows, FILE_CREATE", (2u << 24) | kWineOptions, 0, 0x0012019Fu, {kReadWrite, 3, 1, 0}},
        {"Windows, FILE_OPEN_IF", (3u << 24) | kWineOptions, 0, 0x0012019Fu, {kReadWrite, 3, 4, 0}},
        {"Windows, FILE_OVERWRITE",
         (4u << 24) | kWineOptions,
         0,
         0x0012019Fu,
         {kReadWrite, 3, 5, 0}},
        {"Windows, FILE_OVERWRITE_IF",
         (5u << 24) | kWineOptions,
         0,
         0x0012019Fu,
         {kReadWrite, 3, 2, 0}},
        {"Windows, FILE_SUPERSEDE has no CreateFileW disposition",
         kWineOptions,
         0,
         0x0012019Fu,
         {kReadWrite, 3, 0, 0}},
        {"Windows, an unknown disposition",
         (9u << 24) | kWineOptions,
         0,
         0x0012019Fu,
         {kReadWrite, 3, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vcam::Request open = Open('E', 1, kBothShares, c.options);
        open.attributes = c.attributes;
        open.accessGiven = c.access.has_value();
        open.access = c.access.value_or(0);
        EXPECT_EQ(vcam::OpenCallOf(open), c.expected);
    }
    vcam::Request unshared = Open('E', 1, 1);
    EXPECT_EQ(vcam::OpenCallOf(unshared).share, 1u);
}

// ---- carrying requests out ----

class Carrying : public ::testing::Test {
  protected:
    Carrying() {
        world_.AddDisk('D');
        world_.PlugCamera('E').state = 3;
        world_.AddDrive('F', os::kDriveRemovable).descriptor =
            sim::DescriptorWithVendor("KMZ     ");
    }

    vcam::Answer Carry(const vcam::Request& request) {
        const std::optional<vcam::Answer> answer = service_.Carry(request);
        if (!answer) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        EXPECT_EQ(answer->id, request.id);
        return *answer;
    }

    sim::World world_;
    vcam::CameraService service_{world_};
};

TEST_F(Carrying, OpensReachTheWorldAsTheProgramMadeThem) {
    struct Case {
        const char* what;
        vcam::Request request;
        bool opens;
    };
    vcam::Request openIf = Open('E', 6, kBothShares, (3u << 24) | kWineOptions);
    openIf.accessGiven = true;
    openIf.access = 0x0012019F;
    vcam::Request readOnly = Open('F', 7, kBothShares, (1u << 24) | kWineOptions);
    readOnly.accessGiven = true;
    readOnly.access = 0x00120089;
    const Case cases[] = {
        {"the camera", Open('E', 1), true},
        {"a disk", Open('D', 2), true},
        {"a letter the world does not have", Open('G', 3), false},
        {"the camera without shared writing", Open('E', 4, 1), false},
        {"the camera overlapped", Open('E', 5, kBothShares, 0x40), true},
        {"the camera with OPEN_ALWAYS", openIf, false},
        {"a volume for reading only", readOnly, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        world_.ClearTrace();
        const vcam::Answer answer = Carry(c.request);
        EXPECT_EQ(answer.status, c.opens ? vcam::kStatusSuccess : vcam::kStatusNoSuchDevice);
        EXPECT_TRUE(answer.output.empty());
        const std::vector<sim::Event> opens = world_.Calls(sim::Call::kCreateFile);
        ASSERT_EQ(opens.size(), 1u);
        const vcam::OpenCall call = vcam::OpenCallOf(c.request);
        EXPECT_EQ(opens[0].path,
                  std::wstring(L"\\\\.\\") + static_cast<wchar_t>(c.request.letter) + L":");
        EXPECT_EQ(
            (std::vector<std::uint32_t>{opens[0].access, opens[0].share, opens[0].disposition,
                                        opens[0].flags}),
            (std::vector<std::uint32_t>{call.access, call.share, call.disposition, call.flags}));
        EXPECT_EQ(opens[0].result, c.opens);
        if (c.opens) {
            EXPECT_EQ(answer.handle, static_cast<std::uint32_t>(
                                         reinterpret_cast<std::uintptr_t>(opens[0].handle)));
        }
    }
    EXPECT_EQ(service_.OpenCount(), 4u);
    EXPECT_EQ(world_.OpenHandleCount(), 4u);
}

TEST_F(Carrying, ADeviceControlGetsTheProgramsInputAndOutputSize) {
    Carry(Open('E', 1));
    Carry(Open('F', 2));
    struct Case {
        const char* what;
        vcam::Request request;
        std::size_t returned;
        std::vector<std::pair<std::size_t, std::uint8_t>> bytes;  // offset, value
    };
    Bytes longInput = kInquiry;
    longInput.resize(88, 0xEE);  // bytes past the head come back where the device writes nothing
    const Case cases[] = {
        {"the INQUIRY: the camera's mark at byte 3 of the data",
         Control(10, 'E', 1, os::kIoctlScsiPassThrough, kInquiry, 116),
         116,
         {{0, 44}, {2, 0}, {12, 36}, {83, 1}}},
        {"the state command: the state in data byte 0",
         Control(11, 'E', 1, os::kIoctlScsiPassThrough, VendorGet(14), 88),
         88,
         {{80, 3}, {44, 0}}},
        {"an input longer than the head",
         Control(12, 'E', 1, os::kIoctlScsiPassThrough, longInput, 116),
         116,
         {{44, 0xEE}, {47, 0xEE}, {83, 1}}},
        {"the storage query of a volume",
         Control(13, 'F', 2, os::kIoctlStorageQueryProperty, Bytes(12, 0), 551),
         64,
         {{0, 40}, {12, 40}, {40, 'K'}, {42, 'Z'}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        world_.ClearTrace();
        const vcam::Answer answer = Carry(c.request);
        EXPECT_EQ(answer.status, vcam::kStatusSuccess);
        ASSERT_EQ(answer.output.size(), c.returned);
        for (const auto& [offset, value] : c.bytes) {
            EXPECT_EQ(answer.output[offset], value) << "byte " << offset;
        }
        const std::vector<sim::Event> calls = world_.Calls(sim::Call::kDeviceIoControl);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].inSize, c.request.input.size());
        EXPECT_EQ(calls[0].outSize, c.request.outputSize);
        EXPECT_EQ(calls[0].bytesReturned, c.returned);
        EXPECT_EQ(calls[0].letter, c.request.letter);
    }
}

// A 64-bit driver tells a 64-bit caller's device control, whose head is the 64-bit form; the
// world takes each head in its caller's form and refuses the other.
TEST_F(Carrying, EachPassThroughIsTakenInItsCallersForm) {
    Carry(Open('E', 1));
    const Bytes get14 = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 14};
    struct Case {
        const char* what;
        bool caller64;
        Bytes input;
        bool answered;
    };
    const Case cases[] = {
        {"a 32-bit process's head", false, PassThrough(get14, 16, 8), true},
        {"a 64-bit process's head", true, PassThrough64(get14, 16, 8), true},
        {"a 32-bit head from a 64-bit process", true, PassThrough(get14, 16, 8), false},
        {"a 64-bit head from a 32-bit process", false, PassThrough64(get14, 16, 8), false},
    };
    std::uint32_t id = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        world_.ClearTrace();
        vcam::Request request = Control(++id, 'E', 1, os::kIoctlScsiPassThrough, c.input, 88);
        request.caller64 = c.caller64;
        const vcam::Answer answer = Carry(request);
        if (!c.answered) {
            EXPECT_EQ(answer.status, vcam::kStatusIoDeviceError);
            EXPECT_TRUE(world_.VendorCodes().empty());
            continue;
        }
        EXPECT_EQ(answer.status, vcam::kStatusSuccess);
        ASSERT_EQ(answer.output.size(), 88u);
        EXPECT_EQ(answer.output[0], c.input[0]);  // the head comes back, Length and all
        EXPECT_EQ(answer.output[12], 8);          // data bytes delivered
        EXPECT_EQ(answer.output[80], 3);          // the camera's state
        EXPECT_EQ(world_.VendorCodes(), (std::vector<int>{14}));
    }
}

TEST_F(Carrying, FailuresAnswerAnErrorAndNoBytes) {
    Carry(Open('E', 1));
    world_.InjectVendorFault(26, sim::Fault::CallFails());
    struct Case {
        const char* what;
        vcam::Request request;
        std::uint32_t status;
        bool reachesTheWorld;
    };
    const Case cases[] = {
        {"a command the camera's link fails",
         Control(2, 'E', 1, os::kIoctlScsiPassThrough, VendorGet(26), 88),
         vcam::kStatusIoDeviceError, true},
        {"a control code the device does not know", Control(3, 'E', 1, 0x00070000, {}, 24),
         vcam::kStatusIoDeviceError, true},
        {"a head too short for a pass-through",
         Control(4, 'E', 1, os::kIoctlScsiPassThrough, Bytes(20, 0), 88),
         vcam::kStatusIoDeviceError, true},
        {"an open the world refused", Control(5, 'G', 9, os::kIoctlScsiPassThrough, kInquiry, 116),
         vcam::kStatusInvalidHandle, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        world_.ClearTrace();
        const vcam::Answer answer = Carry(c.request);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_TRUE(answer.output.empty());
        EXPECT_EQ(world_.Calls(sim::Call::kDeviceIoControl).size(), c.reachesTheWorld ? 1u : 0u);
    }
}

TEST_F(Carrying, AClosePutsTheWorldsHandleDownOnce) {
    Carry(Open('E', 1));
    Carry(Open('G', 2));  // refused
    EXPECT_FALSE(service_.Carry(Close(3, 'E', 1)));
    EXPECT_FALSE(service_.Carry(Close(4, 'E', 1)));  // the number is gone
    EXPECT_FALSE(service_.Carry(Close(5, 'G', 2)));
    EXPECT_EQ(world_.OpenHandleCount(), 0u);
    EXPECT_EQ(world_.TotalClosed(), 1u);
    EXPECT_EQ(world_.BadCloses(), 0u);
    EXPECT_EQ(world_.Calls(sim::Call::kCloseHandle).size(), 1u);
    EXPECT_EQ(service_.OpenCount(), 0u);

    // An open number used again: the open the driver forgot is put down first.
    Carry(Open('E', 7));
    Carry(Open('D', 7));
    EXPECT_EQ(service_.OpenCount(), 1u);
    EXPECT_EQ(world_.OpenHandleCount(), 1u);
    EXPECT_FALSE(service_.Carry(Close(8, 'D', 7)));
    EXPECT_EQ(world_.OpenHandleCount(), 0u);
    EXPECT_EQ(world_.TotalClosed(), 3u);

    // An open whose program never got its handle is put down by the service itself.
    Carry(Open('D', 6));
    EXPECT_TRUE(service_.Abandon(6));
    EXPECT_FALSE(service_.Abandon(6));
    EXPECT_EQ(world_.OpenHandleCount(), 0u);
    EXPECT_EQ(world_.TotalClosed(), 4u);
}

// ---- the letters ----

TEST(Letters, ThePlanHasTheWorldsLettersButTheComputersOwn) {
    constexpr auto bit = [](char letter) { return 1u << (letter - 'A'); };
    struct Case {
        const char* what;
        std::uint32_t reserved;
        vcam::LetterPlan expected;
    };
    sim::World world;
    world.AddDrive('C', os::kDriveFixed);
    world.AddDisk('D', 2, os::kDriveCdrom);
    world.PlugCamera('E');
    world.AddDrive('G', os::kDriveRemovable);
    world.AddDrive('R', os::kDriveRemote);
    const Case cases[] = {
        {"nothing reserved",
         0,
         {bit('C') | bit('D') | bit('E') | bit('G') | bit('R'), bit('E') | bit('G'), bit('D')}},
        {"C and Z reserved",
         bit('C') | bit('Z'),
         {bit('D') | bit('E') | bit('G') | bit('R'), bit('E') | bit('G'), bit('D')}},
        {"the camera's letter reserved",
         bit('E'),
         {bit('C') | bit('D') | bit('G') | bit('R'), bit('G'), bit('D')}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vcam::PlanLetters(world, c.reserved), c.expected);
    }
    world.RemoveDrive('G');
    EXPECT_EQ(vcam::PlanLetters(world, 0).removable, bit('E'));
}

TEST(Letters, EventsTellRemovalsFirstThenArrivals) {
    constexpr auto bit = [](char letter) { return 1u << (letter - 'A'); };
    struct Case {
        std::uint32_t before;
        std::uint32_t after;
        std::vector<sim::LetterEvent> events;
    };
    const Case cases[] = {
        {0, 0, {}},
        {bit('E'), bit('E'), {}},
        {0, bit('E'), {{true, 'E'}}},
        {bit('E'), 0, {{false, 'E'}}},
        {bit('E'), bit('F'), {{false, 'E'}, {true, 'F'}}},
        {bit('G') | bit('E'),
         bit('A') | bit('Z'),
         {{false, 'E'}, {false, 'G'}, {true, 'A'}, {true, 'Z'}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim::LetterEvents(c.before, c.after), c.events)
            << vcam::LetterList(c.before) << " -> " << vcam::LetterList(c.after);
    }
    sim::World world;
    world.AddDisk('D');
    world.PlugCamera('E');
    EXPECT_EQ(sim::PresentLetters(world), bit('D') | bit('E'));
    EXPECT_EQ(vcam::LetterList(bit('C') | bit('Z')), "C Z");
    EXPECT_EQ(vcam::LetterList(0), "none");
}

// A camera released on its own letter keeps the letter; its volume is announced as an arrival
// there, as Windows announces a medium that comes into a drive. Nothing else is announced twice.
TEST(Letters, AVolumeThatComesOnALetterThatStayedIsAnArrival) {
    constexpr auto bit = [](char letter) { return 1u << (letter - 'A'); };
    struct Case {
        const char* what;
        sim::LetterState before;
        sim::LetterState after;
        std::vector<sim::LetterEvent> events;
    };
    const Case cases[] = {
        {"released in place", {bit('E'), 0}, {bit('E'), bit('E')}, {{true, 'E'}}},
        {"already in storage", {bit('E'), bit('E')}, {bit('E'), bit('E')}, {}},
        {"moved to F", {bit('E'), 0}, {bit('F'), bit('F')}, {{false, 'E'}, {true, 'F'}}},
        {"back in command mode", {bit('E'), bit('E')}, {bit('E'), 0}, {}},
        {"plugged in already released", {0, 0}, {bit('E'), bit('E')}, {{true, 'E'}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim::VolumeEvents(c.before, c.after), c.events) << c.what;
    }
    sim::World world;
    world.AddDisk('D');
    world.PlugCamera('E');
    EXPECT_EQ(sim::LettersOf(world), (sim::LetterState{bit('D') | bit('E'), 0}));
    world.camera().mode = sim::CameraMode::kStorage;
    EXPECT_EQ(sim::LettersOf(world), (sim::LetterState{bit('D') | bit('E'), bit('E')}));
}

}  // namespace
