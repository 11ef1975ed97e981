// The pauses a Pacer keeps between the operations on one camera.
#include "link/pacing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A script of steps: 'o' an operation begins, a number a rest of that many milliseconds.
struct Case {
    const char* name;
    std::uint32_t pauseMs;
    std::vector<std::string> steps;
    std::vector<std::uint32_t> pauses;  // every wait, the rests included
};

TEST(Pacer, PausesBetweenOperationsLessWhatWasRested) {
    const std::vector<Case> cases = {
        {"the first operation goes at once", 200, {"o"}, {}},
        {"each later one after the pause", 200, {"o", "o", "o"}, {200, 200}},
        {"a longer rest covers the pause", 200, {"o", "500", "o"}, {500}},
        {"a shorter rest shortens it", 200, {"o", "150", "o"}, {150, 50}},
        {"rests add up", 200, {"o", "120", "120", "o"}, {120, 120}},
        {"a rest before the first operation", 200, {"300", "o", "o"}, {300, 200}},
        {"a rest counts once", 200, {"o", "500", "o", "o"}, {500, 200}},
        {"no pace", 0, {"o", "o", "10", "o"}, {10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> pauses;
        Pacer pacer(c.pauseMs, [&pauses](std::uint32_t ms) { pauses.push_back(ms); });
        for (const std::string& step : c.steps) {
            if (step == "o") {
                pacer.BeginOperation();
            } else {
                pacer.Rest(static_cast<std::uint32_t>(std::stoul(step)));
            }
        }
        EXPECT_EQ(pauses, c.pauses);
    }
}

TEST(Pacer, TheConnectionReadsTheSettingsInThePanelsOrder) {
    EXPECT_EQ(kSettingPauseMs, 200u);
    EXPECT_EQ(kSettingReadOrder, (std::array<CameraCommand, 3>{kCmdLoopRecording, kCmdResolution,
                                                               kCmdTimestampDisplay}));
}

}  // namespace
