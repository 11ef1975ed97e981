// The watch: cameras that arrive after it started are set up one line each, other arrivals are
// passed over, and it ends on Ctrl+C, after --count cameras, at --timeout or when listening fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "link/camera.h"
#include "link/pacing.h"
#include "os/os.h"
#include "tests/cli/cli_fixture.h"

namespace {

using zqtest::Json;
using Kind = cli::WatchEvent::Kind;

class WatchTest : public zqtest::CliTest {
  protected:
    std::function<void()> PlugCameraIn(char letter) {
        return [this, letter] { world.PlugCamera(letter); };
    }
};

TEST_F(WatchTest, CameraPluggedInLaterHasItsClockSetAndItsSettingsApplied) {
    world.AddDisk('D');
    events.Arrive('F', [this] { world.AddDisk('F', 2, os::kDriveRemovable); });  // a memory stick
    events.Arrive('E', PlugCameraIn('E'));

    const zqtest::ToolRun run =
        Run({"watch", "--sync-time", "--set", "overwrite=on", "--set", "resolution=720p"});

    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "E: arrived: state 2 (ready); " + zqtest::ClockReport(zqtest::kClock) +
                           "; overwrite=on confirmed; resolution=720p confirmed\n");
    EXPECT_EQ(run.outWrites.size(), 1u) << "one line, written as the camera was set up";
    EXPECT_EQ(world.camera().date, zqtest::kClock.date);
    EXPECT_EQ(world.camera().loopRecording, 1);
    EXPECT_EQ(world.camera().resolution, 1);
    EXPECT_EQ(events.eventsTaken, 3) << "two arrivals, then Ctrl+C";
    EXPECT_FALSE(events.timeoutGiven.has_value());
}

TEST_F(WatchTest, WithNothingToApplyItReportsEachCamera) {
    events.Arrive('E', PlugCameraIn('E'));

    const zqtest::ToolRun run = Run({"watch"});

    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.out, "E: arrived: state 2 (ready); firmware V1.1.0720240101\n");
    // The settings in the panel's order.
    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14, 26, 27, 28, 2, 1, 11}));
}

TEST_F(WatchTest, CameraThatBecomesReadyShortlyAfterArrivingIsWaitedFor) {
    events.Arrive('E', [this] { world.PlugCamera('E').state = 1; });
    sim::TheSystem().SetObserver([this](const sim::SystemEvent& event) {
        if (event.call == sim::SystemCall::kSleep && sim::TheSystem().TotalSleptMs() == 1000) {
            world.camera().state = 2;
        }
    });

    const zqtest::ToolRun run = Run({"watch", "--sync-time"});

    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_TRUE(world.camera().timeReceived);
    EXPECT_EQ(world.VendorCodes(), (std::vector<int>{14, 14, 14, 4, 3}));
}

TEST_F(WatchTest, CameraThatNeverBecomesReadyIsToldAndDecidesTheExitCode) {
    events.Arrive('E', [this] { world.PlugCamera('E').state = 1; });
    events.Arrive('G', [this] { world.PlugCamera('G'); });

    const zqtest::ToolRun run = Run({"watch", "--sync-time"});

    EXPECT_EQ(run.exit, 4);
    // E's looks at its state, then G's pause before its clock.
    EXPECT_EQ(
        sim::TheSystem().TotalSleptMs(),
        (cli::kArrivalStateTries - 1) * std::uint64_t{cli::kPollIntervalMs} + kSettingPauseMs);
    EXPECT_NE(run.out.find("E: arrived: state 1 (not ready); FAILED (not-ready)\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("G: arrived: state 2 (ready); clock set to"), std::string::npos)
        << "the watch goes on after a camera it could not set up";
    EXPECT_NE(run.err.find("E: the camera is not ready: its state is 1"), std::string::npos);
    EXPECT_FALSE(world.camera().timeReceived);
}

TEST_F(WatchTest, ArrivalsThatAreNoCameraArePassedOverSilently) {
    events.Arrive('F', [this] { world.AddDisk('F', 2, os::kDriveRemovable); });
    events.Arrive('G', [this] { world.AddDrive('G', os::kDriveRemovable); });  // no SCSI device
    events.Arrive('H');                                                        // gone again
    // A camera on C: stays unseen: the tool looks at D: to Z: only.
    events.Arrive('C', [this] { world.PlugCamera('C'); });

    const zqtest::ToolRun run = Run({"watch", "--sync-time"});

    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(world.VendorCodes(), std::vector<int>{});
    // G: is asked again a few times in case it was not ready yet; C: is never opened. The
    // arrivals are looked at side by side, so only the drives and their counts are certain.
    std::vector<char> opened = world.OpenedLetters();
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened, (std::vector<char>{'F', 'G', 'G', 'G', 'H'}));
}

TEST_F(WatchTest, ArrivalThatCannotBeOpenedIsToldAfterSomeTries) {
    events.Arrive('F', [this] { world.AddDrive('F', os::kDriveRemovable).opens = false; });

    const zqtest::ToolRun run = Run({"watch", "--sync-time"});

    EXPECT_EQ(run.exit, 5);
    EXPECT_EQ(world.OpenedLetters(), std::vector<char>(cli::kArrivalProbeTries, 'F'));
    EXPECT_NE(run.err.find("F: could not be opened: Access is denied. (system error 5)"),
              std::string::npos);
}

TEST_F(WatchTest, CountEndsTheWatchOnceThatManyCamerasWereSetUp) {
    events.Arrive('E', PlugCameraIn('E'));
    events.Arrive('F', [this] { world.AddDisk('F'); });
    events.Arrive('G', [this] { world.PlugCamera('G'); });
    events.Arrive('H', [this] { world.PlugCamera('H'); });

    const zqtest::ToolRun run = Run({"watch", "--count", "2", "--sync-time"});

    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(events.eventsTaken, 3);
    EXPECT_EQ(events.steps.size(), 1u) << "the last arrival is not waited for";
    EXPECT_TRUE(world.CameraOn('G')->timeReceived);
}

TEST_F(WatchTest, TimeoutBeforeEnoughCamerasIsNoCamera) {
    struct Case {
        std::vector<std::string> args;
        int cameras;
        int exit;
    };
    for (const Case& c : std::vector<Case>{{{"watch", "--timeout", "30"}, 0, 3},
                                           {{"watch", "--timeout", "30"}, 1, 0},
                                           {{"watch", "--timeout", "30", "--count", "2"}, 1, 3},
                                           {{"watch", "--timeout", "30", "--count", "2"}, 2, 0}}) {
        SCOPED_TRACE(std::to_string(c.cameras) + " " + c.args.back());
        world.Reset();
        events = zqtest::ScriptedEvents{};
        for (int i = 0; i < c.cameras; ++i) {
            const char letter = static_cast<char>('E' + i);
            events.Arrive(letter, [this, letter] { world.PlugCamera(letter); });
        }
        events.Then(Kind::kTimeout);

        const zqtest::ToolRun run = Run(c.args);

        EXPECT_EQ(run.exit, c.exit) << run.err;
        EXPECT_EQ(events.timeoutGiven, std::optional<std::uint32_t>{30000});
        if (c.exit == 3) {
            EXPECT_NE(run.err.find("the time ran out after " + std::to_string(c.cameras)),
                      std::string::npos)
                << run.err;
        }
    }
}

TEST_F(WatchTest, ListeningThatCannotStartOrBreaksDownIsASystemError) {
    events.failToStart = true;
    events.startError = os::kErrorAccessDenied;
    zqtest::ToolRun run = Run({"watch"});
    EXPECT_EQ(run.exit, 5);
    EXPECT_EQ(run.err,
              "zelquin-cli: cannot listen for arriving volumes: Access is denied. (system error "
              "5)\n");

    events = zqtest::ScriptedEvents{};
    events.failToStart = true;
    events.startError = 0;
    run = Run({"watch"});
    EXPECT_EQ(run.err,
              "zelquin-cli: cannot listen for arriving volumes: the system gave no reason\n");

    events = zqtest::ScriptedEvents{};
    events.Then(Kind::kFailed, os::kErrorGenFailure);
    run = Run({"watch"});
    EXPECT_EQ(run.exit, 5);
    EXPECT_NE(run.err.find("listening for arriving volumes failed"), std::string::npos);
}

TEST_F(WatchTest, JsonGivesOneLinePerCameraAndALastOne) {
    events.Arrive('E', PlugCameraIn('E'));
    // The fault is meant for G alone: it is injected once E is told, and so no longer set up.
    events.ArriveOnceTold(1, 'G', [this] {
        world.PlugCamera('G');
        world.InjectVendorFault(kCmdLoopRecording, sim::Fault::Ignored());
    });

    const zqtest::ToolRun run = Run({"watch", "--json", "--set", "overwrite=on"});

    EXPECT_EQ(run.exit, 7);
    EXPECT_EQ(run.err, "");
    const std::vector<Json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].at("schema"), "zelquin-cli/1");
    EXPECT_EQ(lines[0].at("command"), "watch");
    EXPECT_EQ(lines[0].at("event"), "arrival");
    EXPECT_EQ(lines[0].at("exit_code"), 0);
    EXPECT_EQ(lines[0].at("camera").at("drive"), "E:");
    EXPECT_EQ(lines[0].at("camera").at("changes").at(0).at("confirmed"), true);
    EXPECT_TRUE(lines[0].at("camera").at("clock").is_null());
    EXPECT_EQ(lines[1].at("exit_code"), 7);
    EXPECT_EQ(lines[1].at("camera").at("error").at("kind"), "mismatch");
    EXPECT_EQ(lines[2].at("event"), "stopped");
    EXPECT_EQ(lines[2].at("reason"), "interrupted");
    EXPECT_EQ(lines[2].at("cameras"), 2);
    EXPECT_EQ(lines[2].at("exit_code"), 7);
    EXPECT_EQ(lines[2].at("error").at("drive"), "G:");
}

// Cameras are set up side by side as they arrive: a slow camera holds up neither the next one's
// set-up nor the watch, and the lines still come in the order the cameras arrived.
TEST_F(WatchTest, ASlowCameraHoldsUpNoOtherAndKeepsItsPlaceInTheLines) {
    events.Arrive('E', [this] { world.PlugCamera('E').answerDelayMs = 100; });
    events.Arrive('G', [this] { world.PlugCamera('G'); });

    const zqtest::ToolRun run = Run({"watch", "--sync-time"});

    EXPECT_EQ(run.exit, 0) << run.err;
    ASSERT_EQ(run.outWrites.size(), 2u) << run.out;
    EXPECT_EQ(run.outWrites[0].substr(0, 12), "E: arrived: ");
    EXPECT_EQ(run.outWrites[1].substr(0, 12), "G: arrived: ");
    EXPECT_TRUE(world.CameraOn('E')->timeReceived);
    EXPECT_TRUE(world.CameraOn('G')->timeReceived);
    // G was opened, and done with, while E was still answering its commands one by one.
    std::optional<std::size_t> lastOfE;
    std::optional<std::size_t> firstOfG;
    std::optional<std::size_t> lastOfG;
    for (const sim::Event& event : world.events()) {
        if (event.call != sim::Call::kCreateFile && event.call != sim::Call::kCloseHandle) {
            continue;
        }
        if (event.letter == 'E') {
            lastOfE = event.index;
        } else if (event.letter == 'G') {
            firstOfG = firstOfG.value_or(event.index);
            lastOfG = event.index;
        }
    }
    ASSERT_TRUE(lastOfE && firstOfG && lastOfG);
    EXPECT_LT(*lastOfG, *lastOfE) << "the second camera waited for the first";
}

// The watch ends (Ctrl+C, the time-out) while a camera is still being set up: that camera is set
// up all the same and told, and it counts.
TEST_F(WatchTest, ACameraStillBeingSetUpWhenTheWatchEndsIsToldAndCounts) {
    struct Case {
        const char* name;
        Kind ending;
        std::vector<std::string> args;
        int exit;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{
             {"stopped", Kind::kStop, {"watch", "--json"}, 0, "interrupted"},
             {"time over", Kind::kTimeout, {"watch", "--json", "--timeout", "5"}, 0, "timeout"},
             {"time over, one of two",
              Kind::kTimeout,
              {"watch", "--json", "--timeout", "5", "--count", "2"},
              3,
              "timeout"}}) {
        SCOPED_TRACE(c.name);
        world.Reset();
        events = zqtest::ScriptedEvents{};
        events.Arrive('E', [this] { world.PlugCamera('E').answerDelayMs = 20; });
        events.Then(c.ending);

        const zqtest::ToolRun run = Run(c.args);

        EXPECT_EQ(run.exit, c.exit);
        const std::vector<Json> lines = JsonLines(run.out);
        ASSERT_EQ(lines.size(), 2u) << run.out;
        EXPECT_EQ(lines[0].at("event"), "arrival");
        EXPECT_EQ(lines[0].at("camera").at("drive"), "E:");
        EXPECT_EQ(lines[1].at("event"), "stopped");
        EXPECT_EQ(lines[1].at("reason"), c.reason);
        EXPECT_EQ(lines[1].at("cameras"), 1);
        EXPECT_EQ(lines[1].at("exit_code"), c.exit);
        EXPECT_EQ(world.OpenHandleCount(), 0u);
    }
}

}  // namespace
