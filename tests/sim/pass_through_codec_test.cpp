// The pass-through codec: each field of both forms of the head read from its own bytes, the
// requests a driver refuses, and the answer written back within the areas the head gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/pass_through_codec.h"
#include "tests/support/sim_test.h"
#include "tests/support/wire.h"

namespace {

using zqtest::Hex;

std::vector<std::uint8_t> FromHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::istringstream in(text);
    std::string two;
    while (in >> two) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(two, nullptr, 16)));
    }
    return bytes;
}

// Every field of the head a different value, the padding bytes too, so that a field read at a
// wrong offset or with a wrong width shows.
struct DecodeCase {
    const char* name;
    bool form64;
    const char* head;
    std::uint16_t length;
    std::uint8_t cdbLength;
    std::uint8_t senseLength;
    std::uint32_t transferLength;
    std::uint32_t timeOut;
    std::uint32_t dataOffset;
    bool dataOffsetBeyond4G;
    std::uint32_t senseOffset;
    const char* cdb;
};

const DecodeCase kDecodeCases[] = {
    {"Form32", false,
     "2C 01 9A 03 04 05 06 07 01 AA BB CC 11 22 33 44 55 66 00 00 80 01 00 00 30 00 00 00 "
     "12 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
     0x012C, 6, 7, 0x44332211, 0x6655, 0x180, false, 0x30,
     "12 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"},
    {"Form64", true,
     "38 01 9A 03 04 05 06 07 01 AA BB CC 11 22 33 44 55 66 00 00 EE EE EE EE "
     "80 01 00 00 00 00 00 00 38 00 00 00 "
     "FA 55 66 FE 60 00 00 1A 08 09 0A 0B 0C 0D 0E 0F DD DD DD DD",
     0x0138, 6, 7, 0x44332211, 0x6655, 0x180, false, 0x38,
     "FA 55 66 FE 60 00 00 1A 08 09 0A 0B 0C 0D 0E 0F"},
    {"Form64OffsetPast4G", true,
     "38 00 00 03 04 05 10 18 01 00 00 00 08 00 00 00 02 00 00 00 00 00 00 00 "
     "50 00 00 00 01 00 00 00 38 00 00 00 "
     "FA 55 66 FE 60 00 00 0E 00 00 00 00 00 00 00 00 00 00 00 00",
     0x38, 16, 24, 8, 2, 0x50, true, 0x38, "FA 55 66 FE 60 00 00 0E 00 00 00 00 00 00 00 00"},
};

class PassThroughDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PassThroughDecode, ReadsEachFieldAtItsOffset) {
    const DecodeCase& c = GetParam();
    const std::vector<std::uint8_t> in = FromHex(c.head);
    const std::vector<std::uint8_t> out(512, 0);

    const std::optional<sim::PassThroughRequest> request = sim::DecodePassThrough(
        in.data(), static_cast<std::uint32_t>(in.size()), out.data(), 512, c.form64);

    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->form->size, c.form64 ? 56u : 44u);
    EXPECT_EQ(request->length, c.length);
    EXPECT_EQ(request->pathId, 3);
    EXPECT_EQ(request->targetId, 4);
    EXPECT_EQ(request->lun, 5);
    EXPECT_EQ(request->cdbLength, c.cdbLength);
    EXPECT_EQ(request->senseLength, c.senseLength);
    EXPECT_EQ(request->dataIn, 1);
    EXPECT_EQ(request->transferLength, c.transferLength);
    EXPECT_EQ(request->timeOut, c.timeOut);
    EXPECT_EQ(request->dataOffset, c.dataOffset);
    EXPECT_EQ(request->dataOffsetBeyond4G, c.dataOffsetBeyond4G);
    EXPECT_EQ(request->senseOffset, c.senseOffset);
    EXPECT_EQ(Hex(request->cdb), c.cdb);
    EXPECT_EQ(Hex(request->head.data(), in.size()), Hex(in)) << "the head is kept as sent";
}

INSTANTIATE_TEST_SUITE_P(BothForms, PassThroughDecode, ::testing::ValuesIn(kDecodeCases),
                         zqtest::ByName());

// The head of a valid INQUIRY in either form, as the product sends it: 24 bytes of sense at 48
// (32-bit) or right after the head (64-bit), 36 bytes of data at 80.
std::vector<std::uint8_t> InquiryHead(bool form64) {
    return FromHex(form64
                       ? "38 00 00 00 01 00 06 18 01 00 00 00 24 00 00 00 02 00 00 00 00 00 00 00 "
                         "50 00 00 00 00 00 00 00 38 00 00 00 "
                         "12 00 00 00 24 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                       : "2C 00 00 00 01 00 06 18 01 00 00 00 24 00 00 00 02 00 00 00 50 00 00 00 "
                         "30 00 00 00 12 00 00 00 24 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(PassThroughDecode, NeedsBothBuffersAtLeastAsLongAsTheHead) {
    for (const bool form64 : {false, true}) {
        SCOPED_TRACE(form64 ? "64-bit form" : "32-bit form");
        const std::vector<std::uint8_t> in = InquiryHead(form64);
        const auto size = static_cast<std::uint32_t>(in.size());
        std::vector<std::uint8_t> out(116, 0);

        EXPECT_TRUE(sim::DecodePassThrough(in.data(), size, out.data(), size, form64));
        EXPECT_FALSE(sim::DecodePassThrough(in.data(), size - 1, out.data(), 116, form64));
        EXPECT_FALSE(sim::DecodePassThrough(in.data(), size, out.data(), size - 1, form64));
        EXPECT_FALSE(sim::DecodePassThrough(nullptr, size, out.data(), 116, form64));
        EXPECT_FALSE(sim::DecodePassThrough(in.data(), size, nullptr, 116, form64));
    }
    // A 32-bit head handed to the 64-bit driver is too short for it.
    const std::vector<std::uint8_t> head32 = InquiryHead(false);
    std::vector<std::uint8_t> out(116, 0);
    EXPECT_FALSE(sim::DecodePassThrough(head32.data(), 44, out.data(), 116, true));
}

// What the driver refuses that only the 64-bit form can carry, or that differs between the forms;
// the refusals common to both are the world's table (world_test.cpp), which runs them through
// the whole call.
TEST(PassThroughWellFormed, TheFormsDifferWhereTheirLayoutsDo) {
    struct Case {
        const char* name;
        bool form64;
        std::size_t at;
        std::uint8_t value;
        bool wellFormed;
    };
    const Case cases[] = {
        {"valid 32-bit head", false, 0, 0x2C, true},
        {"valid 64-bit head", true, 0, 0x38, true},
        {"Length 44 in the 64-bit form", true, 0, 0x2C, false},
        {"Length 56 in the 32-bit form", false, 0, 0x38, false},
        {"64-bit DataBufferOffset past 4 GiB", true, 28, 0x01, false},
        {"64-bit sense area inside the head", true, 32, 0x30, false},
        {"64-bit alignment bytes are not read", true, 20, 0xEE, true},
        {"64-bit TimeOutValue 0", true, 16, 0x00, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> in = InquiryHead(c.form64);
        in[c.at] = c.value;
        std::vector<std::uint8_t> out(116, 0);
        const std::optional<sim::PassThroughRequest> request = sim::DecodePassThrough(
            in.data(), static_cast<std::uint32_t>(in.size()), out.data(), 116, c.form64);
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(sim::IsWellFormed(*request, 116), c.wellFormed);
    }
}

TEST(PassThroughEncode, WritesTheAnswerWithinTheAreasTheHeadGives) {
    for (const bool form64 : {false, true}) {
        SCOPED_TRACE(form64 ? "64-bit form" : "32-bit form");
        const std::vector<std::uint8_t> in = InquiryHead(form64);
        const std::size_t headSize = in.size();
        // Sense limited to 4 bytes, data to 8, and room after the data area.
        std::vector<std::uint8_t> request = in;
        request[7] = 4;
        request[12] = 8;
        std::vector<std::uint8_t> out(128, 0xCC);
        const std::optional<sim::PassThroughRequest> decoded = sim::DecodePassThrough(
            request.data(), static_cast<std::uint32_t>(headSize), out.data(), 128, form64);
        ASSERT_TRUE(decoded && sim::IsWellFormed(*decoded, 128));

        const std::vector<std::uint8_t> data(12, 0x44);
        const std::vector<std::uint8_t> sense = {0x70, 0, 5, 0, 0, 0, 0, 10};
        const sim::PassThroughDelivered delivered =
            sim::EncodePassThroughAnswer(*decoded, 0x02, data, sense, out.data());

        EXPECT_EQ(delivered.data, 8u);
        EXPECT_EQ(delivered.sense, 4);
        EXPECT_EQ(delivered.returned, 88u);
        EXPECT_EQ(out[2], 0x02) << "ScsiStatus";
        EXPECT_EQ(out[7], 4) << "SenseInfoLength as delivered";
        EXPECT_EQ(Hex(out.data() + 12, 4), "08 00 00 00") << "DataTransferLength as delivered";
        EXPECT_EQ(Hex(out.data() + decoded->form->cdbAt, 6), "12 00 00 00 24 00");
        EXPECT_EQ(Hex(out.data() + decoded->senseOffset, 5), "70 00 05 00 CC");
        EXPECT_EQ(out[headSize], decoded->senseOffset == headSize ? 0x70 : 0xCC);
        EXPECT_EQ(out[79], 0xCC);
        EXPECT_EQ(Hex(out.data() + 80, 9), "44 44 44 44 44 44 44 44 CC");
    }
}

TEST(PassThroughEncode, NothingDeliveredLeavesTheAreasAlone) {
    const std::vector<std::uint8_t> in = InquiryHead(false);
    std::vector<std::uint8_t> out(116, 0xCC);
    const std::optional<sim::PassThroughRequest> decoded =
        sim::DecodePassThrough(in.data(), 44, out.data(), 116, false);
    ASSERT_TRUE(decoded);

    const sim::PassThroughDelivered delivered =
        sim::EncodePassThroughAnswer(*decoded, 0x08, {}, {}, out.data());

    EXPECT_EQ(delivered.returned, 44u) << "the head alone";
    EXPECT_EQ(out[2], 0x08);
    EXPECT_EQ(out[7], 0);
    EXPECT_EQ(Hex(out.data() + 12, 4), "00 00 00 00");
    EXPECT_EQ(out[44], 0xCC);
    EXPECT_EQ(out[115], 0xCC);
}

}  // namespace
