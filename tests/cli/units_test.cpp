// The tool's small parts that stand on their own: sense data, setting changes, printable text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/sense.h"
#include "cli/settings.h"
#include "cli/text.h"

namespace {

struct SenseCase {
    const char* name;
    std::vector<std::uint8_t> sense;
    bool valid;
    std::uint8_t key, asc, ascq;
};

TEST(SenseTest, KeyAndAdditionalSenseOfEitherFormat) {
    // clang-format off
    const std::vector<SenseCase> cases = {
        {"fixed, current", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00}, true, 5, 0x24, 0},
        {"fixed, deferred, valid bit set", {0xF1, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x01},
         true, 2, 0x04, 1},
        {"fixed, cut before the additional sense", {0x70, 0, 0x06}, true, 6, 0, 0},
        {"fixed, additional length too short", {0x70, 0, 0x03, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x11, 1},
         true, 3, 0, 0},
        {"descriptor", {0x72, 0x0B, 0x47, 0x03}, true, 11, 0x47, 3},
        {"descriptor, cut", {0x72, 0x0B}, false, 0, 0, 0},
        {"unknown format", {0x7F, 0x05, 0x24, 0x00}, false, 0, 0, 0},
        {"nothing", {}, false, 0, 0, 0},
    };
    // clang-format on
    for (const SenseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const cli::SenseFields fields = cli::DecodeSense(c.sense);
        EXPECT_EQ(fields.valid, c.valid);
        EXPECT_EQ(fields.key, c.key);
        EXPECT_EQ(fields.asc, c.asc);
        EXPECT_EQ(fields.ascq, c.ascq);
    }
}

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
