// The Linux watch's source of arrivals on a /dev and a sysfs tree of its own: which nodes count,
// when an arrival is told, and how the watch ends (time-out, Ctrl+C, a folder it cannot watch).
// Against the guest's kernel and devtmpfs it runs in tests/guest/cli_scenarios_test.cpp.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "cli/arrivals_linux.h"
#include "tests/support/sim_test.h"

namespace {

namespace fs = std::filesystem;
using Kind = cli::WatchEvent::Kind;

class LinuxArrivalsTest : public ::testing::Test {
  public:
    void SetUp() override {
        char pattern[] = "/tmp/zq-linux-arrivals.XXXXXX";
        root = mkdtemp(pattern);
        settings.roots.sys = (root / "sys").string();
        settings.roots.dev = (root / "dev").string();
        settings.settleMs = 30;
        settings.giveUpMs = 300;
        fs::create_directories(root / "dev");
    }
    void TearDown() override { fs::remove_all(root); }

    // A node in /dev, and (unless `type` is empty) its device in sysfs as the kernel shows it once
    // its scan is over: vendor and type, and for a disk (type 0) its block device.
    void Node(const std::string& name, const std::string& type = "0") {
        if (!type.empty()) {
            const fs::path device = root / "sys/class/scsi_generic" / name / "device";
            fs::create_directories(device);
            std::ofstream(device / "vendor") << "KMZ     \n";
            std::ofstream(device / "type") << type << "\n";
            if (type == "0") {
                fs::create_directories(device / "block" / ("sd" + name));
            }
        }
        std::ofstream(root / "dev" / name).flush();
    }

    // Every event until (and with) the first that is no arrival.
    std::vector<cli::WatchEvent> Events(cli::EventSource& source) {
        std::vector<cli::WatchEvent> events;
        do {
            events.push_back(source.Next());
        } while (events.back().kind == Kind::kArrival && events.size() < 10);
        return events;
    }

    std::string Dev(const std::string& name) const { return (root / "dev" / name).string(); }

    fs::path root;
    cli::ArrivalSettings settings;
};

struct ArrivalCase {
    const char* name;
    std::vector<std::string> before;                 // nodes there before the watch starts
    std::function<void(LinuxArrivalsTest&)> during;  // what happens once it runs
    std::vector<std::string> arrivals;               // the nodes told, in order
};

void PrintTo(const ArrivalCase& c, std::ostream* out) {
    *out << c.name;
}

class Arrivals : public LinuxArrivalsTest, public ::testing::WithParamInterface<ArrivalCase> {};

TEST_P(Arrivals, AreTheNewGenericNodes) {
    const ArrivalCase& c = GetParam();
    for (const std::string& name : c.before) {
        Node(name);
    }
    cli::LinuxArrivals arrivals(settings);
    std::uint32_t error = 0;
    const std::unique_ptr<cli::EventSource> source = arrivals.Start(1500, error);
    ASSERT_NE(source, nullptr) << error;
    c.during(*this);

    const std::vector<cli::WatchEvent> events = Events(*source);
    ASSERT_EQ(events.size(), c.arrivals.size() + 1);
    for (std::size_t i = 0; i < c.arrivals.size(); ++i) {
        EXPECT_EQ(events[i].device, Dev(c.arrivals[i])) << i;
    }
    EXPECT_EQ(events.back().kind, Kind::kTimeout);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, Arrivals,
    ::testing::Values(
        ArrivalCase{
            "ANodeWhoseScanIsOver", {}, [](LinuxArrivalsTest& test) { test.Node("sg3"); }, {"sg3"}},
        ArrivalCase{"TwoNodesInTheOrderTheyCame",
                    {},
                    [](LinuxArrivalsTest& test) {
                        test.Node("sg7");
                        test.Node("sg2");
                    },
                    {"sg7", "sg2"}},
        ArrivalCase{"ANodeThatIsNoDiskNeedsNoBlockDevice",
                    {},
                    [](LinuxArrivalsTest& test) { test.Node("sg4", "5"); },
                    {"sg4"}},
        ArrivalCase{"ANodeWhoseScanNeverEndsIsToldInTheEnd",
                    {},
                    [](LinuxArrivalsTest& test) { test.Node("sg5", ""); },
                    {"sg5"}},
        ArrivalCase{"OtherNamesAreNoArrivals",
                    {},
                    [](LinuxArrivalsTest& test) {
                        for (const char* name : {"sda", "tty5", "sg", "sgx1", "sg1a", "bsg"}) {
                            test.Node(name, "");
                        }
                    },
                    {}},
        ArrivalCase{"ANodeThatWentBeforeItSettled",
                    {},
                    [](LinuxArrivalsTest& test) {
                        test.Node("sg6");
                        fs::remove(test.root / "dev/sg6");
                    },
                    {}},
        ArrivalCase{
            "NodesThatWereThereBefore",
            {"sg0", "sg1"},
            [](LinuxArrivalsTest& test) { std::ofstream(test.root / "dev/sg0") << "touched"; },
            {}}),
    zqtest::ByName{});

// A node whose device the kernel is still setting up is not told yet; when it goes again (a
// device whose scan failed), it is never told. The watch gives up waiting for the scan (800 ms)
// well before it times out (1500 ms), so a node still pending after it went would be told.
TEST_F(LinuxArrivalsTest, ANodeIsNotToldBeforeItsScanIsOver) {
    settings.giveUpMs = 800;
    cli::LinuxArrivals arrivals(settings);
    std::uint32_t error = 0;
    const std::unique_ptr<cli::EventSource> source = arrivals.Start(1500, error);
    ASSERT_NE(source, nullptr) << error;
    Node("sg3", "");
    std::thread gone([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        fs::remove(root / "dev/sg3");
    });
    const cli::WatchEvent event = source->Next();
    gone.join();
    EXPECT_EQ(event.kind, Kind::kTimeout) << event.device;
}

TEST_F(LinuxArrivalsTest, CtrlCStopsTheWatchAndLeavesNothingPending) {
    sigset_t before;
    sigprocmask(SIG_SETMASK, nullptr, &before);
    {
        cli::LinuxArrivals arrivals(settings);
        std::uint32_t error = 0;
        const std::unique_ptr<cli::EventSource> source = arrivals.Start(std::nullopt, error);
        ASSERT_NE(source, nullptr) << error;
        ASSERT_EQ(kill(getpid(), SIGINT), 0);
        EXPECT_EQ(source->Next().kind, Kind::kStop);
        // A second Ctrl+C while the watch winds down ends nothing.
        ASSERT_EQ(kill(getpid(), SIGINT), 0);
    }
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGINT), 0);
    sigset_t after;
    sigprocmask(SIG_SETMASK, nullptr, &after);
    EXPECT_EQ(sigismember(&after, SIGINT), sigismember(&before, SIGINT));
    EXPECT_EQ(sigismember(&after, SIGTERM), sigismember(&before, SIGTERM));
}

TEST_F(LinuxArrivalsTest, SigtermStopsTheWatchToo) {
    cli::LinuxArrivals arrivals(settings);
    std::uint32_t error = 0;
    const std::unique_ptr<cli::EventSource> source = arrivals.Start(std::nullopt, error);
    ASSERT_NE(source, nullptr) << error;
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    EXPECT_EQ(source->Next().kind, Kind::kStop);
}

TEST_F(LinuxArrivalsTest, AFolderThatCannotBeWatchedFailsTheStart) {
    settings.roots.dev = (root / "no-such-folder").string();
    cli::LinuxArrivals arrivals(settings);
    std::uint32_t error = 0;
    EXPECT_EQ(arrivals.Start(std::nullopt, error), nullptr);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
}

TEST_F(LinuxArrivalsTest, TheWatchedFolderGoingFailsTheWatch) {
    cli::LinuxArrivals arrivals(settings);
    std::uint32_t error = 0;
    const std::unique_ptr<cli::EventSource> source = arrivals.Start(std::nullopt, error);
    ASSERT_NE(source, nullptr) << error;
    fs::remove_all(root / "dev");
    const cli::WatchEvent event = source->Next();
    EXPECT_EQ(event.kind, Kind::kFailed);
    EXPECT_EQ(event.systemError, static_cast<std::uint32_t>(ENODEV));
}

}  // namespace
