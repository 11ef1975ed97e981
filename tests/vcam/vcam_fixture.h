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
#include <map>
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

// The opens of every letter the driver passed on that are neither closed nor refused.
std::uint32_t OpenHandles(const vcam::DriverStatus& status);

// What a process holds, read from outside it (the process is not asked).
struct ProcessResources {
    bool read = false;               // the process could be opened and asked
    DWORD handles = 0;               // its kernel handles (GetProcessHandleCount)
    DWORD user = 0;                  // its USER objects
    DWORD gdi = 0;                   // its GDI objects
    std::uint64_t privateBytes = 0;  // its private memory (PrivateUsage, under Wine PagefileUsage)
    // How USER and GDI were counted: "GetGuiResources", or under Wine, whose GetGuiResources
    // answers nothing, "windows and handle table" (see ResourcesOf).
    const char* how = "";
    std::string gdiTypes;  // under Wine: the GDI objects by type, "05:12 0A:3" (type in hex)
    std::map<int, int> gdiByType;  // under Wine: the same as numbers
};

// The GDI objects `after` holds more than `before`, apart from DCs and what comes with them.
// Wine keeps the DCs it hands out for GetDC in a cache that grows with the DCs a process had in
// use at once; each cached DC brings a region or two and a bitmap of its own. So under Wine
// (where the objects are counted by type) the growth of DCs, regions and bitmaps together is
// answered in `dcs` and left out; any other growth is answered. Where GDI objects are counted by
// GetGuiResources (Windows) the whole growth is answered.
long long GdiGrowthBesidesDcs(const ProcessResources& before, const ProcessResources& after,
                              int* dcs);

// Reads what process `id` holds now. Windows answers GetGuiResources. Wine answers it with 0
// (ERROR_CALL_NOT_IMPLEMENTED); there the USER objects are counted as the windows the process
// owns, top-level and child, and the GDI objects as the used entries of the process's GDI handle
// table, which Wine keeps in the process's own memory and names in its PEB
// (GdiSharedHandleTable), read with ReadProcessMemory.
ProcessResources ResourcesOf(DWORD id);

// The largest growth of each resource over a first reading, kept over many readings.
struct ResourceGrowth {
    ProcessResources first;
    long long handles = 0;
    long long user = 0;
    long long gdi = 0;
    long long privateBytes = 0;
    int readings = 0;
    std::string table;  // one line a reading: "cycle handles USER GDI private-bytes"

    void Add(int cycle, const ProcessResources& now);
    std::string Text() const;  // "handles +0, USER +0, GDI +0, private bytes +12288 (...)"
};

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

// How many arrival and removal cycles a soak runs: ZQ_SOAK_CYCLES from the environment, else
// `otherwise` (what the test command runs; scripts/soak_vcam.sh runs the full count).
int SoakCycles(int otherwise);

// Seconds since `start` (a GetTickCount64 reading).
double SecondsSince(ULONGLONG start);

// ---- the hostile camera (the world file's hostile line, docs/simulator.md) ----

// The seeds the hostile scenarios run: ZQ_HOSTILE_SEEDS from the environment (seeds apart by
// spaces), else those of the list `file` (one a line, '#' starts a comment).
std::vector<std::uint32_t> HostileSeeds(const std::wstring& file);

// One device control of the trace on the hostile camera, what the camera did with it and what
// the program got.
struct HostileCall {
    std::string call;         // the trace's DeviceIoControl line
    std::string kind;         // the action drawn ("normal" also without a Hostile line)
    bool platformOk = false;  // the program's DeviceIoControl succeeded
    bool good = false;        // ... and the camera's status was GOOD
    // The camera completed the command: GOOD status with the full answer (normal, exact, long)
    // or a hang answered in time.
    bool completed = false;
};

// The device controls with a command block among `lines` (a trace's, comments included) and the
// hostile camera's part in each: a hang's answer that came too late and an unplug or a storm
// fail the program's call, whatever the call's own line says (the world carried it out).
std::vector<HostileCall> HostileCalls(const std::vector<std::string>& lines);

// The kinds of the Hostile lines among `lines`, with how often each came.
std::vector<std::pair<std::string, int>> HostileKinds(const std::vector<std::string>& lines);

// The seconds the clock commands a program sends on the virtual camera may carry after the
// scenario last read the local time (e2e::SentAClockBetween).
inline constexpr int kClockSlack = 1;

}  // namespace vcamtest
