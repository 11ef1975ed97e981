// The camera volume lookup over 26 removable drives, every one of which is opened and asked for
// its storage device descriptor (one of them the camera's "KMZ" volume, or none).
#include <benchmark/benchmark.h>

#include <string>

#include "host/volume.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/process_state.h"

namespace {

void BM_FindCameraVolume(benchmark::State& state) {
    const bool cameraPresent = state.range(0) != 0;
    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        world.AddDrive(letter, os::kDriveRemovable).descriptor = sim::DescriptorWithVendor(
            cameraPresent && letter == 'K' ? sim::kCameraVendorId : "GENERIC ");
    }
    state.SetLabel(cameraPresent ? "26 removable, camera on K" : "26 removable, no camera");

    std::size_t found = 0;
    for (auto _ : state) {
        const std::wstring volume = FindCameraVolume();
        found += volume == L"K:\\" ? 1 : 0;
        world.ClearTrace();
    }
    state.counters["found"] =
        benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FindCameraVolume)->Arg(1)->Arg(0);

}  // namespace
