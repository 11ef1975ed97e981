// The camera command set against the simulated camera: the blocks each operation sends, how the
// answers become results, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "os/os.h"
#include "tests/support/clock_bytes.h"
#include "tests/support/sim_test.h"

namespace {

using zqtest::Hex;
using zqtest::kVendorHead;

class CameraTest : public zqtest::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        world.PlugCamera('E');
        std::int32_t err = 0;
        ASSERT_TRUE(FindCamera(err));
        world.ClearTrace();
    }

    // The CDBs of the vendor commands sent since the trace was cleared, in hex.
    std::vector<std::string> SentBlocks() const {
        std::vector<std::string> blocks;
        for (const sim::Event& request : world.PassThroughRequests()) {
            blocks.push_back(Hex(request.cdb));
        }
        return blocks;
    }

    sim::Camera& camera() { return world.camera(); }
};

// ---- the blocks on the wire ----

struct WireCase {
    const char* name;
    std::function<bool(std::int32_t&)> run;
    std::vector<std::string> blocks;
};

void PrintTo(const WireCase& row, std::ostream* out) {
    *out << row.name;
}

const WireCase kWireCases[] = {
    {"GetCameraState",
     [](std::int32_t& err) {
         std::int32_t v = 0;
         return GetCameraState(v, err);
     },
     {"FA 55 66 FE 60 00 00 0E 00 00 00 00 00 00 00 00"}},
    {"GetLoopRecording",
     [](std::int32_t& err) {
         std::int32_t v = 0;
         return GetLoopRecording(v, err);
     },
     {"FA 55 66 FE 60 00 00 02 00 00 00 00 00 00 00 00"}},
    {"GetResolution",
     [](std::int32_t& err) {
         std::int32_t v = 0;
         return GetResolution(v, err);
     },
     {"FA 55 66 FE 60 00 00 01 00 00 00 00 00 00 00 00"}},
    {"GetTimestampDisplay",
     [](std::int32_t& err) {
         std::int32_t v = 0;
         return GetTimestampDisplay(v, err);
     },
     {"FA 55 66 FE 60 00 00 0B 00 00 00 00 00 00 00 00"}},
    {"SetLoopRecording1",
     [](std::int32_t& err) { return SetLoopRecording(1, err); },
     {"FA 55 66 FE 06 00 00 02 01 00 00 00 00 00 00 00"}},
    {"SetLoopRecording0",
     [](std::int32_t& err) { return SetLoopRecording(0, err); },
     {"FA 55 66 FE 06 00 00 02 00 00 00 00 00 00 00 00"}},
    {"SetResolution1",
     [](std::int32_t& err) { return SetResolution(1, err); },
     {"FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00"}},
    {"SetTimestampDisplay1",
     [](std::int32_t& err) { return SetTimestampDisplay(1, err); },
     {"FA 55 66 FE 06 00 00 0B 01 00 00 00 00 00 00 00"}},
    // 2024-03-05 14:07:09
    {"SetCameraDateTime",
     [](std::int32_t& err) {
         return SetCameraDateTime({24, 3, 5, 14, 7, 9}, err);
     },
     {"FA 55 66 FE 06 00 00 04 18 03 05 00 00 00 00 00",
      "FA 55 66 FE 06 00 00 03 0E 07 09 00 00 00 00 00"}},
    {"GetFirmwareVersion",
     [](std::int32_t& err) {
         char text[kFirmwareTextSize];
         return GetFirmwareVersion(text, err);
     },
     {"FA 55 66 FE 60 00 00 1A 00 00 00 00 00 00 00 00",
      "FA 55 66 FE 60 00 00 1B 00 00 00 00 00 00 00 00",
      "FA 55 66 FE 60 00 00 1C 00 00 00 00 00 00 00 00"}},
    // The release uses the get form.
    {"ReleaseCamera",
     [](std::int32_t& err) { return ReleaseCamera(err); },
     {"FA 55 66 FE 60 00 00 0F 00 00 00 00 00 00 00 00"}},
};

class CameraWireTest : public CameraTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(CameraWireTest, EachOperationSendsItsBlocks) {
    const WireCase& c = GetParam();
    std::int32_t err = 0;

    EXPECT_TRUE(c.run(err));

    EXPECT_EQ(SentBlocks(), c.blocks);
    for (const sim::Event& request : world.PassThroughRequests()) {
        EXPECT_EQ(Hex(request.head.data(), 28), kVendorHead);
        EXPECT_EQ(request.inSize, 44u);
        EXPECT_EQ(request.outSize, 88u);
        EXPECT_EQ(request.scsiStatus, 0) << "the camera refused " << Hex(request.cdb);
    }
    EXPECT_EQ(err, 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, CameraWireTest, ::testing::ValuesIn(kWireCases),
                         zqtest::ByName());

// ---- reads ----

struct Setting {
    const char* name;
    bool (*get)(std::int32_t&, std::int32_t&);
    bool (*set)(std::int32_t, std::int32_t&);
    std::uint8_t sim::Camera::*field;
    std::uint8_t code;
};

const Setting kSettings[] = {
    {"loop recording", GetLoopRecording, SetLoopRecording, &sim::Camera::loopRecording, 2},
    {"resolution", GetResolution, SetResolution, &sim::Camera::resolution, 1},
    {"time-stamp display", GetTimestampDisplay, SetTimestampDisplay, &sim::Camera::timestampDisplay,
     11},
    {"camera state", GetCameraState, nullptr, &sim::Camera::state, 14},
};

TEST_F(CameraTest, ReadsWidenTheAnswerByteAsUnsigned) {
    for (const Setting& s : kSettings) {
        for (const int byte : {0x00, 0x01, 0x07, 0x80, 0xFF}) {
            SCOPED_TRACE(std::string(s.name) + " " + std::to_string(byte));
            camera().*s.field = static_cast<std::uint8_t>(byte);
            std::int32_t value = -12345;
            std::int32_t err = 0;

            EXPECT_TRUE(s.get(value, err));

            EXPECT_EQ(value, byte);
            EXPECT_EQ(err, 0);
        }
    }
}

TEST_F(CameraTest, ReadThatFailsLeavesItsOutputAndTheErrorCode) {
    for (const Setting& s : kSettings) {
        SCOPED_TRACE(s.name);
        camera().*s.field = 1;
        world.InjectVendorFault(s.code, sim::Fault::CallFails());
        std::int32_t value = -12345;
        std::int32_t err = 77;

        EXPECT_FALSE(s.get(value, err));

        EXPECT_EQ(value, -12345);
        EXPECT_EQ(err, 77);
    }
}

TEST_F(CameraTest, ReadEndedByACheckConditionStillSucceeds) {
    camera().state = 3;
    world.InjectVendorFault(14, sim::Fault::CheckCondition(0));
    std::int32_t state = -1;
    std::int32_t err = 0;

    EXPECT_TRUE(GetCameraState(state, err));

    EXPECT_EQ(state, 0);
}

// ---- writes ----

TEST_F(CameraTest, WritesSendTheLowByteOfTheValue) {
    struct Case {
        std::int32_t value;
        std::uint8_t byte8;
    };
    const Case cases[] = {{0, 0x00},  {1, 0x01},      {257, 0x01},
                          {-1, 0xFF}, {0x1234, 0x34}, {255, 0xFF}};
    for (const Setting& s : kSettings) {
        if (s.set == nullptr) {
            continue;
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(s.name) + " " + std::to_string(c.value));
            world.ClearTrace();
            camera().*s.field = 0x5A;
            std::int32_t err = 0;

            EXPECT_TRUE(s.set(c.value, err));

            const auto requests = world.PassThroughRequests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].cdb[7], s.code);
            EXPECT_EQ(requests[0].cdb[8], c.byte8);
            EXPECT_EQ(Hex(requests[0].cdb.data() + 9, 7), "00 00 00 00 00 00 00");
            EXPECT_EQ(camera().*s.field, c.byte8);
        }
    }
}

TEST_F(CameraTest, WriteThatFailsReturnsFalseAndLeavesTheErrorCode) {
    for (const Setting& s : kSettings) {
        if (s.set == nullptr) {
            continue;
        }
        SCOPED_TRACE(s.name);
        camera().*s.field = 0;
        world.InjectVendorFault(s.code, sim::Fault::CallFails());
        std::int32_t err = 77;

        EXPECT_FALSE(s.set(1, err));

        EXPECT_EQ(err, 77);
        EXPECT_EQ(camera().*s.field, 0);
    }
}

// ---- the clock ----

TEST_F(CameraTest, SetCameraDateTimeSendsTheDateThenTheTime) {
    std::int32_t err = 0;

    const zqtest::ClockRow& row = zqtest::kClock;

    EXPECT_TRUE(SetCameraDateTime(
        {row.date[0], row.date[1], row.date[2], row.time[0], row.time[1], row.time[2]}, err));

    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{zqtest::kSetDateCode, zqtest::kSetTimeCode}));
    EXPECT_TRUE(camera().dateReceived);
    EXPECT_EQ(camera().date, row.date);
    EXPECT_TRUE(camera().timeReceived);
    EXPECT_EQ(camera().time, row.time);
}

struct DateTimeFailure {
    const char* name;
    std::uint8_t failing;
    std::vector<int> sent;
    bool dateReceived;
};

void PrintTo(const DateTimeFailure& row, std::ostream* out) {
    *out << row.name;
}

class DateTimeFailureTest : public CameraTest,
                            public ::testing::WithParamInterface<DateTimeFailure> {};

TEST_P(DateTimeFailureTest, SetCameraDateTimeStopsAtTheFirstFailure) {
    const DateTimeFailure& c = GetParam();
    world.InjectVendorFault(c.failing, sim::Fault::CallFails());
    std::int32_t err = 77;

    EXPECT_FALSE(SetCameraDateTime({24, 3, 5, 14, 7, 9}, err));

    EXPECT_EQ(world.VendorCodes(), c.sent);
    EXPECT_EQ(camera().dateReceived, c.dateReceived);
    EXPECT_FALSE(camera().timeReceived);
    EXPECT_EQ(err, 77);
}

INSTANTIATE_TEST_SUITE_P(Commands, DateTimeFailureTest,
                         ::testing::Values(DateTimeFailure{"DateFails", 4, {4}, false},
                                           DateTimeFailure{"TimeFails", 3, {4, 3}, true}),
                         zqtest::ByName());

TEST_F(CameraTest, SetCameraDateTimeSendsTheBytesWithoutRangeChecks) {
    std::int32_t err = 0;

    EXPECT_TRUE(SetCameraDateTime({255, 0, 99, 24, 60, 255}, err));

    EXPECT_EQ(Hex(camera().date), "FF 00 63");
    EXPECT_EQ(Hex(camera().time), "18 3C FF");
}

// ---- release ----

struct ReleaseOutcome {
    const char* name;
    std::optional<sim::Fault> fault;
    bool released;
};

void PrintTo(const ReleaseOutcome& row, std::ostream* out) {
    *out << row.name;
}

class ReleaseTest : public CameraTest, public ::testing::WithParamInterface<ReleaseOutcome> {};

TEST_P(ReleaseTest, ReleaseSendsCommand15ThenClosesTheHandleWhateverItsOutcome) {
    const ReleaseOutcome& c = GetParam();
    if (c.fault) {
        world.InjectVendorFault(15, *c.fault);
    }
    const os::Handle held = g_hCamera;
    std::int32_t err = 77;

    EXPECT_TRUE(ReleaseCamera(err));

    EXPECT_EQ(g_hCamera, nullptr);
    EXPECT_EQ(world.OpenHandleCount(), 0u);
    EXPECT_EQ(world.BadCloses(), 0u);
    ASSERT_EQ(world.events().size(), 2u);
    EXPECT_EQ(world.events()[0].VendorCode(), 15);
    EXPECT_EQ(world.events()[1].call, sim::Call::kCloseHandle);
    EXPECT_EQ(world.events()[1].handle, held);
    EXPECT_EQ(err, 77);
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\E:");
    EXPECT_EQ(camera().mode == sim::CameraMode::kStorage, c.released);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ReleaseTest,
    ::testing::Values(ReleaseOutcome{"CommandSucceeds", std::nullopt, true},
                      ReleaseOutcome{"CallFails", sim::Fault::CallFails(), false},
                      ReleaseOutcome{"CheckCondition", sim::Fault::CheckCondition(0), false}),
    zqtest::ByName());

// ---- firmware version ----

std::string TextOf(const char* text) {
    return std::string(text, kFirmwareTextSize);
}

// The whole 50-byte buffer: `content` followed by zeros.
std::string Buffer(const std::string& content) {
    return content + std::string(kFirmwareTextSize - content.size(), '\0');
}

const std::string kPrefix = "Firmware Version:   ";

TEST_F(CameraTest, FirmwareTextJoinsThePiecesAfterThePrefix) {
    using Piece = sim::FirmwarePiece;
    struct Case {
        const char* name;
        Piece first, second, third;
        std::string joined;
    };
    const std::vector<Case> cases = {
        {"short pieces", sim::MakeFirmwarePiece("AB"), sim::MakeFirmwarePiece("CD"),
         sim::MakeFirmwarePiece("EFGHIJKL"), "ABCDEFGHIJKL"},
        {"three full pieces", sim::MakeFirmwarePiece("12345678"),
         sim::MakeFirmwarePiece("ABCDEFGH"), sim::MakeFirmwarePiece("abcdefgh"),
         "12345678ABCDEFGHabcdefgh"},
        {"first byte zero", Piece{0, 'X', 'Y', 'Z', 0, 0, 0, 0}, sim::MakeFirmwarePiece("CD"),
         sim::MakeFirmwarePiece("EF"), "CDEF"},
        {"zero in the middle", Piece{'A', 'B', 0, 'C', 'D', 0, 0, 0}, sim::MakeFirmwarePiece("12"),
         Piece{'x', 0, 'y', 'y', 'y', 'y', 'y', 'y'}, "AB12x"},
        {"all empty", Piece{}, Piece{}, Piece{}, ""},
        {"bytes kept as sent", Piece{0x01, 0xFF, 0x7F, 0x80, 0x20, 0, 0, 0}, Piece{}, Piece{},
         "\x01\xFF\x7F\x80 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        camera().firmware = {c.first, c.second, c.third};
        char text[kFirmwareTextSize];
        std::memset(text, 0xCC, sizeof text);
        std::int32_t err = 0;

        EXPECT_TRUE(GetFirmwareVersion(text, err));

        EXPECT_EQ(TextOf(text), Buffer(kPrefix + c.joined));
        EXPECT_EQ(err, 0);
    }
}

TEST_F(CameraTest, FirmwareTextOfThreeShortPiecesIs32Characters) {
    camera().firmware = {sim::MakeFirmwarePiece("AB"), sim::MakeFirmwarePiece("CD"),
                         sim::MakeFirmwarePiece("EFGHIJKL")};
    std::int32_t err = 0;

    ASSERT_TRUE(GetFirmwareVersion(g_szFirmware, err));

    EXPECT_EQ(std::strlen(g_szFirmware), 32u);
    EXPECT_STREQ(g_szFirmware, "Firmware Version:   ABCDEFGHIJKL");
}

struct FirmwareFailure {
    const char* name;
    std::function<void(sim::World&)> fail;
    std::string text;
    std::vector<int> sent;
};

void PrintTo(const FirmwareFailure& row, std::ostream* out) {
    *out << row.name;
}

class FirmwareFailureTest : public CameraTest,
                            public ::testing::WithParamInterface<FirmwareFailure> {};

TEST_P(FirmwareFailureTest, FirmwareFailureKeepsWhatWasReadAndSetsIoError) {
    const FirmwareFailure& c = GetParam();
    camera().firmware = {sim::MakeFirmwarePiece("AB"), sim::MakeFirmwarePiece("CD"),
                         sim::MakeFirmwarePiece("EFGHIJKL")};
    c.fail(world);
    char text[kFirmwareTextSize];
    std::memset(text, 0xCC, sizeof text);
    std::int32_t err = 0;

    EXPECT_FALSE(GetFirmwareVersion(text, err));

    EXPECT_EQ(err, LINK_ERR_IO);
    EXPECT_EQ(TextOf(text), Buffer(c.text));
    EXPECT_EQ(world.VendorCodes(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, FirmwareFailureTest,
    ::testing::Values(
        FirmwareFailure{"Piece26Fails",
                        [](sim::World& w) { w.InjectVendorFault(26, sim::Fault::CallFails()); },
                        kPrefix,
                        {26}},
        FirmwareFailure{"Piece27Fails",
                        [](sim::World& w) { w.InjectVendorFault(27, sim::Fault::CallFails()); },
                        kPrefix + "AB",
                        {26, 27}},
        FirmwareFailure{"Piece28Fails",
                        [](sim::World& w) { w.InjectVendorFault(28, sim::Fault::CallFails()); },
                        kPrefix + "ABCD",
                        {26, 27, 28}},
        FirmwareFailure{"CameraGoneAfter26",
                        [](sim::World& w) {
                            w.SetObserver([&w](const sim::Event& e) {
                                if (e.VendorCode() == 26) {
                                    w.UnplugCamera('E');
                                }
                            });
                        },
                        kPrefix + "AB",
                        {26, 27}}),
    zqtest::ByName());

TEST_F(CameraTest, FirmwarePieceCutShortContributesOnlyWhatArrived) {
    camera().firmware = {sim::MakeFirmwarePiece("ABCDEFGH"), sim::MakeFirmwarePiece("12345678"),
                         sim::MakeFirmwarePiece("abcdefgh")};
    world.InjectVendorFault(27, sim::Fault::ShortAnswer(3));
    char text[kFirmwareTextSize];
    std::int32_t err = 0;

    EXPECT_TRUE(GetFirmwareVersion(text, err));

    EXPECT_EQ(TextOf(text), Buffer(kPrefix + "ABCDEFGH123abcdefgh"));
}

TEST_F(CameraTest, ShorterFirmwareTextLeavesNothingOfTheLongerOneBehind) {
    camera().firmware = {sim::MakeFirmwarePiece("12345678"), sim::MakeFirmwarePiece("ABCDEFGH"),
                         sim::MakeFirmwarePiece("abcdefgh")};
    std::int32_t err = 0;
    ASSERT_TRUE(GetFirmwareVersion(g_szFirmware, err));
    camera().firmware = {sim::MakeFirmwarePiece("V2"), sim::FirmwarePiece{}, sim::FirmwarePiece{}};

    ASSERT_TRUE(GetFirmwareVersion(g_szFirmware, err));

    EXPECT_EQ(TextOf(g_szFirmware), Buffer(kPrefix + "V2"));
}

// ---- no camera open ----

TEST_F(CameraTest, EveryOperationWithNoCameraOpenSendsNothingAndSetsNotOpen) {
    std::int32_t closeErr = 0;
    ASSERT_TRUE(CloseCamera(closeErr));

    struct Case {
        const char* name;
        std::function<bool(std::int32_t& value, char* text, std::int32_t& err)> run;
    };
    const std::vector<Case> cases = {
        {"GetCameraState",
         [](std::int32_t& v, char*, std::int32_t& e) { return GetCameraState(v, e); }},
        {"GetFirmwareVersion",
         [](std::int32_t&, char* t, std::int32_t& e) {
             return GetFirmwareVersion(std::span<char, kFirmwareTextSize>(t, kFirmwareTextSize), e);
         }},
        {"GetLoopRecording",
         [](std::int32_t& v, char*, std::int32_t& e) { return GetLoopRecording(v, e); }},
        {"SetLoopRecording",
         [](std::int32_t&, char*, std::int32_t& e) { return SetLoopRecording(1, e); }},
        {"GetResolution",
         [](std::int32_t& v, char*, std::int32_t& e) { return GetResolution(v, e); }},
        {"SetResolution",
         [](std::int32_t&, char*, std::int32_t& e) { return SetResolution(1, e); }},
        {"GetTimestampDisplay",
         [](std::int32_t& v, char*, std::int32_t& e) { return GetTimestampDisplay(v, e); }},
        {"SetTimestampDisplay",
         [](std::int32_t&, char*, std::int32_t& e) { return SetTimestampDisplay(1, e); }},
        {"SetCameraDateTime",
         [](std::int32_t&, char*, std::int32_t& e) {
             return SetCameraDateTime({24, 3, 5, 14, 7, 9}, e);
         }},
        {"ReleaseCamera", [](std::int32_t&, char*, std::int32_t& e) { return ReleaseCamera(e); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.ClearTrace();
        std::int32_t value = -12345;
        char text[kFirmwareTextSize];
        std::memset(text, 0xCC, sizeof text);
        std::int32_t err = 0;

        EXPECT_FALSE(c.run(value, text, err));

        EXPECT_EQ(err, LINK_ERR_NOT_OPEN);
        EXPECT_TRUE(world.events().empty());
        EXPECT_EQ(value, -12345);
        EXPECT_TRUE(std::all_of(std::begin(text), std::end(text),
                                [](char ch) { return ch == static_cast<char>(0xCC); }));
    }
    EXPECT_EQ(camera().mode, sim::CameraMode::kCommand);
}

}  // namespace
