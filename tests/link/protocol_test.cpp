// The camera protocol on its own: the command table, the camera's mark, the sense decoder and the
// one judgement of how a command ended. The bytes each operation sends are pinned on the wire by
// camera_test.cpp (the panel) and the tool's tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "link/protocol.h"

namespace {

TEST(CommandTable, EveryRowIsOneCommandInOneFormAndSaysWhatItsAnswerMeans) {
    std::set<std::pair<int, int>> seen;
    for (const CommandInfo& row : kCommandTable) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(seen.insert({row.code, static_cast<int>(row.form)}).second) << "twice";
        EXPECT_EQ(FindCommand(row.code, row.form), &row);
        // A read carries no argument and a write at least one; only a setting names values.
        EXPECT_EQ(row.form == CommandForm::kGet, row.argumentBytes == 0);
        EXPECT_LE(row.argumentBytes, kVendorBlockSize - kVendorArgs);
        const bool setting = row.answer == AnswerMeaning::kSettingValue;
        if (setting) {
            EXPECT_NE(row.values[0], nullptr);
            EXPECT_NE(row.values[1], nullptr);
            // A setting that is read can be set, and both forms name the same values.
            const CommandInfo* set = FindCommand(row.code, CommandForm::kSet);
            ASSERT_NE(set, nullptr);
            EXPECT_STREQ(set->values[0], row.values[0]);
            EXPECT_STREQ(set->values[1], row.values[1]);
        }
    }
    EXPECT_EQ(FindCommand(kCmdCameraState, CommandForm::kSet), nullptr);
    EXPECT_EQ(FindCommand(99, CommandForm::kGet), nullptr);
}

TEST(CommandTable, HoldsEveryCommandTheProgramsSend) {
    struct Case {
        CameraCommand code;
        CommandForm form;
        AnswerMeaning answer;
    };
    const Case cases[] = {
        {kCmdCameraState, CommandForm::kGet, AnswerMeaning::kState},
        {kCmdFirmware1, CommandForm::kGet, AnswerMeaning::kFirmwarePiece},
        {kCmdFirmware2, CommandForm::kGet, AnswerMeaning::kFirmwarePiece},
        {kCmdFirmware3, CommandForm::kGet, AnswerMeaning::kFirmwarePiece},
        {kCmdLoopRecording, CommandForm::kGet, AnswerMeaning::kSettingValue},
        {kCmdLoopRecording, CommandForm::kSet, AnswerMeaning::kConfirmation},
        {kCmdResolution, CommandForm::kGet, AnswerMeaning::kSettingValue},
        {kCmdResolution, CommandForm::kSet, AnswerMeaning::kConfirmation},
        {kCmdTimestampDisplay, CommandForm::kGet, AnswerMeaning::kSettingValue},
        {kCmdTimestampDisplay, CommandForm::kSet, AnswerMeaning::kConfirmation},
        {kCmdSetDate, CommandForm::kSet, AnswerMeaning::kConfirmation},
        {kCmdSetTime, CommandForm::kSet, AnswerMeaning::kConfirmation},
        {kCmdRelease, CommandForm::kGet, AnswerMeaning::kRelease},
    };
    EXPECT_EQ(std::size(kCommandTable), std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        const CommandInfo* row = FindCommand(c.code, c.form);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->answer, c.answer);
    }
    for (const CameraCommand code : kFirmwareCommands) {
        EXPECT_EQ(FindCommand(code, CommandForm::kGet)->answer, AnswerMeaning::kFirmwarePiece);
    }
}

TEST(Clock, IsTheDateThenTheTimeEachWithItsThreeBytes) {
    const std::array<ClockCommand, 2> clock = ClockCommands({24, 2, 29, 23, 59, 58});
    EXPECT_EQ(clock[0].code, kCmdSetDate);
    EXPECT_EQ(clock[0].args, (std::array<std::uint8_t, 3>{24, 2, 29}));
    EXPECT_EQ(clock[1].code, kCmdSetTime);
    EXPECT_EQ(clock[1].args, (std::array<std::uint8_t, 3>{23, 59, 58}));
    for (const ClockCommand& command : clock) {
        EXPECT_EQ(FindCommand(command.code, CommandForm::kSet)->argumentBytes, 3);
    }
}

TEST(CameraMark, IsInquiryByte3HoldingExactlyOne) {
    struct Case {
        std::vector<std::uint8_t> data;
        bool camera;
    };
    const Case cases[] = {
        {{0x00, 0x80, 0x02, 0x01}, true},
        {{0x00, 0x80, 0x02, 0x01, 0x1F}, true},
        {{0x00, 0x80, 0x02, 0x02}, false},
        {{0x00, 0x80, 0x02, 0x00}, false},
        {{0x00, 0x80, 0x02, 0x81}, false},  // the other bits of the byte count too
        {{0x00, 0x80, 0x01}, false},        // byte 3 never arrived
        {{}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CarriesCameraMark(c.data), c.camera) << ::testing::PrintToString(c.data);
    }
    const auto cdb = InquiryCdb();
    EXPECT_EQ(cdb, (std::array<std::uint8_t, 6>{0x12, 0, 0, 0, 36, 0}));
}

struct SenseCase {
    const char* name;
    std::vector<std::uint8_t> sense;
    SenseFormat format;
    bool valid;
    std::uint8_t key, asc, ascq;
};

TEST(Sense, KeyAndAdditionalSenseAreReadOnlyWhereTheBytesAndTheLengthReach) {
    using F = SenseFormat;
    // clang-format off
    const std::vector<SenseCase> cases = {
        {"nothing", {}, F::kNone, false, 0, 0, 0},
        {"fixed, current", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00}, F::kFixed,
         true, 5, 0x24, 0},
        {"fixed, deferred, VALID bit set", {0xF1, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x01},
         F::kFixed, true, 2, 0x04, 1},
        {"fixed, the key's upper bits are flags", {0x70, 0, 0xE3, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11,
         0x02}, F::kFixed, true, 3, 0x11, 2},
        {"fixed, cut before the additional sense", {0x70, 0, 0x06}, F::kFixed, true, 6, 0, 0},
        {"fixed, cut before the key", {0x70, 0}, F::kFixed, false, 0, 0, 0},
        {"fixed, additional length too short for either",
         {0x70, 0, 0x03, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x11, 1}, F::kFixed, true, 3, 0, 0},
        {"fixed, additional length reaches the code only",
         {0x70, 0, 0x03, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0x11, 1}, F::kFixed, true, 3, 0x11, 0},
        {"fixed, additional length past the bytes sent",
         {0x70, 0, 0x04, 0, 0, 0, 0, 0xF0, 0, 0, 0, 0, 0x44, 0x00, 0, 0, 0, 0}, F::kFixed, true, 4,
         0x44, 0},
        {"fixed, bytes past the additional length are not read",
         {0x70, 0, 0x05, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x24, 0x01, 0, 0, 0, 0}, F::kFixed, true, 5, 0,
         0},
        {"descriptor", {0x72, 0x0B, 0x47, 0x03}, F::kDescriptor, true, 11, 0x47, 3},
        {"descriptor, deferred, length past the bytes sent",
         {0x73, 0x02, 0x3A, 0x01, 0, 0, 0, 0xC8, 0x00, 0x0A, 0x80}, F::kDescriptor, true, 2, 0x3A,
         1},
        {"descriptor, cut after the key", {0x72, 0x0B}, F::kDescriptor, true, 11, 0, 0},
        {"descriptor, cut before the key", {0x72}, F::kDescriptor, false, 0, 0, 0},
        // Response codes that are no known format: nothing is read from them, whatever their
        // bytes look like.
        {"response code 7F", {0x7F, 0x00, 0x0F, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0xA7, 0x1D},
         F::kUnknown, false, 0, 0, 0},
        {"response code FF", {0xFF, 0x05, 0x24, 0x00}, F::kUnknown, false, 0, 0, 0},
        {"garbage", {0x05, 0x16, 0x06, 0x29, 0x00}, F::kUnknown, false, 0, 0, 0},
        {"response code 74", {0x74, 0x05, 0x24, 0x00}, F::kUnknown, false, 0, 0, 0},
    };
    // clang-format on
    for (const SenseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SenseFields fields = DecodeSense(c.sense);
        EXPECT_EQ(fields.format, c.format);
        EXPECT_EQ(fields.valid, c.valid);
        EXPECT_EQ(fields.key, c.key);
        EXPECT_EQ(fields.asc, c.asc);
        EXPECT_EQ(fields.ascq, c.ascq);
    }
}

PassThroughOutcome Ended(bool call, bool transport, std::uint8_t status, std::uint32_t data) {
    PassThroughOutcome outcome;
    outcome.callSucceeded = call;
    outcome.transportFailed = transport;
    outcome.systemError = call ? 0 : 5;
    outcome.scsiStatus = status;
    outcome.dataBytes = data;
    return outcome;
}

TEST(Outcome, FallsInExactlyOneCategory) {
    using C = OutcomeCategory;
    struct Case {
        const char* name;
        PassThroughOutcome outcome;
        std::uint32_t needed;
        OutcomeCategory category;
        const char* categoryName;
    };
    const Case cases[] = {
        {"whole answer", Ended(true, false, 0x00, 8), 8, C::kGood, "good"},
        {"more than needed", Ended(true, false, 0x00, 36), 8, C::kGood, "good"},
        {"nothing needed", Ended(true, false, 0x00, 0), 0, C::kGood, "good"},
        {"one byte short", Ended(true, false, 0x00, 7), 8, C::kShortAnswer, "short answer"},
        {"no data", Ended(true, false, 0x00, 0), 8, C::kShortAnswer, "short answer"},
        {"check condition", Ended(true, false, 0x02, 8), 8, C::kCheckCondition, "check condition"},
        // A status is judged before the data: a refusal with all its bytes is still a refusal.
        {"check condition, no data", Ended(true, false, 0x02, 0), 8, C::kCheckCondition,
         "check condition"},
        {"busy", Ended(true, false, 0x08, 8), 8, C::kOtherStatus, "other status"},
        {"task aborted", Ended(true, false, 0x40, 0), 8, C::kOtherStatus, "other status"},
        {"transport", Ended(false, true, 0x00, 0), 8, C::kTransportFailure, "transport failure"},
        {"system call", Ended(false, false, 0x00, 0), 8, C::kSystemError, "system error"},
        // A failed call says nothing about the device, whatever its other fields hold.
        {"system call with stale fields", Ended(false, false, 0x00, 8), 8, C::kSystemError,
         "system error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Categorize(c.outcome, c.needed), c.category);
        EXPECT_STREQ(CategoryName(Categorize(c.outcome, c.needed)), c.categoryName);
        EXPECT_EQ(c.outcome.Good(), c.category == C::kGood || c.category == C::kShortAnswer);
    }
}

}  // namespace
