// What the scenario programs share, whichever program they drive: the texts and the world the
// control panel's scenarios start from, the panel's look, the setting changes a user makes and
// what the panel answers, the clock commands a program may send for a moment, the trace shown when
// a scenario fails, and the programs' main. Used by the scenarios of the simulated program
// (panel_e2e_test.cpp), of the real Zelquin.exe on the virtual camera
// (tests/vcam/real_panel_test.cpp) and of the command-line tool there
// (tests/cli/vcam_cli_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/panel_driver.h"

namespace e2e {

// The panel's status line while no camera is connected, and with a camera whose world gives it no
// firmware of its own.
inline constexpr wchar_t kNotConnected[] = L"Device not connected.";
inline constexpr wchar_t kDefaultFirmware[] = L"Firmware Version:   V1.1.0720240101";

// A computer without a camera: its own drive C (which the virtual camera's service leaves as it
// is) and a disk D that answers the INQUIRY without the camera's mark.
inline constexpr char kDrives[] =
    "drive C fixed\n"
    "drive D cdrom inquiry=2\n";

// The codes of the commands the panel sends when it connects: the state, the three firmware
// pieces, then loop recording, resolution and time stamp.
inline const std::vector<std::string> kConnectionCodes = {"0E", "1A", "1B", "1C", "02", "01", "0B"};

// A computer at the panel's start-up and what the panel makes of it.
struct StartUpCase {
    const char* what;
    std::string world;
    std::wstring status;
    bool connected;
    std::vector<int> selections;     // overwrite, time stamp, resolution
    std::vector<std::string> codes;  // of the commands sent
    std::string letters;  // the world's letters but C: what the virtual camera's driver presents
};
// No camera, a camera in each state, a firmware command and a setting read that fail.
std::vector<StartUpCase> StartUpCases();

// The look of a connected or disconnected panel: the status line, the five command controls
// enabled or not, and the selections of the overwrite, time stamp and resolution combos (-1 for
// none).
void ExpectLook(const Panel& panel, const std::wstring& status, bool enabled,
                const std::vector<int>& selections);

// A setting the user picks and what follows: item `index` chosen in `combo`, a box saying
// `message`, and the one command block sent (" failed" appended when the camera refused it).
struct SettingChange {
    int combo;
    int index;
    const wchar_t* message;
    std::string cdb;
};

// Each setting to each of its values, on a camera that keeps them.
std::vector<SettingChange> SettingChanges();
// The faults that make a camera refuse every setting from then on.
inline constexpr char kSettingsFail[] = "fault 2 fails\nfault 11 fails\nfault 1 fails\n";
// Each setting to its second item on a camera that refuses them (kSettingsFail): the error texts.
std::vector<SettingChange> RefusedSettingChanges();
// Makes each change on `panel` in turn and checks the box, the block sent and that the pick stays.
void ExpectSettingChanges(const Panel& panel, const std::vector<SettingChange>& changes);

// Sync with PC Time on a camera that refuses one of the clock commands: the fault added to its
// world and the codes then sent, " failed" appended to the refused one.
struct ClockRefusal {
    const char* fault;
    std::vector<std::string> codes;
};
std::vector<ClockRefusal> ClockRefusals();

// A computer with nothing but its own drive C: where the volume steps start.
inline constexpr char kBareComputer[] = "drive C fixed\n";

// One step of a camera and a memory stick coming and going: the world file then, the volume
// event the panel is sent, and what the panel makes of it.
struct VolumeStep {
    const char* what;
    std::optional<std::string> world;  // none: the file stays as it is
    std::string letters;  // the world's letters but C: what the virtual camera's driver presents
    WPARAM event;
    char letter;
    WORD flags;
    bool connected;    // the panel then shows the camera connected
    bool asksDevices;  // the panel makes device calls on the event
};
// From kBareComputer: arrivals and removals of the camera and of a stick, in either order, and
// events the panel leaves alone (a removal while disconnected, a medium change, a network volume,
// device nodes changed).
std::vector<VolumeStep> VolumeSteps();

// Open File Folder on a camera whose volume, after the release, appears as the camera's and
// answers as it (keep), appears as the camera's but answers as a plain disk, or never appears as
// the camera's (its storage line, which names the case).
struct ReleaseCase {
    const char* storage;
    std::string world;  // the computer: a stick on G, the camera on E with every setting on
    bool opensFolder;   // the folder opens on the volume
    bool reconnects;    // the panel connects again, on the volume's letter
};
std::vector<ReleaseCase> ReleaseCases();

// Success when `sent`, a date and a time command as the trace shows their blocks, carries a local
// time from `from` (its whole second) to `to`, or up to `slack` seconds after; otherwise a failure
// that shows what was sent and every pair that could have been.
::testing::AssertionResult SentAClockBetween(const std::vector<std::string>& sent, SYSTEMTIME from,
                                             SYSTEMTIME to, int slack = 0);

// Prints the trace at `path`, for a scenario that failed.
void PrintTrace(const std::wstring& path);

// The main of a scenario program: GoogleTest's flags, then one argument for each of `paths`, the
// Unix paths ctest gives, kept there in Windows form; `names` names them in the usage line.
// Listing the scenarios needs none of them. A run in which no scenario matched the filter fails.
int RunScenarios(int argc, char** argv, const char* names,
                 std::initializer_list<std::wstring*> paths);

}  // namespace e2e
