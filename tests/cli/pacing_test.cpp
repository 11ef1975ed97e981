// The tool's manners on a camera: the panel's order and pauses by default, the pace the user sets
// otherwise, and the commands of one operation back to back. Read as one journal of the camera's
// commands and the pauses between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/pacing.h"
#include "panel/panel.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/fake_window.h"
#include "tests/support/journal.h"

namespace {

using Lines = std::vector<std::string>;

class PacingTest : public zqtest::CliTest {
  protected:
    // The vendor commands and the pauses of a run, in order ("get 14", "sleep 200", "set 1 01").
    Lines Commands(const std::vector<std::string>& args,
                   std::function<void(const sim::Event&)> afterCall = {}) {
        if (world.CameraOn('E') == nullptr) {
            world.PlugCamera('E');
        }
        Journal journal;
        FakeWindow unused;
        journal.Attach(unused, world, sim::TheSystem());
        journal.afterCall = std::move(afterCall);
        const zqtest::ToolRun run = Run(args);
        EXPECT_EQ(run.exit, 0) << run.err;
        return VendorAndPauses(journal.lines);
    }

    static Lines VendorAndPauses(const Lines& lines) {
        Lines kept;
        for (const std::string& line : lines) {
            if (line.rfind("get ", 0) == 0 || line.rfind("set ", 0) == 0 ||
                line.rfind("sleep ", 0) == 0) {
                kept.push_back(line);
            } else if (line.rfind("pause ", 0) == 0) {
                kept.push_back("sleep " + line.substr(6));
            }
        }
        return kept;
    }
};

const Lines kConnection = {"get 14", "get 26",    "get 27", "get 28",    "sleep 200",
                           "get 2",  "sleep 200", "get 1",  "sleep 200", "get 11"};

struct Case {
    const char* name;
    std::vector<std::string> args;
    Lines commands;
};

TEST_F(PacingTest, EachCommandKeepsThePanelsOrderAndPauses) {
    const std::vector<Case> cases = {
        {"list", {"list"}, kConnection},
        {"status", {"status"}, kConnection},
        {"set: each set and each read-back after a pause",
         {"set", "resolution=720p", "overwrite=off"},
         {"get 14", "sleep 200", "set 1 01", "sleep 200", "get 1", "sleep 200", "set 2 00",
          "sleep 200", "get 2"}},
        {"sync-time: date and time back to back",
         {"sync-time"},
         {"get 14", "sleep 200", "set 4 19 03 07", "set 3 0E 05 09"}},
        {"release", {"release", "--timeout", "0"}, {"get 14", "sleep 200", "get 15"}},
        {"another pace",
         {"--pace", "50", "status"},
         {"get 14", "get 26", "get 27", "get 28", "sleep 50", "get 2", "sleep 50", "get 1",
          "sleep 50", "get 11"}},
        {"the pace after the command",
         {"set", "timestamp=on", "--pace", "1000"},
         {"get 14", "sleep 1000", "set 11 01", "sleep 1000", "get 11"}},
        {"no pace", {"--pace", "0", "set", "timestamp=on"}, {"get 14", "set 11 01", "get 11"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.Reset();
        sim::TheSystem().Reset();
        sim::TheSystem().SetLocalTime(2025, 3, 7, 14, 5, 9);
        EXPECT_EQ(Commands(c.args), c.commands);
    }
}

// The tool's connection and the panel's come from one place: the same commands, the same pauses.
TEST_F(PacingTest, StatusAsksWhatThePanelsConnectionAsksWithTheSamePauses) {
    world.PlugCamera('E');
    Journal journal;
    FakeWindow window;
    journal.Attach(window, world, sim::TheSystem());
    ConnectCamera(window);
    DisconnectCamera(window);
    const Lines panel = VendorAndPauses(journal.lines);

    world.Reset();
    EXPECT_EQ(Commands({"status"}), panel);
}

// Over every camera, each is worked on by a thread of its own: its commands and its pauses stay
// together, between its own open and close, whatever the other cameras do meanwhile.
TEST_F(PacingTest, EveryCameraHasItsOwnThreadAndPauses) {
    world.PlugCamera('E');
    world.PlugCamera('G').answerDelayMs = 2;
    world.PlugCamera('H');
    Journal journal;
    FakeWindow unused;
    journal.Attach(unused, world, sim::TheSystem());

    const zqtest::ToolRun run = Run({"set", "--all", "timestamp=on"});

    ASSERT_EQ(run.exit, 0) << run.err;
    std::vector<Lines> cameras;
    for (const Lines& lines : journal.ByThread()) {
        cameras.push_back(lines);
    }
    std::sort(cameras.begin(), cameras.end());
    const auto camera = [](const std::string& letter) {
        return Lines{"create " + letter, "inquiry " + letter, "get 14", "sleep 200",
                     "set 11 01",        "sleep 200",         "get 11", "close " + letter};
    };
    EXPECT_EQ(cameras, (std::vector<Lines>{camera("E"), camera("G"), camera("H")}));
}

// A wait for a camera to become ready counts toward the pause before its next operation.
TEST_F(PacingTest, WatchCountsItsWaitForReadinessTowardThePause) {
    const std::vector<Case> cases = {
        {"the wait is longer than the pause",
         {"watch", "--sync-time", "--set", "timestamp=on"},
         {"get 14", "sleep 500", "get 14", "sleep 200", "set 4 19 03 07", "set 3 0E 05 09",
          "sleep 200", "set 11 01", "sleep 200", "get 11"}},
        {"the wait is shorter than the pause",
         {"--pace", "800", "watch", "--set", "timestamp=on"},
         {"get 14", "sleep 500", "sleep 300", "get 14", "sleep 800", "set 11 01", "sleep 800",
          "get 11"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.Reset();
        sim::TheSystem().Reset();
        sim::TheSystem().SetLocalTime(2025, 3, 7, 14, 5, 9);
        world.PlugCamera('E').state = 1;
        events.Arrive('E');
        // Not ready at the first look, ready at the second.
        bool looked = false;
        EXPECT_EQ(Commands(c.args,
                           [this, &looked](const sim::Event& event) {
                               if (event.VendorCode() == kCmdCameraState && !looked) {
                                   looked = true;
                                   world.camera().state = 2;
                               }
                           }),
                  c.commands);
    }
}

TEST_F(PacingTest, APaceOutsideItsRangeIsAUsageError) {
    for (const char* pace : {"-1", "60001", "fast"}) {
        SCOPED_TRACE(pace);
        const zqtest::ToolRun run = Run({"--pace", pace, "list"});
        EXPECT_EQ(run.exit, 2);
        EXPECT_NE(run.err.find("--pace"), std::string::npos) << run.err;
        EXPECT_EQ(world.VendorCodes(), std::vector<int>{});
    }
}

}  // namespace
