// ConnectCamera as the user waits for it: discovery, seven camera commands and three pauses of
// 200 ms that really sleep. The figure that matters is the overhead, the time beyond the 600 ms
// of pauses the sequence must contain. A second benchmark leaves the pauses out to show the
// program's own work (with the simulator's) on its own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>

#include "link/camera.h"
#include "link/discovery.h"
#include "panel/panel.h"
#include "panel/panel_window.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/process_state.h"

namespace {

// The window operations at no cost, except the pause, which sleeps for real when asked to.
class BenchWindow : public PanelWindow {
  public:
    explicit BenchWindow(bool sleeps) : sleeps_(sleeps) {}

    void SetStatusText(const wchar_t* text) override { status_ = text; }
    void SelectComboItem(int /*comboId*/, int index) override { selection_ = index; }
    int GetComboSelection(int /*comboId*/) override { return selection_; }
    void EnableControl(int /*controlId*/, bool /*enable*/) override {}
    void ShowMessageBox(const wchar_t* /*text*/, const wchar_t* /*caption*/, std::uint32_t /*type*/,
                        std::uint16_t /*language*/) override {}
    void OpenFolder(const wchar_t* /*path*/) override {}
    void Pause(std::uint32_t milliseconds) override {
        pausedMs_ += milliseconds;
        if (sleeps_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
    }
    bool GetLocalTime(std::tm& now) override {
        now = std::tm{};
        return true;
    }

    std::uint64_t pausedMs() const { return pausedMs_; }

  private:
    bool sleeps_;
    std::wstring status_;
    int selection_ = -1;
    std::uint64_t pausedMs_ = 0;
};

// The camera on E: behind a disk on D:, the panel at its process-start values.
void LayOutComputer() {
    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    world.AddDisk('D');
    world.PlugCamera('E');
}

void BM_ConnectCamera_RealPauses(benchmark::State& state) {
    LayOutComputer();
    BenchWindow window(true);
    double overheadMs = 0;
    double worstOverheadMs = 0;
    std::uint64_t connects = 0;
    for (auto _ : state) {
        const std::uint64_t pausedBefore = window.pausedMs();
        const auto start = std::chrono::steady_clock::now();
        ConnectCamera(window);
        const auto end = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(elapsed);

        const double pauses = static_cast<double>(window.pausedMs() - pausedBefore);
        const double overhead = elapsed * 1000.0 - pauses;
        overheadMs += overhead;
        worstOverheadMs = overhead > worstOverheadMs ? overhead : worstOverheadMs;
        connects += g_bConnected;
        DisconnectCamera(window);
        sim::TheWorld().ClearTrace();
    }
    const auto perConnect = benchmark::Counter::kAvgIterations;
    state.counters["pauses_ms"] =
        benchmark::Counter(static_cast<double>(window.pausedMs()), perConnect);
    state.counters["overhead_ms"] = benchmark::Counter(overheadMs, perConnect);
    state.counters["worst_overhead_ms"] = worstOverheadMs;
    state.counters["connected"] = benchmark::Counter(static_cast<double>(connects), perConnect);
}
BENCHMARK(BM_ConnectCamera_RealPauses)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void BM_ConnectDisconnect_NoPauses(benchmark::State& state) {
    LayOutComputer();
    BenchWindow window(false);
    std::uint64_t connects = 0;
    for (auto _ : state) {
        ConnectCamera(window);
        connects += g_bConnected;
        DisconnectCamera(window);
        sim::TheWorld().ClearTrace();
    }
    state.counters["connected"] =
        benchmark::Counter(static_cast<double>(connects), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ConnectDisconnect_NoPauses)->Unit(benchmark::kMicrosecond);

}  // namespace
