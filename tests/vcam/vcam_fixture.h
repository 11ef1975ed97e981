// What the scenarios on the virtual camera share: the camera service of one scenario, started on
// a world file of its own, the driver's status and letters, and the file manager's windows. Used
// by the real control panel's scenarios (real_panel_test.cpp) and by the command-line tool's
// (tests/cli/vcam_cli_test.cpp), with what every scenario program shares
// (tests/e2e/scenario_support.h); they run in the virtual camera's Wine prefix with the driver
// started (scripts/vcam_prefix.sh).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vcam/camera_service.h"

namespace vcamtest {

// Drive letters as a mask, bit 0 for A: "DE" is D and E.
std::uint32_t Letters(const std::string& letters);

// The driver's status record, read through its control device.
vcam::DriverStatus DriverStatus();

// The letters the driver presents now.
std::uint32_t PresentedLetters();

// The camera service of one scenario, started with its own world, trace, volumes and log in
// `folder`.
class ServiceProcess {
  public:
    ServiceProcess(std::wstring exe, std::wstring folder, std::vector<std::wstring> options);
    ~ServiceProcess() { Kill(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    std::wstring world() const { return folder_ + L"\\world.txt"; }
    std::wstring trace() const { return folder_ + L"\\trace.txt"; }
    std::wstring log() const;

    // Starts the service and waits until it has presented the world's letters.
    void Start();
    // Ends the service as a crash would: its letters stay, its handle on the driver goes.
    void Kill();
    bool Running() const;

    // Rewrites the world file and waits until the service presents `letters` (its letters being
    // what the system shows, a program finds them only then).
    void EditWorld(const std::string& world, const std::string& letters) const;
    // Prints the trace and the service's output, for a scenario that failed.
    void PrintRun() const;

  private:
    std::size_t ReadyNotes() const;

    std::wstring exe_;
    std::wstring folder_;
    std::vector<std::wstring> options_;
    PROCESS_INFORMATION process_ = {};
    int starts_ = 0;
};

// A folder window of the file manager, which shows a volume as "LABEL (X:)".
struct FileManager {
    HWND window;
    std::wstring title;
    std::wstring program;  // its executable's name, in lower case
};

// The visible folder windows of every process but `except` (0: of every process).
std::vector<FileManager> FileManagers(DWORD except = 0);
// Asks every folder window to close and waits (a while) until they have gone.
void CloseFileManagers();

// The seconds the clock commands a program sends on the virtual camera may carry after the
// scenario last read the local time (e2e::SentAClockBetween).
inline constexpr int kClockSlack = 1;

}  // namespace vcamtest
