// The fixture of the tool's tests: the simulated computer behind the seam backend, a scripted
// source of arrival events, and the tool's output kept apart as standard output and standard
// error. Every test ends with no device handle left open.
//
// With ZQ_CLI_JSON_SAMPLES set to a folder, every JSON document a test parses is also written
// there, one file each, for the schema check (json_schema_check.py).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/backend.h"
#include "cli/backend_seam.h"
#include "cli/tool.h"
#include "sim/letters.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/clock_bytes.h"
#include "tests/support/sim_test.h"

namespace zqtest {

using Json = nlohmann::json;

// The watch tells each camera from the thread that set it up, so the output is written under a
// lock and can be waited for.
struct RecordedOutput : cli::Output {
    std::string out;
    std::string err;
    std::vector<std::string> outWrites;  // each Out call, in order
    void Out(std::string_view text) override {
        const std::lock_guard lock(mutex);
        out += text;
        outWrites.emplace_back(text);
        written.notify_all();
    }
    void Err(std::string_view text) override {
        const std::lock_guard lock(mutex);
        err += text;
    }
    // Waits (a few seconds at most) until standard output was written `count` times.
    bool WaitForOutWrites(std::size_t count) {
        std::unique_lock lock(mutex);
        return written.wait_for(lock, std::chrono::seconds(10),
                                [&] { return outWrites.size() >= count; });
    }
    std::mutex mutex;
    std::condition_variable written;
};

// A source of arrival events that counts its starts, keeps the time-out it was given, and can
// be told to fail to start with a system error.
class CountedEvents : public cli::EventSourceFactory {
  public:
    bool failToStart = false;
    std::uint32_t startError = 0;
    int starts = 0;
    std::optional<std::uint32_t> timeoutGiven;

    std::unique_ptr<cli::EventSource> Start(std::optional<std::uint32_t> timeoutMs,
                                            std::uint32_t& systemError) final {
        ++starts;
        timeoutGiven = timeoutMs;
        if (failToStart) {
            systemError = startError;
            return nullptr;
        }
        return Started();
    }

  protected:
    virtual std::unique_ptr<cli::EventSource> Started() = 0;
};

// Arrival events as a test scripts them: each step may change the world first (plug a camera
// in), then names the event. When the steps run out the user presses Ctrl+C.
class ScriptedEvents : public CountedEvents {
  public:
    struct Step {
        std::function<void()> before;
        cli::WatchEvent event;
        std::size_t afterOutWrites = 0;  // taken once the tool has written this much
    };

    std::deque<Step> steps;
    int eventsTaken = 0;
    RecordedOutput* output = nullptr;  // the running tool's, while it runs
    sim::World* world = nullptr;       // changed by the steps under its lock, while it runs

    void Arrive(char letter, std::function<void()> before = {}) {
        steps.push_back({std::move(before),
                         {cli::WatchEvent::Kind::kArrival, std::string(1, letter) + ":", 0}});
    }
    // An arrival that comes only once the tool has told `lines` cameras (written that many times
    // to standard output): the cameras before it are no longer being set up.
    void ArriveOnceTold(std::size_t lines, char letter, std::function<void()> before = {}) {
        Arrive(letter, std::move(before));
        steps.back().afterOutWrites = lines;
    }
    void Then(cli::WatchEvent::Kind kind, std::uint32_t error = 0) {
        steps.push_back({{}, {kind, {}, error}});
    }

  protected:
    std::unique_ptr<cli::EventSource> Started() override { return std::make_unique<Source>(*this); }

  private:
    struct Source : cli::EventSource {
        explicit Source(ScriptedEvents& owner) : owner_(owner) {}
        cli::WatchEvent Next() override {
            ++owner_.eventsTaken;
            if (owner_.steps.empty()) {
                return {cli::WatchEvent::Kind::kStop, {}, 0};
            }
            Step step = std::move(owner_.steps.front());
            owner_.steps.pop_front();
            if (step.afterOutWrites > 0) {
                EXPECT_TRUE(owner_.output != nullptr &&
                            owner_.output->WaitForOutWrites(step.afterOutWrites))
                    << "the tool did not tell " << step.afterOutWrites << " cameras";
            }
            if (step.before) {
                // The watch may still be setting up cameras that arrived earlier.
                std::unique_lock<std::recursive_mutex> lock;
                if (owner_.world != nullptr) {
                    lock = owner_.world->Lock();
                }
                step.before();
            }
            return step.event;
        }
        ScriptedEvents& owner_;
    };
};

// The simulated computer's volume arrivals, as Windows announces them: each look compares the
// world's letters (and the camera volumes on letters that stayed) with the last look's, the
// first with the world as it was when listening started. `meanwhile` holds changes to the world
// made while the tool waits, one before each further look; when they have run out and nothing
// has arrived, the time given is over.
class WorldArrivals : public CountedEvents {
  public:
    explicit WorldArrivals(sim::World& world) : world_(world) {}

    std::deque<std::function<void()>> meanwhile;

  protected:
    std::unique_ptr<cli::EventSource> Started() override {
        return std::make_unique<Source>(*this, sim::LettersOf(world_));
    }

  private:
    struct Source : cli::EventSource {
        Source(WorldArrivals& owner, sim::LetterState seen) : owner_(owner), seen_(seen) {}
        cli::WatchEvent Next() override {
            while (pending_.empty()) {
                if (looked_) {
                    if (owner_.meanwhile.empty()) {
                        return {cli::WatchEvent::Kind::kTimeout, {}, 0};
                    }
                    owner_.meanwhile.front()();
                    owner_.meanwhile.pop_front();
                }
                looked_ = true;
                const sim::LetterState now = sim::LettersOf(owner_.world_);
                for (const sim::LetterEvent& event : sim::VolumeEvents(seen_, now)) {
                    if (event.arrival) {
                        pending_.push_back(std::string(1, event.letter) + ":");
                    }
                }
                seen_ = now;
            }
            const std::string device = pending_.front();
            pending_.pop_front();
            return {cli::WatchEvent::Kind::kArrival, device, 0};
        }
        WorldArrivals& owner_;
        sim::LetterState seen_;
        std::deque<std::string> pending_;
        bool looked_ = false;
    };

    sim::World& world_;
};

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string err;
    std::vector<std::string> outWrites;
};

// What the tool reports of a clock it set to a row of the clock table: "clock set to 2025-03-07
// 14:05:09 (date command 4: 19 03 07, time command 3: 0E 05 09)".
inline std::string ClockReport(const ClockRow& row) {
    return std::string("clock set to ") + row.text + " (date command " +
           std::to_string(kSetDateCode) + ": " + ClockHex(row.date) + ", time command " +
           std::to_string(kSetTimeCode) + ": " + ClockHex(row.time) + ")";
}

class CliTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        SetLocalClock(kClock);
    }

    // Sets the simulated computer's local time to a row of the clock table.
    static void SetLocalClock(const ClockRow& row) {
        const LocalClock& t = row.local;
        sim::TheSystem().SetLocalTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
    }

    void TearDown() override {
        EXPECT_EQ(world.OpenHandleCount(), 0u) << "a device handle was left open";
        EXPECT_EQ(world.BadCloses(), 0u);
        SimTest::TearDown();
    }

    // Runs "zelquin-cli ARGS...".
    ToolRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), "zelquin-cli");
        RecordedOutput output;
        cli::SeamBackend backend(arrivals);
        ToolRun run;
        events.output = &output;
        events.world = &world;
        run.exit = cli::RunTool(args, backend, events, output);
        events.output = nullptr;
        events.world = nullptr;
        run.out = output.out;
        run.err = output.err;
        run.outWrites = output.outWrites;
        return run;
    }

    // Runs with --json and parses standard output as one document.
    Json RunJson(std::vector<std::string> args, int expectedExit) {
        args.push_back("--json");
        const ToolRun run = Run(args);
        EXPECT_EQ(run.exit, expectedExit) << run.err;
        EXPECT_EQ(run.err, "") << "JSON mode writes nothing else";
        Json document = Json::parse(run.out);
        KeepSample(run.out);
        return document;
    }

    // Each line of standard output parsed as a JSON document (the watch's lines).
    std::vector<Json> JsonLines(const std::string& out) {
        std::vector<Json> lines;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            lines.push_back(Json::parse(line));
            KeepSample(line);
        }
        return lines;
    }

    static void KeepSample(const std::string& text) {
        const char* folder = std::getenv("ZQ_CLI_JSON_SAMPLES");
        if (folder == nullptr) {
            return;
        }
        static int next = 0;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        std::ofstream(std::string(folder) + "/" + name + "." + std::to_string(next++) + ".json")
            << text;
    }

    ScriptedEvents events;
    WorldArrivals arrivals{world};
};

}  // namespace zqtest
