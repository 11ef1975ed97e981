// The tool's small parts that stand on their own: sense data as text, setting changes, printable
// text. The sense decoder itself is the camera protocol's (tests/link/protocol_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/sense.h"
#include "cli/settings.h"
#include "cli/text.h"

namespace {

TEST(SenseTest, DescriptionSaysWhatThereIs) {
    EXPECT_EQ(cli::DescribeStatus(0x08, {}), "SCSI status 0x08 (BUSY), no sense data");
    const std::vector<std::uint8_t> notReady = {0x70, 0, 0x02, 0, 0, 0,    0,
                                                10,   0, 0,    0, 0, 0x04, 0x02};
    EXPECT_EQ(cli::DescribeStatus(0x02, notReady),
              "SCSI status 0x02 (CHECK CONDITION), sense key 0x2 (NOT READY), additional sense "
              "0x04/0x02 (logical unit not ready), sense data 70 00 02 00 00 00 00 0A 00 00 00 "
              "00 04 02");
    const std::vector<std::uint8_t> odd = {0x72, 0x0C, 0x99, 0x01};
    EXPECT_EQ(cli::DescribeStatus(0x02, odd),
              "SCSI status 0x02 (CHECK CONDITION), sense key 0xC (reserved (0xC)), additional "
              "sense 0x99/0x01, sense data 72 0C 99 01");
    EXPECT_STREQ(cli::StatusName(0x03), "reserved");
}

TEST(SenseTest, OutcomeDescriptionStartsWithItsCategory) {
    struct Case {
        bool call, transport;
        std::uint8_t status;
        std::vector<std::uint8_t> sense;
        std::uint32_t data;
        const char* text;
    };
    const std::vector<Case> cases = {
        {true, false, 0x00, {}, 36, "good, 36 bytes"},
        {true, false, 0x00, {}, 3, "short answer, 3 of 8 bytes"},
        {true,
         false,
         0x02,
         {0x72, 0x05, 0x24, 0x00},
         0,
         "check condition, SCSI status 0x02 (CHECK CONDITION), sense key 0x5 (ILLEGAL REQUEST), "
         "additional sense 0x24/0x00 (invalid field in CDB), sense data 72 05 24 00"},
        {true, false, 0x08, {}, 8, "other status, SCSI status 0x08 (BUSY), no sense data"},
        {false, true, 0x00, {}, 0, "transport failure, system error 110"},
        {false, false, 0x00, {}, 0, "system error 110"},
    };
    for (const Case& c : cases) {
        PassThroughOutcome outcome;
        outcome.callSucceeded = c.call;
        outcome.transportFailed = c.transport;
        outcome.systemError = c.call ? 0 : 110;
        outcome.scsiStatus = c.status;
        std::copy(c.sense.begin(), c.sense.end(), outcome.sense.begin());
        outcome.senseLength = static_cast<std::uint8_t>(c.sense.size());
        outcome.dataBytes = c.data;
        EXPECT_EQ(cli::DescribeOutcome(outcome, 8), c.text);
    }
}

TEST(SettingsTest, ChangesAreParsedInAnyCaseAndMalformedOnesExplained) {
    struct Case {
        const char* text;
        std::optional<cli::SettingChange> change;
        const char* error;
    };
    using cli::Setting;
    // clang-format off
    const std::vector<Case> cases = {
        {"overwrite=on", cli::SettingChange{Setting::kOverwrite, 1}, ""},
        {"OVERWRITE=Off", cli::SettingChange{Setting::kOverwrite, 0}, ""},
        {"timestamp=on", cli::SettingChange{Setting::kTimestamp, 1}, ""},
        {"resolution=1080P", cli::SettingChange{Setting::kResolution, 0}, ""},
        {"resolution=720p", cli::SettingChange{Setting::kResolution, 1}, ""},
        {"resolution=on", std::nullopt, "'on' is no value of resolution (1080p or 720p)"},
        {"timestamp=", std::nullopt, "'' is no value of timestamp (off or on)"},
        {"=on", std::nullopt, "'' is no setting"},
        {"overwrite on", std::nullopt, "is not NAME=VALUE"},
        {"overwrite=on=off", std::nullopt, "'on=off' is no value of overwrite"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_EQ(cli::ParseChange(c.text, error), c.change);
        if (*c.error == '\0') {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

TEST(SettingsTest, ValuesOutsideTheNamedOnesAreUnknown) {
    EXPECT_EQ(cli::ValueText(cli::Setting::kResolution, 1), "720p");
    EXPECT_EQ(cli::ValueText(cli::Setting::kOverwrite, 2), "unknown (2)");
    EXPECT_EQ(cli::ValueName(cli::Setting::kTimestamp, 255), std::nullopt);
}

TEST(TextTest, ControlCharactersArePrintedEscaped) {
    EXPECT_EQ(cli::Printable(std::string("V1\x00\x1F\x7F.\xC3\xA9", 8)),
              "V1\\x00\\x1F\\x7F.\xC3\xA9");
}

}  // namespace
