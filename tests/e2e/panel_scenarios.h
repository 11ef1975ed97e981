// The control panel's scenarios that run on both programs: the simulated Zelquin-sim.exe, whose
// own trace shows its device calls (panel_e2e_test.cpp), and the real Zelquin.exe on the virtual
// camera, whose device calls go through the system to the driver and the camera service, whose
// trace shows them (tests/vcam/real_panel_test.cpp). Each scenario is written once, against
// PanelHarness, and each program registers all of them with its own fixture:
//
//     class PanelScenario : public ::testing::Test, public e2e::PanelHarness { ... };
//     e2e::RegisterSharedScenarios<PanelScenario>("PanelScenario");   // in main, before the run
//
// Where the two programs differ, a step says on which it runs (OnlyOn, with the reason beside it),
// in the manner of a message sequence whose optional steps are marked in place.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/panel_driver.h"

namespace e2e {

// The programs a shared scenario runs on, as flags.
enum Program : unsigned {
    kSimulatedProgram = 1,  // Zelquin-sim.exe on the world of its own file
    kVirtualCamera = 2,     // Zelquin.exe on the virtual camera's driver and service
};

// What a scenario needs of the program it runs on.
class PanelHarness {
  public:
    virtual ~PanelHarness() = default;

    virtual Program program() const = 0;
    // Starts the program on `world` (a world file, docs/simulator.md), ending the one started
    // before, and waits until its panel is shown.
    virtual Panel& StartPanel(const std::string& world) = 0;
    // Rewrites the world file: drives and cameras plugged in or unplugged. `letters` are the
    // world's letters but C, which the virtual camera's service presents before this returns.
    virtual void Plug(const std::string& world, const std::string& letters) = 0;
    // The device calls of the running panel from the `first` on, once those still on their way
    // have come (a close reaches the virtual camera's driver after CloseHandle returned).
    virtual std::vector<std::string> Calls(std::size_t first = 0) const = 0;
    // The seconds after the scenario last read the local time that a clock the program sends may
    // carry (the service answers a moment after the program read its clock).
    virtual int ClockSlack() const { return 0; }

    // Virtual camera only: the letters the driver presents now ("FG").
    virtual std::string PresentedLetters() const { return {}; }
    // Virtual camera only: the file manager's folder windows that the panel opened, waiting up to
    // `seconds` for one; they are closed after.
    struct FolderWindow {
        std::wstring title;    // "LABEL (F:)"
        std::wstring program;  // its executable's name, in lower case
    };
    virtual std::vector<FolderWindow> TakeFolderWindows(const Panel& /*panel*/,
                                                        double /*seconds*/) {
        return {};
    }

    // Whether a step marked for `programs` runs on this program.
    bool OnlyOn(unsigned programs) const { return (programs & program()) != 0; }
};

// One shared scenario: its name (the GoogleTest case name on each program) and its body.
struct SharedScenario {
    const char* name;
    int line;
    void (*run)(PanelHarness& harness);
};
const std::vector<SharedScenario>& SharedScenarios();
// The source file the shared scenarios are written in, for GoogleTest's reports.
const char* SharedScenariosFile();

// Registers every shared scenario as a case of `suite`, each run on a new `Fixture` (a
// ::testing::Test and a PanelHarness). Call it before RUN_ALL_TESTS, listing included.
template <class Fixture>
void RegisterSharedScenarios(const char* suite) {
    class Case : public Fixture {
      public:
        explicit Case(void (*run)(PanelHarness&)) : run_(run) {}
        void TestBody() override { run_(*this); }

      private:
        void (*run_)(PanelHarness&);
    };
    for (const SharedScenario& scenario : SharedScenarios()) {
        ::testing::RegisterTest(suite, scenario.name, nullptr, nullptr, SharedScenariosFile(),
                                scenario.line,
                                [run = scenario.run]() -> Fixture* { return new Case(run); });
    }
}

}  // namespace e2e
