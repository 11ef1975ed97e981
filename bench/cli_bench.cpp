// The tool's commands over every camera as the user waits for them, and the watch as that many
// cameras arrive at once: 1, 4 and 16 simulated cameras,
// each taking 1 ms over every command, with the default pace of 200 ms between two operations on
// a camera, the pauses really sleeping. The cameras are worked on at the same time, so 16 should
// cost about what one does; `per_one_camera` is the time over that of the same command on one
// camera, measured just before.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/backend_seam.h"
#include "cli/commands.h"
#include "cli/report.h"
#include "cli/settings.h"
#include "link/pacing.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/process_state.h"

namespace {

constexpr std::uint32_t kCommandMs = 1;

// `count` cameras on E: onwards behind a disk on D:, each answering after kCommandMs.
void LayOutCameras(int count) {
    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    sim::TheSystem().SetRealPauses(true);
    world.AddDisk('D');
    for (int i = 0; i < count; ++i) {
        const char letter = static_cast<char>('E' + i);
        sim::Camera& camera = world.PlugCamera(letter);
        camera.answerDelayMs = kCommandMs;
    }
}

using Command = cli::Report (*)(cli::Backend& backend);

cli::Report List(cli::Backend& backend) {
    return cli::RunList(backend, kSettingPauseMs);
}

cli::Report SetAll(cli::Backend& backend) {
    cli::Target target;
    target.all = true;
    return cli::RunSet(backend, target, {{cli::Setting::kTimestamp, 1}});
}

// Seconds one run of `command` takes over the cameras laid out.
double TimeOf(Command command, cli::Backend& backend, std::size_t& cameras, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    const cli::Report report = command(backend);
    const auto end = std::chrono::steady_clock::now();
    cameras = report.cameras.size();
    ok = cli::ExitOf(report) == cli::Exit::kOk;
    sim::TheWorld().ClearTrace();
    return std::chrono::duration<double>(end - start).count();
}

// list and set --all hear no volume arrivals; only release and watch listen for them.
class NoArrivals : public cli::EventSourceFactory {
  public:
    std::unique_ptr<cli::EventSource> Start(std::optional<std::uint32_t>,
                                            std::uint32_t& systemError) override {
        systemError = 0;
        return nullptr;
    }
};

// One run over the cameras laid out: its seconds; `cameras` the cameras it reported, `ok`
// whether it ended well.
using TimedRun = std::function<double(std::size_t& cameras, bool& ok)>;

// Times `run` on one camera, then on state.range(0) cameras once per iteration, and reports the
// mean over the one camera's time.
void Measure(benchmark::State& state, const TimedRun& run) {
    const int count = static_cast<int>(state.range(0));
    std::size_t cameras = 0;
    bool ok = true;

    LayOutCameras(1);
    const double oneCamera = run(cameras, ok);

    LayOutCameras(count);
    double total = 0;
    std::uint64_t failures = 0;
    for (auto _ : state) {
        const double elapsed = run(cameras, ok);
        state.SetIterationTime(elapsed);
        total += elapsed;
        failures += ok ? 0 : 1;
    }
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["cameras"] = static_cast<double>(cameras);
    state.counters["one_camera_ms"] = oneCamera * 1000.0;
    state.counters["per_one_camera"] = mean / oneCamera;
    state.counters["failures"] = static_cast<double>(failures);
    if (cameras != static_cast<std::size_t>(count) || failures > 0) {
        state.SkipWithError("not every camera was worked on");
    }
    zqtest::ResetProcessState();
}

void Run(benchmark::State& state, Command command) {
    NoArrivals arrivals;
    cli::SeamBackend backend(arrivals);
    Measure(state,
            [&](std::size_t& cameras, bool& ok) { return TimeOf(command, backend, cameras, ok); });
}

// 1, 4 and 16 cameras, each run timed by the benchmark itself (real pauses), five runs each.
void OverOneFourAndSixteenCameras(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1)
        ->Arg(4)
        ->Arg(16)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5);
}

void BM_List(benchmark::State& state) {
    Run(state, List);
}
BENCHMARK(BM_List)->Apply(OverOneFourAndSixteenCameras);

void BM_SetAll(benchmark::State& state) {
    Run(state, SetAll);
}
BENCHMARK(BM_SetAll)->Apply(OverOneFourAndSixteenCameras);

// The watch as N cameras arrive at once (a hub plugged in): the arrivals of the cameras laid
// out, then Ctrl+C; each camera has its clock set. The watch ends once every camera is told.
class ArrivalsOfTheCameras : public cli::EventSourceFactory {
  public:
    explicit ArrivalsOfTheCameras(int count) : count_(count) {}
    std::unique_ptr<cli::EventSource> Start(std::optional<std::uint32_t>, std::uint32_t&) override {
        return std::make_unique<Source>(count_);
    }

  private:
    struct Source : cli::EventSource {
        explicit Source(int cameras) : count(cameras) {}
        cli::WatchEvent Next() override {
            if (next == count) {
                return {cli::WatchEvent::Kind::kStop, {}, 0};
            }
            return {cli::WatchEvent::Kind::kArrival,
                    std::string(1, static_cast<char>('E' + next++)) + ":", 0};
        }
        int count;
        int next = 0;
    };
    int count_;
};

// Counts the cameras told, and whether any of them failed.
struct CountingOutput : cli::Output {
    int lines = 0;
    void Out(std::string_view) override { ++lines; }
    void Err(std::string_view) override {}
};

// Seconds one watch over `count` arriving cameras takes.
double TimeOfWatch(int count, std::size_t& cameras, bool& ok) {
    ArrivalsOfTheCameras arrivals(count);
    cli::SeamBackend backend(arrivals);
    CountingOutput output;
    cli::WatchOptions options;
    options.syncTime = true;
    const auto start = std::chrono::steady_clock::now();
    const cli::Exit exit = cli::RunWatch(backend, arrivals, options, output);
    const auto end = std::chrono::steady_clock::now();
    cameras = static_cast<std::size_t>(output.lines);
    ok = exit == cli::Exit::kOk;
    sim::TheWorld().ClearTrace();
    return std::chrono::duration<double>(end - start).count();
}

void BM_WatchArrivals(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    bool first = true;  // the first run is the one camera's
    Measure(state, [&](std::size_t& cameras, bool& ok) {
        const double seconds = TimeOfWatch(first ? 1 : count, cameras, ok);
        first = false;
        return seconds;
    });
}
BENCHMARK(BM_WatchArrivals)->Apply(OverOneFourAndSixteenCameras);

}  // namespace
