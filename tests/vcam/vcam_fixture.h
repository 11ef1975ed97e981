// What the scenarios on the virtual camera share: the camera service of one scenario, started on
// a world file of its own, the driver's status and letters, the file manager's windows and the
// clock commands a program may send. Used by the real control panel's scenarios
// (real_panel_test.cpp) and by the command-line tool's (tests/cli/vcam_cli_test.cpp); they run
// in the virtual camera's Wine prefix with the driver started (scripts/vcam_prefix.sh).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "vcam/camera_service.h"

namespace vcamtest {

[[noreturn]] void Fail(const std::string& what);

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

// The date and time commands (as the trace shows their blocks) a program may send for a local
// time between `from` and `to`, a second of slack after.
std::set<std::vector<std::string>> ClockCommandsBetween(SYSTEMTIME from, SYSTEMTIME to);

}  // namespace vcamtest
