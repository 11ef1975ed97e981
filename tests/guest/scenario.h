// The fixture every guest scenario stands on: it starts on an empty USB bus and leaves one behind
// (GuestBench), plugs simulated cameras in and waits for the kernel, and finds the camera with
// the tool's own rule (its Linux backend). `Command` is the table-driven scenario of one command
// (guest::CommandScenario): its body is in scenarios_test.cpp, and its tables (the probe's, the
// command-line tool's) are instantiated beside the scenarios they belong with.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/backend_linux.h"
#include "cli/sense.h"
#include "link/protocol.h"
#include "os/linux/scsi_generic.h"
#include "tests/guest/guest_fixture.h"

namespace guest {

inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNogroup = 65534;

// A SCSI generic node as the tool's Linux backend finds it: its identity from sysfs, and what
// opening it and asking its INQUIRY found (a camera's node is closed again).
struct Seen {
    sg::Node node;
    cli::Probe probe;
    bool camera() const { return probe.result == cli::ProbeResult::kCamera; }
};

// Every node, in node order.
inline std::vector<Seen> Look() {
    cli::LinuxBackend backend;
    std::vector<Seen> seen;
    for (sg::Node& node : sg::ListNodes()) {
        cli::Probe probe = backend.ProbeDevice(node.path);
        if (probe.result == cli::ProbeResult::kCamera) {
            backend.Close(probe.id);
            probe.id = 0;
        }
        seen.push_back({std::move(node), std::move(probe)});
    }
    return seen;
}

// The cameras the tool finds, in node order.
inline std::vector<Seen> Cameras() {
    std::vector<Seen> cameras;
    for (Seen& seen : Look()) {
        if (seen.camera()) {
            cameras.push_back(std::move(seen));
        }
    }
    return cameras;
}

// The kernel's report of a command as the tool reads it: the camera protocol's outcome.
inline PassThroughOutcome Read(const sg::Outcome& raw) {
    return cli::OutcomeOf(raw);
}
// The command reached the device and the device ended it with GOOD status.
inline bool Good(const sg::Outcome& raw) {
    return Read(raw).Good();
}
// One line for the failure messages: the category and what the kernel said.
inline std::string Describe(const sg::Outcome& raw) {
    return cli::DescribeOutcome(Read(raw), 0) + " (" + std::to_string(raw.delivered) +
           " bytes, host status " + std::to_string(raw.hostStatus) + ", driver status " +
           std::to_string(raw.driverStatus) + ")";
}

// Every scenario starts on an empty bus and leaves one behind.
class Scenario : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = GuestBench::Missing();
        ASSERT_EQ(missing, "");
        ASSERT_EQ(GuestBench::NodeCount(), 0u) << "a scenario before left a device attached";
        bench = std::make_unique<GuestBench>(Name());
    }
    void TearDown() override { bench.reset(); }

    // "Suite.Name" of the running scenario, "/" included for table rows.
    static std::string Name() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::string(info->test_suite_name()) + "." + info->name();
    }

    // Serves `world`, attaches it and waits for `nodes` nodes.
    Served& Plug(const std::string& world, std::size_t nodes = 1) {
        Served& served = bench->Serve(world);
        EXPECT_TRUE(served.Running()) << "the server did not start; see " << served.logPath();
        bench->Attach();
        EXPECT_TRUE(bench->WaitForNodes(nodes)) << "the kernel did not finish with the device";
        return served;
    }

    // Opens the one camera there is.
    int OpenCamera() {
        const std::vector<Seen> cameras = Cameras();
        EXPECT_EQ(cameras.size(), 1u);
        if (cameras.size() != 1) {
            return -1;
        }
        const sg::OpenResult opened = sg::OpenNode(cameras[0].node.path);
        EXPECT_TRUE(opened.ok()) << cli::OpenErrorText(cameras[0].node.path, opened.errnum);
        return opened.fd;
    }

    std::unique_ptr<GuestBench> bench;
};

class Command : public Scenario, public ::testing::WithParamInterface<CommandScenario> {};

}  // namespace guest
