// The camera link against the simulated camera: one vendor command through the transport, and a
// whole discovery scan over the 23 letters D to Z. The figures include the simulator's own work
// (it decodes every request and records it in its trace), so they bound the program's share from
// above; on a real computer the device's answer time dominates.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "bench/heap_count.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "link/transport.h"
#include "os/os.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/process_state.h"

namespace {

constexpr std::array<std::uint8_t, 16> kGetState = {0, 0, 0, 0xFE, 0x60, 0, 0, 14};

os::Handle OpenCameraOnE() {
    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    world.PlugCamera('E');
    return os::CreateFileW(L"\\\\.\\E:", os::kGenericRead | os::kGenericWrite,
                           os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
}

struct Allocations {
    double transport;  // the transport's own share, which must be none
    double simulator;  // what the simulator takes to answer (and record) the request
};

// Heap allocations per SendVendorCommand, and those the simulator makes when it is handed the
// same request directly; the difference is the transport's own.
Allocations AllocationsPerCommand(os::Handle handle) {
    constexpr int kCalls = 1000;
    sim::World& world = sim::TheWorld();
    std::array<std::uint8_t, 16> block = kGetState;
    std::uint8_t result[8] = {};
    std::vector<std::uint8_t> request(kPassThroughRequestSize);
    BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize>(request), kGetState,
                            8);
    request[os::spt::kCdb] = 0xFA;
    request[os::spt::kCdb + 1] = 0x55;
    request[os::spt::kCdb + 2] = 0x66;
    world.ClearTrace();

    const std::size_t start = heapcount::Allocations();
    for (int i = 0; i < kCalls; ++i) {
        SendVendorCommand(block, result, handle);
        world.ClearTrace();
    }
    const std::size_t throughTransport = heapcount::Allocations() - start;

    const std::size_t middle = heapcount::Allocations();
    for (int i = 0; i < kCalls; ++i) {
        std::uint32_t returned = 0;
        world.DeviceIoControl(handle, os::kIoctlScsiPassThrough, request.data(), 44, request.data(),
                              88, &returned);
        world.ClearTrace();
    }
    const std::size_t simulatorAlone = heapcount::Allocations() - middle;
    return {(static_cast<double>(throughTransport) - static_cast<double>(simulatorAlone)) / kCalls,
            static_cast<double>(simulatorAlone) / kCalls};
}

void BM_SendVendorCommand(benchmark::State& state) {
    const os::Handle handle = OpenCameraOnE();
    sim::World& world = sim::TheWorld();
    std::uint8_t result[8] = {};
    std::size_t sent = 0;
    for (auto _ : state) {
        std::array<std::uint8_t, 16> block = kGetState;
        benchmark::DoNotOptimize(SendVendorCommand(block, result, handle));
        benchmark::DoNotOptimize(result);
        if (++sent % 1024 == 0) {
            world.ClearTrace();
        }
    }
    const Allocations allocations = AllocationsPerCommand(handle);
    state.counters["transport_heap_allocs"] = allocations.transport;
    state.counters["sim_heap_allocs"] = allocations.simulator;
    os::CloseHandle(handle);
}
BENCHMARK(BM_SendVendorCommand);

// The part of every command that does not depend on the device: zero-filling the 65616-byte
// request and filling in its head.
void BM_BuildPassThroughRequest(benchmark::State& state) {
    std::vector<std::uint8_t> request(kPassThroughRequestSize);
    for (auto _ : state) {
        BuildPassThroughRequest(std::span<std::uint8_t, kPassThroughRequestSize>(request),
                                kGetState, 8);
        benchmark::DoNotOptimize(request.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kPassThroughRequestSize));
}
BENCHMARK(BM_BuildPassThroughRequest);

// The drives D to Y hold nothing, or disks that answer the INQUIRY with byte 3 = 2; the camera is
// on Z or nowhere.
enum Layout : int { kCameraOnZEmpty, kCameraOnZBehindDisks, kNoCameraAllDisks, kNoDrives };

void BM_FindCamera(benchmark::State& state) {
    const auto layout = static_cast<Layout>(state.range(0));
    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    const bool disks = layout == kCameraOnZBehindDisks || layout == kNoCameraAllDisks;
    for (char letter = 'D'; letter <= 'Y'; ++letter) {
        if (disks) {
            world.AddDisk(letter);
        }
    }
    if (layout == kCameraOnZEmpty || layout == kCameraOnZBehindDisks) {
        world.PlugCamera('Z');
    } else if (layout == kNoCameraAllDisks) {
        world.AddDisk('Z');
    }
    const char* const labels[] = {"camera on Z, D-Y empty", "camera on Z, D-Y disks",
                                  "no camera, D-Z disks", "no camera, no drives"};
    state.SetLabel(labels[layout]);

    std::int32_t err = 0;
    const std::size_t openedBefore = world.TotalOpened();
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindCamera(err));
        CloseCamera(err);
        world.ClearTrace();
    }
    state.counters["handles_opened"] =
        benchmark::Counter(static_cast<double>(world.TotalOpened() - openedBefore),
                           benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FindCamera)
    ->Arg(kCameraOnZEmpty)
    ->Arg(kCameraOnZBehindDisks)
    ->Arg(kNoCameraAllDisks)
    ->Arg(kNoDrives);

}  // namespace
