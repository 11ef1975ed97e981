// The watch held over many plug cycles: `zelquin-cli watch --sync-time` runs while a camera is
// plugged in and unplugged again and again, at intervals drawn from a fixed seed. Each arrival
// must be handled exactly once (one output line, one date and one time command at the camera),
// the tool must hold no node of the camera once it has gone, and its descriptors, threads and
// resident memory must be the same at the end as after the first cycle.
//
// The test command runs ZQ_SOAK_CYCLES cycles (20 by default: about a minute in the emulated
// guest); scripts/soak-linux.sh runs the full 200 (docs/reliability.md has its figures).
// ZQ_SOAK_SEED chooses the intervals (1 by default). The figures of a run are appended to
// soak-figures.txt in the results folder.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/hostile.h"
#include "tests/guest/guest_fixture.h"
#include "tests/guest/scenario.h"

namespace {

using guest::Background;
using guest::GuestBench;
using guest::Served;
using guest::WaitFor;
using guest::Watching;

// How much the resident memory may grow between the first cycle and the last, in pages of
// 4 KiB: the C library's heap may keep a few pages more after a burst of short-lived threads.
constexpr long kRssSlackPages = 16;
constexpr long kPageKiB = 4;

struct Resources {
    std::size_t files = 0;
    long threads = 0;
    long rssKiB = 0;
    std::vector<std::string> nodes;  // descriptors on /dev/sg* or /dev/sd*
};

Resources Sample(pid_t pid) {
    Resources resources;
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::vector<std::string> targets = guest::OpenFiles(pid);
    resources.files = targets.size();
    for (const std::string& target : targets) {
        if (target.rfind("/dev/sg", 0) == 0 || target.rfind("/dev/sd", 0) == 0) {
            resources.nodes.push_back(target);
        }
    }
    std::ifstream status(proc + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            resources.threads = std::atol(line.c_str() + 8);
        } else if (line.rfind("VmRSS:", 0) == 0) {
            resources.rssKiB = std::atol(line.c_str() + 6);
        }
    }
    return resources;
}

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The clock commands the camera carried out, from the server's log: set date (4), set time (3).
std::size_t ClockCommands(const std::string& logPath, int code) {
    char block[32];
    std::snprintf(block, sizeof block, "cdb=FA 55 66 FE 06 00 00 %02X", code);
    std::ifstream log(logPath);
    std::size_t count = 0;
    std::string line;
    while (std::getline(log, line)) {
        if (line.find(block) != std::string::npos &&
            line.find(" csw=0 status=0") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

unsigned Setting(const char* name, unsigned fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != 0 ? static_cast<unsigned>(std::atoi(value)) : fallback;
}

using Soak = guest::Scenario;

TEST_F(Soak, WatchHandlesEveryArrivalOnceAndKeepsItsResources) {
    const unsigned cycles = Setting("ZQ_SOAK_CYCLES", 20);
    const unsigned seed = Setting("ZQ_SOAK_SEED", 1);
    sim::SplitMix64 random(seed);
    const std::string world = "camera E\n";

    Served& camera = bench->Serve("");
    bench->Attach();
    Background watch({ZELQUIN_CLI, "watch", "--sync-time"});
    ASSERT_TRUE(WaitFor([&] { return Watching(watch.pid()); })) << "the watch did not start";

    Resources first;
    Resources last;
    unsigned done = 0;
    std::size_t nodesHeld = 0;
    const auto begun = std::chrono::steady_clock::now();
    for (unsigned cycle = 1; cycle <= cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        camera.Rewrite(world);
        // The arrival is handled: its line is out.
        if (!WaitFor([&] { return Lines(watch.OutSoFar()) >= cycle; }, std::chrono::seconds(30))) {
            ADD_FAILURE() << "no arrival line";
            break;
        }
        // It stays a while, then goes; away a while before the next cycle.
        std::this_thread::sleep_for(std::chrono::milliseconds(random.Below(1000)));
        camera.Rewrite("");
        if (!WaitFor([] { return GuestBench::NodeCount() == 0; }, std::chrono::seconds(30))) {
            ADD_FAILURE() << "the camera did not go";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + random.Below(900)));
        const Resources now = Sample(watch.pid());
        nodesHeld += now.nodes.size();
        EXPECT_TRUE(now.nodes.empty()) << "the watch holds " << now.nodes.front();
        if (cycle == 1) {
            first = now;
        }
        last = now;
        ++done;
    }
    const long long seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begun)
            .count();
    watch.Signal(SIGINT);
    const guest::CommandResult run = watch.Wait(std::chrono::seconds(30));

    EXPECT_EQ(done, cycles) << "fewer cycles than asked";
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.signal, 0);
    // Each arrival exactly once: a line each, and the clock set once each.
    EXPECT_EQ(Lines(run.out), cycles) << run.out;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_NE(line.find(" arrived: state 2 (ready); clock set to "), std::string::npos) << line;
    }
    EXPECT_EQ(ClockCommands(camera.logPath(), 4), cycles);
    EXPECT_EQ(ClockCommands(camera.logPath(), 3), cycles);
    // The same resources at the end as after the first cycle.
    EXPECT_EQ(last.files, first.files);
    EXPECT_EQ(last.threads, first.threads);
    const long growthPages = (last.rssKiB - first.rssKiB) / kPageKiB;
    EXPECT_LE(growthPages, kRssSlackPages)
        << "resident memory grew from " << first.rssKiB << " KiB to " << last.rssKiB << " KiB";

    const char* logs = std::getenv("ZQ_GUEST_LOGS");
    std::ofstream(std::string(logs != nullptr && *logs != 0 ? logs : "/tmp") + "/soak-figures.txt",
                  std::ios::app)
        << "seed=" << seed << " cycles=" << done << "/" << cycles << " arrivals=" << Lines(run.out)
        << " date-commands=" << ClockCommands(camera.logPath(), 4)
        << " time-commands=" << ClockCommands(camera.logPath(), 3) << " seconds=" << seconds
        << " files=" << first.files << "->" << last.files << " threads=" << first.threads << "->"
        << last.threads << " rss-kib=" << first.rssKiB << "->" << last.rssKiB
        << " rss-growth-pages=" << growthPages << " nodes-held=" << nodesHeld << "\n";
}

}  // namespace
