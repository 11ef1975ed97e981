// The vendor command transport as the simulated camera receives it: the pass-through request on
// the wire, the caller's block, and what reaches the caller's result.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>

#include "link/transport.h"
#include "os/bytes.h"
#include "os/os.h"
#include "tests/support/sim_test.h"

namespace {

using zqtest::Hex;
using zqtest::kVendorHead;

class TransportTest : public zqtest::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        world.PlugCamera('E').firmware[0] = sim::MakeFirmwarePiece("ABCDEFGH");
        handle = os::CreateFileW(L"\\\\.\\E:", os::kGenericRead | os::kGenericWrite,
                                 os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
        ASSERT_NE(handle, os::InvalidHandle());
        world.ClearTrace();
    }

    void TearDown() override {
        os::CloseHandle(handle);
        SimTest::TearDown();
    }

    os::Handle handle = nullptr;
};

struct WireCase {
    const char* name;
    std::array<std::uint8_t, 16> block;
    const char* cdb;
};

TEST_F(TransportTest, SendsTheBlockInTheFixedRequestAndOverwritesBytes0To2) {
    const WireCase cases[] = {
        {"get 14",
         {0, 0, 0, 0xFE, 0x60, 0, 0, 0x0E},
         "FA 55 66 FE 60 00 00 0E 00 00 00 00 00 00 00 00"},
        {"set 2 to 1",
         {0, 0, 0, 0xFE, 0x06, 0, 0, 0x02, 0x01},
         "FA 55 66 FE 06 00 00 02 01 00 00 00 00 00 00 00"},
        {"caller's bytes 0-2 hold other values",
         {0x11, 0x22, 0x33, 0xFE, 0x60, 0, 0, 0x0E},
         "FA 55 66 FE 60 00 00 0E 00 00 00 00 00 00 00 00"},
        {"caller's bytes 0-2 hold FF, all argument bytes used",
         {0xFF, 0xFF, 0xFF, 0xFE, 0x06, 0, 0, 0x04, 0x18, 0x03, 0x05},
         "FA 55 66 FE 06 00 00 04 18 03 05 00 00 00 00 00"},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        world.ClearTrace();
        std::array<std::uint8_t, 16> block = c.block;
        std::uint8_t result[8] = {};

        EXPECT_TRUE(SendVendorCommand(block, result, handle));

        const auto requests = world.PassThroughRequests();
        ASSERT_EQ(requests.size(), 1u);
        const sim::Event& sent = requests[0];
        EXPECT_EQ(sent.handle, handle);
        EXPECT_EQ(sent.ioctl, 0x4D004u);
        EXPECT_EQ(sent.inSize, 44u);
        EXPECT_EQ(sent.outSize, 88u);
        EXPECT_EQ(Hex(sent.head.data(), 28), kVendorHead);
        EXPECT_EQ(Hex(sent.cdb), c.cdb);
        EXPECT_EQ(sent.scsiStatus, 0) << "the camera refused the block";
        // The caller's block holds what was sent.
        EXPECT_EQ(Hex(block), c.cdb);
    }
}

// What the device made of the command, as the pass-through reports it.
struct Outcome {
    bool callSucceeded;
    std::uint32_t systemError;
    std::uint8_t status;
    std::uint32_t dataBytes;
    const char* sense;  // the sense bytes delivered
};

// Sense data the simulated camera sends: fixed format, key and additional sense code.
constexpr const char* kAbortedCommand = "70 00 0B 00 00 00 00 0A 00 00 00 00 00 00 00 00 00 00";
constexpr const char* kInvalidOpcode = "70 00 05 00 00 00 00 0A 00 00 00 00 20 00 00 00 00 00";

struct AnswerCase {
    const char* name;
    std::uint8_t code;
    std::optional<sim::Fault> fault;
    bool vanish;
    bool ok;
    const char* result;
    Outcome outcome;
};

void PrintTo(const AnswerCase& row, std::ostream* out) {
    *out << row.name;
}

class TransportAnswerTest : public TransportTest, public ::testing::WithParamInterface<AnswerCase> {
  protected:
    void SetUp() override {
        TransportTest::SetUp();
        const AnswerCase& c = GetParam();
        if (c.fault) {
            world.InjectVendorFault(c.code, *c.fault);
        }
        if (c.vanish) {
            world.UnplugCamera('E');
        }
        std::fill(std::begin(result), std::end(result), std::uint8_t{0xEE});
    }

    std::uint8_t block[16] = {0, 0, 0, 0xFE, 0x60, 0, 0, GetParam().code};
    std::uint8_t result[8];
};

// Command 26 answers ABCDEFGH in full; the faults cut or refuse that answer.
TEST_P(TransportAnswerTest, DeliversWhatArrivedAndKeepsTheResultOnFailure) {
    const AnswerCase& c = GetParam();
    EXPECT_EQ(SendVendorCommand(block, result, handle), c.ok);
    EXPECT_EQ(Hex(result), c.result);
    EXPECT_EQ(world.PassThroughRequests().size(), 1u);
}

// The same exchanges, with what the device reported: status, sense, bytes delivered, or the
// system's reason for a failed call.
TEST_P(TransportAnswerTest, ReportsTheDevicesStatusSenseAndDataBytes) {
    const AnswerCase& c = GetParam();
    const PassThroughOutcome outcome = SendVendorBlock(block, result, handle);

    EXPECT_EQ(outcome.callSucceeded, c.outcome.callSucceeded);
    EXPECT_EQ(outcome.systemError, c.outcome.systemError);
    EXPECT_EQ(outcome.scsiStatus, c.outcome.status);
    EXPECT_EQ(outcome.dataBytes, c.outcome.dataBytes);
    EXPECT_EQ(Hex(outcome.sense.data(), outcome.senseLength), c.outcome.sense);
    EXPECT_EQ(outcome.Good(), c.outcome.callSucceeded && c.outcome.status == 0);
    EXPECT_EQ(Hex(result), c.result);
    if (outcome.callSucceeded) {
        const auto requests = world.PassThroughRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(outcome.bytesReturned, requests[0].bytesReturned);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, TransportAnswerTest,
                         ::testing::Values(AnswerCase{"Full",
                                                      26,
                                                      std::nullopt,
                                                      false,
                                                      true,
                                                      "41 42 43 44 45 46 47 48",
                                                      {true, 0, 0x00, 8, ""}},
                                           AnswerCase{"ThreeBytes",
                                                      26,
                                                      sim::Fault::ShortAnswer(3),
                                                      false,
                                                      true,
                                                      "41 42 43 00 00 00 00 00",
                                                      {true, 0, 0x00, 3, ""}},
                                           AnswerCase{"NoBytes",
                                                      26,
                                                      sim::Fault::ShortAnswer(0),
                                                      false,
                                                      true,
                                                      "00 00 00 00 00 00 00 00",
                                                      {true, 0, 0x00, 0, ""}},
                                           AnswerCase{"CheckConditionAfterTwoBytes",
                                                      26,
                                                      sim::Fault::CheckCondition(2),
                                                      false,
                                                      true,
                                                      "41 42 00 00 00 00 00 00",
                                                      {true, 0, 0x02, 2, kAbortedCommand}},
                                           AnswerCase{"CheckConditionWithoutData",
                                                      26,
                                                      sim::Fault::CheckCondition(0),
                                                      false,
                                                      true,
                                                      "00 00 00 00 00 00 00 00",
                                                      {true, 0, 0x02, 0, kAbortedCommand}},
                                           AnswerCase{"UnknownCodeRefusedByTheCamera",
                                                      0x55,
                                                      std::nullopt,
                                                      false,
                                                      true,
                                                      "00 00 00 00 00 00 00 00",
                                                      {true, 0, 0x02, 0, kInvalidOpcode}},
                                           AnswerCase{"CallFails",
                                                      26,
                                                      sim::Fault::CallFails(),
                                                      false,
                                                      false,
                                                      "EE EE EE EE EE EE EE EE",
                                                      {false, os::kErrorGenFailure, 0, 0, ""}},
                                           AnswerCase{
                                               "CameraGone",
                                               26,
                                               std::nullopt,
                                               true,
                                               false,
                                               "EE EE EE EE EE EE EE EE",
                                               {false, os::kErrorDeviceNotConnected, 0, 0, ""}}),
                         zqtest::ByName());

// The INQUIRY through the same pass-through: 36 bytes asked, as many delivered, and a buffer
// larger than the answer keeps zeros past what arrived.
TEST_F(TransportTest, PassThroughCarriesAnyDataInCommand) {
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::array<std::uint8_t, 40> data;
    data.fill(0xEE);

    const PassThroughOutcome outcome = PassThrough(handle, inquiry, data);

    ASSERT_TRUE(outcome.Good());
    EXPECT_EQ(outcome.dataBytes, 36u);
    EXPECT_EQ(data[3], 1);  // the camera's mark
    EXPECT_EQ(Hex(data.data() + 36, 4), "00 00 00 00");
    const auto requests = world.PassThroughRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].inSize, 44u);
    EXPECT_EQ(requests[0].outSize, 80u + 40u);
    EXPECT_EQ(requests[0].head[6], 6);    // CdbLength
    EXPECT_EQ(requests[0].head[12], 40);  // DataTransferLength
}

TEST_F(TransportTest, ClearsTheDataAreaBeforeEveryCommand) {
    world.camera().firmware[1] = sim::MakeFirmwarePiece("XY345678");
    world.InjectVendorFault(27, sim::Fault::ShortAnswer(2));
    std::uint8_t first[16] = {0, 0, 0, 0xFE, 0x60, 0, 0, 26};
    std::uint8_t second[16] = {0, 0, 0, 0xFE, 0x60, 0, 0, 27};
    std::uint8_t result[8] = {};

    ASSERT_TRUE(SendVendorCommand(first, result, handle));
    ASSERT_TRUE(SendVendorCommand(second, result, handle));

    EXPECT_EQ(Hex(result), "58 59 00 00 00 00 00 00");
}

// Each form of the head, as a 32-bit and a 64-bit program hand it to the system: the bytes on the
// wire, the sense area right after the head, the data at 80; the system of a process of the other
// width refuses the head as Windows does.
struct FormCase {
    const char* name;
    const os::spt::Form* form;
    bool caller64;  // the width of the process the simulated system serves
    std::uint32_t inSize;
    const char* head;  // the head up to the CDB
    std::size_t senseArea;
};

TEST_F(TransportTest, EachFormOfTheHeadIsTheOneItsProcessHandsTheSystem) {
    const char* const head32 =
        "2C 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 50 00 00 00 30 00 00 00";
    const char* const head64 =
        "38 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 00 00 00 00 "
        "50 00 00 00 00 00 00 00 38 00 00 00";
    const FormCase cases[] = {
        {"32-bit form from a 32-bit process", &os::spt::k32, false, 44, head32, 48},
        {"64-bit form from a 64-bit process", &os::spt::k64, true, 56, head64, 56},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.name);
        world.SetCaller64(c.caller64);
        world.ClearTrace();
        world.InjectVendorFault(2, sim::Fault::CheckCondition(2));
        const std::uint8_t get26[16] = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 26};
        std::uint8_t data[8] = {};

        const PassThroughOutcome good = PassThrough(handle, get26, data, *c.form);
        ASSERT_TRUE(good.Good()) << good.systemError;
        EXPECT_EQ(Hex(data), "41 42 43 44 45 46 47 48");
        EXPECT_EQ(good.dataBytes, 8u);
        const auto requests = world.PassThroughRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].inSize, c.inSize);
        EXPECT_EQ(requests[0].outSize, 88u);
        EXPECT_EQ(Hex(requests[0].head.data(), c.form->cdb), c.head);
        EXPECT_EQ(Hex(requests[0].cdb), "FA 55 66 FE 60 00 00 1A 00 00 00 00 00 00 00 00");

        // The sense bytes come back where the head said, right after it.
        std::uint8_t request[kPassThroughRequestSize];
        const std::uint8_t get2[16] = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 2};
        BuildPassThroughRequest(request, get2, 8, *c.form);
        EXPECT_EQ(bytes::GetLe32(request, c.form->senseInfoOffset), c.senseArea);
        const PassThroughOutcome refused = PassThrough(handle, get2, data, *c.form);
        ASSERT_TRUE(refused.callSucceeded);
        EXPECT_EQ(refused.scsiStatus, kScsiStatusCheckCondition);
        EXPECT_EQ(Hex(refused.sense.data(), refused.senseLength), kAbortedCommand);

        // A head of the other width is not this process's: the call fails, nothing is sent.
        world.ClearTrace();
        const os::spt::Form& other = c.caller64 ? os::spt::k32 : os::spt::k64;
        const PassThroughOutcome wrong = PassThrough(handle, get26, data, other);
        EXPECT_FALSE(wrong.callSucceeded);
        EXPECT_EQ(wrong.systemError, os::kErrorInvalidParameter);
        EXPECT_TRUE(world.VendorCodes().empty());
    }
}

}  // namespace
