// A thousand rounds of each way the panel opens and closes the camera - connect and disconnect,
// failed connections, release and reconnect, unplug and replug - must leave exactly the handles
// the state calls for and close none twice.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/faults/panel_faults.h"

namespace faults {
namespace {

constexpr int kRounds = 1000;

// A volume record for drive E.
const std::vector<std::uint8_t> kVolumeE = zqtest::VolumeRecord(zqtest::DriveBit('E'));

// Each round ends with Forget(), so that a thousand rounds stay small.
class CycleTest : public PanelFaultTest {};

TEST_F(CycleTest, ConnectAndDisconnectAThousandTimes) {
    for (int round = 0; round < kRounds; ++round) {
        ConnectCamera(window);
        ASSERT_EQ(g_bConnected, 1) << "round " << round;
        ASSERT_EQ(world.OpenHandleCount(), 1u) << "round " << round;
        DisconnectCamera(window);
        ASSERT_EQ(world.OpenHandleCount(), 0u) << "round " << round;
        Forget();
    }
    ExpectPanel(NotConnected(), 0);
    EXPECT_EQ(world.TotalOpened(), world.TotalClosed());
}

struct FailedConnect {
    const char* name;
    std::function<void(sim::World&)> arrange;
    std::int32_t linkError;
};

void PrintTo(const FailedConnect& row, std::ostream* out) {
    *out << row.name;
}

class FailedConnectCycleTest : public CycleTest,
                               public ::testing::WithParamInterface<FailedConnect> {};

TEST_P(FailedConnectCycleTest, AThousandFailedConnectionsLeaveNothingOpen) {
    GetParam().arrange(world);
    for (int round = 0; round < kRounds; ++round) {
        ConnectCamera(window);
        ASSERT_EQ(world.OpenHandleCount(), 0u) << "round " << round;
        Forget();
    }
    ExpectPanel(NotConnected(), 0);
    EXPECT_EQ(g_nLinkError, GetParam().linkError);
    EXPECT_EQ(world.TotalOpened(), world.TotalClosed());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedConnectCycleTest,
    ::testing::Values(
        FailedConnect{"CameraNotReady", [](sim::World& w) { w.camera().state = 1; }, 0},
        FailedConnect{
            "StateQueryFails",
            [](sim::World& w) { w.InjectVendorFault(14, sim::Fault::CallFails(sim::kAlways)); }, 0},
        FailedConnect{
            "InquiryFails",
            [](sim::World& w) { w.InjectInquiryFault(sim::Fault::CallFails(sim::kAlways)); },
            LINK_ERR_NOT_OPEN},
        FailedConnect{"CameraAbsent", [](sim::World& w) { w.UnplugCamera('E'); },
                      LINK_ERR_NOT_OPEN}),
    zqtest::ByName());

TEST_F(CycleTest, ReleaseAndReconnectAThousandTimes) {
    ConnectCamera(window);
    for (int round = 0; round < kRounds; ++round) {
        OnOpenFolder(window);
        ASSERT_EQ(g_bConnected, 1) << "round " << round;
        ASSERT_EQ(world.OpenHandleCount(), 1u) << "round " << round;
        Forget();
    }
    EXPECT_EQ(world.camera().releases, kRounds);
    ExpectPanel(Connected({1, 1, 1}), 1);
}

// The camera's drive goes away and comes back as E: each time, announced by the system's volume
// events; the handle from before each unplug is dead and must still be closed exactly once.
TEST_F(CycleTest, UnplugAndReplugAThousandTimes) {
    ConnectCamera(window);
    for (int round = 0; round < kRounds; ++round) {
        const sim::Camera unplugged = world.UnplugCamera('E');
        OnDeviceChange(window, os::dbt::kDeviceRemoveComplete, kVolumeE.data());
        ASSERT_EQ(g_bConnected, 0) << "round " << round;
        ASSERT_EQ(world.OpenHandleCount(), 0u) << "round " << round;
        world.PlugCamera('E', unplugged);
        OnDeviceChange(window, os::dbt::kDeviceArrival, kVolumeE.data());
        ASSERT_EQ(g_bConnected, 1) << "round " << round;
        ASSERT_EQ(world.OpenHandleCount(), 1u) << "round " << round;
        Forget();
    }
    EXPECT_EQ(g_strArrivalDrive, L"E");
    ExpectPanel(Connected({1, 1, 1}), 1);
}

}  // namespace
}  // namespace faults
