// Drives a running Zelquin-sim.exe from another process the way a user's tools would: it finds
// the control panel by its caption and talks to it with public window messages only.
//
//     e2e::Panel panel(paths, "camera E state=2\n");    // writes the world file, starts the exe
//     panel.Choose(e2e::kResolution, 1);                 // CB_SETCURSEL, then CBN_SELCHANGE
//     EXPECT_EQ(panel.TakeMessageBox(), L"Video resolution set to 720P.");
//     panel.trace().VendorCdbs();                        // what reached the simulated camera
//
// Commands that open a message box are posted, never sent: the box blocks the panel's handler
// until it is closed. Every wait has a generous limit and throws std::runtime_error, with what
// was awaited, when the limit passes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "panel/control_ids.h"

namespace e2e {

// The control panel's controls, as its dialog template numbers them.
inline constexpr int kSyncTime = IDC_SYNC_TIME;
inline constexpr int kOpenFolder = IDC_OPEN_FOLDER;
inline constexpr int kStatus = IDC_STATUS;
inline constexpr int kStatusRight = IDC_STATUS_RIGHT;
inline constexpr int kOverwrite = IDC_OVERWRITE;
inline constexpr int kTimestamp = IDC_TIMESTAMP;
inline constexpr int kResolution = IDC_RESOLUTION;
inline constexpr int kPcTime = IDC_PC_TIME;

inline constexpr wchar_t kPanelCaption[] = L"OSTRAVEL QXM V1.1";
inline constexpr wchar_t kBoxCaption[] = L"Ostravel V1.1";
inline constexpr int kBoxTextId = 0xFFFF;

// How long anything may take before a wait gives up, in seconds.
inline constexpr double kPatience = 30;

// Calls `done` every 20 ms until it answers true (then true) or `seconds` have passed (false).
bool WaitFor(const std::function<bool()>& done, double seconds = kPatience);

// Ends the scenario: throws std::runtime_error with `what`.
[[noreturn]] void Fail(const std::string& what);

// `text` between double quotes, as a command line takes a path.
std::wstring Quoted(const std::wstring& text);

std::wstring Widen(const std::string& text);   // from UTF-8
std::string Narrow(const std::wstring& text);  // to UTF-8

// A path as Windows programs under Wine take it: "/work/x" becomes "Z:\work\x".
std::wstring WindowsPath(const std::string& path);

// Writes a whole file under a temporary name and renames it into place, so that a reader never
// sees it half written.
void WriteFileAtomically(const std::wstring& path, const std::string& text);
std::string ReadWholeFile(const std::wstring& path);  // "" when the file does not exist

// The local time as the panel's clock shows it: "YYYY-MM-DD HH:MM:SS".
std::string LocalClockText();
// True when `text` has exactly that shape.
bool LooksLikeClock(const std::string& text);

// A vendor command block as the trace shows it: FA 55 66 FE, the form (set: 06, get: 60), 00 00,
// the code, then the argument bytes and zeros up to 16 bytes.
std::string Cdb(bool set, int code, std::vector<int> args = {});
// The command codes (block byte 7) of a list of blocks from Trace::VendorCdbs, in hex, with
// " failed" kept.
std::vector<std::string> Codes(const std::vector<std::string>& cdbs);

// The command blocks of the vendor commands among `calls` (the trace's device calls), sent to any
// drive or, when `letter` is given, to that drive only, as "FA 55 66 ...", each with " failed"
// appended when the call failed.
std::vector<std::string> VendorCdbs(const std::vector<std::string>& calls, char letter = 0);
// The letters opened among `calls`, in order: "DE".
std::string OpenedLetters(const std::vector<std::string>& calls);

// The trace file of one run: one device call a line, comments starting with '#'.
class Trace {
  public:
    explicit Trace(std::wstring path) : path_(std::move(path)) {}

    // The complete lines so far.
    std::vector<std::string> Lines() const;
    // The device calls (no comments), from the `first` of them on.
    std::vector<std::string> Calls(std::size_t first = 0) const;
    std::size_t CallCount() const { return Calls().size(); }
    // The volume events the world's notify line made the service send, in order, as the trace
    // notes them: "DBT_DEVICEARRIVAL F:".
    std::vector<std::string> Notifications() const;
    // Calls(first) once the closes still on their way have come: when no call has been added for
    // 0.3 s (a program's close reaches the virtual camera's driver after CloseHandle returned).
    std::vector<std::string> SettledCalls(std::size_t first = 0) const;
    // The command blocks of the vendor commands among Calls(first), as "FA 55 66 ...", each with
    // " failed" appended when the call failed.
    std::vector<std::string> VendorCdbs(std::size_t first = 0) const;
    // Waits until a device call containing `text` is recorded at or after call `first`.
    void WaitForCall(const std::string& text, std::size_t first = 0) const;

    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

// Where one scenario keeps its files, and the program to run.
struct RunFiles {
    std::wstring exe;    // Zelquin-sim.exe (or Zelquin.exe on the virtual camera)
    std::wstring world;  // its world file
    std::wstring trace;  // its trace file
};

// One running Zelquin-sim.exe and its control panel.
class Panel {
  public:
    // Writes `world` to files.world, removes an old trace, calls `beforeStart` (the virtual
    // camera's service starts there), starts the program with both files named in its
    // environment, and waits until the control panel is shown (its start-up, the first
    // connection included, has then finished).
    Panel(RunFiles files, const std::string& world, const std::function<void()>& beforeStart = {});
    // Closes the panel if it is still open; ends the process if it does not go.
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    HWND window() const { return window_; }
    DWORD process_id() const { return process_.dwProcessId; }
    HWND Control(int id) const;
    const Trace& trace() const { return trace_; }
    // Rewrites the world file; the program reads it again before its next device call.
    void EditWorld(const std::string& world) const;

    // -- reading --
    std::wstring Text(int id) const;
    std::wstring WindowText(HWND window) const;
    bool Enabled(int id) const;
    int Selection(int comboId) const;                    // CB_GETCURSEL; -1 for none
    std::vector<std::wstring> Items(int comboId) const;  // CB_GETLBTEXT of each item
    std::wstring SelectedItem(int comboId) const;        // "" when nothing is selected
    HWND ComboEdit(int comboId) const;                   // the combo box's edit field
    HWND FocusedWindow() const;                          // of the panel's thread; may be null

    // -- acting --
    // Selects item `index` as a user would: CB_SETCURSEL, then CBN_SELCHANGE posted to the panel.
    void Choose(int comboId, int index) const;
    // A button click: WM_COMMAND with BN_CLICKED posted to the panel.
    void Click(int buttonId) const;
    // WM_DEVICECHANGE with a volume record for `letter`, sent (the handler has run on return);
    // answers the message's result.
    LRESULT DeviceChange(WPARAM event, char letter, WORD flags = 0) const;
    // A key pressed and released on `target`: WM_KEYDOWN and WM_KEYUP posted to it.
    void PostKey(HWND target, UINT key) const;
    // Returns once the panel has handled every message posted to it before the call: a marker is
    // written into the clock field and a WM_TIMER posted behind; its refresh shows it was handled.
    void Settle() const;
    void PostClose() const;

    // -- message boxes --
    // The message boxes the program has open: caption "Ostravel V1.1", dialog class, no owner.
    std::vector<HWND> MessageBoxes() const;
    // What a message box showed.
    struct Box {
        std::wstring text;         // its text control, 0xFFFF
        std::vector<int> buttons;  // the ids of its visible buttons
        bool icon = false;         // whether it shows an icon
    };
    // Waits for a message box (with the text `wanted`, unless that is empty), reads it, presses
    // OK and waits until it has gone.
    Box TakeBox(const std::wstring& wanted = {}) const;
    std::wstring TakeMessageBox(const std::wstring& wanted = {}) const {
        return TakeBox(wanted).text;
    }

    // -- the process --
    bool Running() const;
    bool WaitForExit(double seconds = kPatience) const;

  private:
    LRESULT Send(HWND target, UINT message, WPARAM wParam, LPARAM lParam) const;
    void Post(HWND target, UINT message, WPARAM wParam, LPARAM lParam) const;

    RunFiles files_;
    Trace trace_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};

}  // namespace e2e
