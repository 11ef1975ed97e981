// The fixture every guest scenario stands on: it starts on an empty USB bus and leaves one behind
// (GuestBench), plugs simulated cameras in and waits for the kernel, and finds the camera with
// the Linux layer. `Command` is the table-driven scenario of one command (guest::CommandScenario):
// its body is in scenarios_test.cpp, and its tables (the probe's, the command-line tool's) are
// instantiated beside the scenarios they belong with.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "os/linux/scsi_generic.h"
#include "tests/guest/guest_fixture.h"

namespace guest {

inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNogroup = 65534;

// The cameras the Linux layer finds, in node order.
inline std::vector<sg::Candidate> Cameras() {
    std::vector<sg::Candidate> cameras;
    for (sg::Candidate& candidate : sg::Discover()) {
        if (candidate.camera) {
            cameras.push_back(std::move(candidate));
        }
    }
    return cameras;
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
        const std::vector<sg::Candidate> cameras = Cameras();
        EXPECT_EQ(cameras.size(), 1u);
        if (cameras.size() != 1) {
            return -1;
        }
        const sg::OpenResult opened = sg::OpenNode(cameras[0].node.path);
        EXPECT_TRUE(opened.ok()) << opened.message;
        return opened.fd;
    }

    std::unique_ptr<GuestBench> bench;
};

class Command : public Scenario, public ::testing::WithParamInterface<CommandScenario> {};

}  // namespace guest
