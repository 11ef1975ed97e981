// zqvcam-service.exe, the virtual camera's service: it attaches to the driver zqvcam.sys, plays
// the simulated computer of a world file (sim/world.h, the same model, world-file language and
// trace as Zelquin-sim.exe: docs/simulator.md) and answers every open, device control and close
// that the driver passes on from its drive letters. It presents the world's letters through the
// driver, follows the world file as it changes (plugging and unplugging), and with the world
// file's notify line sends every top-level window the volume events of the letters that come and
// go, as Windows does when a stick is plugged in. docs/vcam.md tells the whole story.
//
//   zqvcam-service.exe [--world FILE] [--trace FILE] [--volumes FOLDER]
//                      [--request-timeout MS] [--hold-set CODE] [--echo none|notes|all]
//
//   --world            the world file; zqvcam-world.txt beside the program by default
//   --trace            the trace file, whatever the world file says; else the world file's trace
//                      line, else zqvcam-trace.txt beside the program
//   --volumes          under Wine: the folder that holds the contents of the removable and
//                      optical letters (a folder zqvcam-X for letter X); "volumes" beside the
//                      world file by default
//   --request-timeout  how long the driver waits for an answer before it fails a request
//                      (milliseconds; the driver's default, 5000, when not given)
//   --hold-set         for tests: the first pass-through carrying the set form of vendor command
//                      CODE is never answered, as by a camera that hangs
//   --echo             also writes the trace's notes (notes: the lines that start with #) or
//                      every line (all) to standard error; none by default
//
// A world file's hostile line (docs/simulator.md) makes the camera misbehave; the World itself
// spoils the answers' bytes, and the service carries out what only the camera's server can
// (sim/hostile.h): a hang keeps the request's answer back for its time while other requests are
// served, an unplug withdraws the camera's letter while the request is pending, fails that request
// as a device that has gone and presents the letter again later, and a storm brings it back and
// takes it away again several times in quick succession first (docs/vcam.md).
//
// It runs until Ctrl+C (then it withdraws its letters) or until it is ended; a service that was
// ended leaves its letters to the next one, which clears them up first.
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "os/records.h"
#include "os/text.h"
#include "sim/file_access.h"
#include "sim/hostile.h"
#include "sim/letters.h"
#include "sim/live_world_file.h"
#include "sim/trace_writer.h"
#include "sim/world.h"
#include "vcam/camera_service.h"
#include "vcam/driver_link.h"
#include "vcam/protocol.h"
#include "vcam/wine_drives.h"

namespace {

constexpr DWORD kIdleMs = 200;              // how often the world file is looked at while idle
constexpr UINT kAnnounceTimeoutMs = 10000;  // how long a window may take over a volume event
constexpr char kProgram[] = "zqvcam-service";
// How long a storm keeps the camera in each place (away, back) before it changes again.
constexpr ULONGLONG kStormStepMs = 200;

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    ::SetEvent(g_stop);
    return TRUE;
}

struct Options {
    std::wstring world;
    std::optional<std::wstring> trace;
    std::wstring volumes;
    std::uint32_t timeoutMs = 0;
    std::optional<int> holdSet;
    sim::TraceEcho echo = sim::TraceEcho::kNone;
};

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::wstring value = argv[++i];
        if (name == L"--world") {
            options.world = value;
        } else if (name == L"--trace") {
            options.trace = value;
        } else if (name == L"--volumes") {
            options.volumes = value;
        } else if (name == L"--request-timeout") {
            options.timeoutMs = static_cast<std::uint32_t>(std::wcstoul(value.c_str(), nullptr, 0));
        } else if (name == L"--hold-set") {
            options.holdSet = static_cast<int>(std::wcstol(value.c_str(), nullptr, 0));
        } else if (name == L"--echo") {
            const std::optional<sim::TraceEcho> echo = sim::ParseTraceEcho(os::ToUtf8(value));
            if (!echo) {
                return std::nullopt;
            }
            options.echo = *echo;
        } else {
            return std::nullopt;
        }
    }
    if (options.world.empty()) {
        options.world = sim::ExecutableFolder() + L"zqvcam-world.txt";
    }
    if (options.volumes.empty()) {
        options.volumes = sim::FolderOf(options.world) + L"volumes";
    }
    return options;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// Sends the volume events to every top-level window, one event after the other, from a thread
// of its own: a window answers only once its program is back in its message loop, and that
// program may be waiting for this service to answer its device calls first.
class Announcer {
  public:
    Announcer() : thread_([this] { Run(); }) {}
    ~Announcer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    void Post(const sim::LetterEvent& event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        wake_.notify_one();
    }

  private:
    void Run() {
        for (;;) {
            sim::LetterEvent event;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !events_.empty(); });
                if (events_.empty()) {
                    return;
                }
                event = events_.front();
                events_.pop_front();
            }
            Send(event);
        }
    }

    static void Send(const sim::LetterEvent& event) {
        DEV_BROADCAST_VOLUME record = {};
        record.dbcv_size = sizeof record;
        record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        record.dbcv_unitmask = 1u << (event.letter - 'A');
        std::vector<HWND> windows;
        ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
        for (const HWND window : windows) {
            DWORD_PTR result = 0;
            ::SendMessageTimeoutW(window, WM_DEVICECHANGE,
                                  event.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                  reinterpret_cast<LPARAM>(&record), SMTO_NORMAL,
                                  kAnnounceTimeoutMs, &result);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<sim::LetterEvent> events_;
    bool stopping_ = false;
    std::thread thread_;
};

// What a request is, for the notes.
std::string Describe(const vcam::Request& request) {
    const std::string letter = std::string(1, request.letter) + ":";
    switch (request.kind) {
        case ZQVCAM_KIND_OPEN:
            return "the open of " + letter;
        case ZQVCAM_KIND_CONTROL:
            return "a device control on " + letter;
        default:
            return "the close on " + letter;
    }
}

// The vendor command whose set form a device control carries: a pass-through whose command
// block starts 0xFA and whose form byte is 0x06.
std::optional<int> SetCommand(const vcam::Request& request) {
    const std::size_t cdb = request.caller64 ? os::spt::k64.cdb : os::spt::k32.cdb;
    if (request.kind != ZQVCAM_KIND_CONTROL || request.code != os::kIoctlScsiPassThrough ||
        request.input.size() < cdb + os::spt::kCdbSize || request.input[cdb] != 0xFA ||
        request.input[cdb + 4] != 0x06) {
        return std::nullopt;
    }
    return request.input[cdb + 7];
}

class Service {
  public:
    explicit Service(Options options)
        : options_(std::move(options)),
          live_(world_, trace_,
                {options_.world, options_.trace, sim::ExecutableFolder() + L"zqvcam-trace.txt"},
                kProgram),
          core_(world_) {
        trace_.SetEcho(options_.echo, sim::WriteLineToStandardError);
        world_.SetBeforeCall([this] { live_.Refresh(); });
        world_.SetObserver([this](const sim::Event& event) {
            // A hostile camera's action comes before the call it concerns; the server's own
            // actions are carried out here once the call has been answered (Serve).
            if (event.hostile) {
                trace_.Append(sim::HostileTraceLine(*event.hostile));
                if (event.hostile->ForServer()) {
                    serverAction_ = event.hostile;
                }
            }
            trace_.Append(sim::TraceLine(event));
            world_.ClearTrace();
        });
    }

    int Run() {
        DWORD error = driver_.Open(true);
        if (error != 0) {
            std::fwprintf(stderr,
                          L"%hs: cannot open %ls (error %lu); is the driver zqvcam running?\n",
                          kProgram, ZQVCAM_CONTROL_PATH, error);
            return 1;
        }
        error = driver_.Attach(options_.timeoutMs);
        if (error != 0) {
            std::fwprintf(stderr, L"%hs: cannot attach to the driver (error %lu)%ls\n", kProgram,
                          error,
                          error == ERROR_BUSY ? L": another camera service is attached" : L"");
            return 1;
        }
        const std::string cleared = ClearLeftovers();
        reserved_ = ::GetLogicalDrives();

        live_.Refresh();
        const std::optional<vcam::DriverStatus> status = driver_.Status();
        Note("attached to the driver; requests time out after " +
             std::to_string(status ? status->timeoutMs : 0) +
             " ms; this computer's own letters, left alone: " + vcam::LetterList(reserved_));
        if (!cleared.empty()) {
            Note("letters an earlier service left, withdrawn: " + cleared);
        }
        Sync();
        Announce();
        Note("ready");
        std::printf("%s: ready; world %s, trace %s\n", kProgram,
                    os::ToUtf8(live_.places().world).c_str(), os::ToUtf8(trace_.path()).c_str());
        std::fflush(stdout);
        return Loop();
    }

  private:
    void Note(const std::string& text) const {
        trace_.Append(std::string("# ") + kProgram + ": " + text);
    }

    int Loop() {
        const HANDLE waits[] = {driver_.request_event(), g_stop};
        DWORD error = driver_.BeginNextRequest();
        while (error == 0) {
            const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, NextWait());
            RunDue();
            if (woke == WAIT_TIMEOUT) {
                if (live_.Refresh()) {
                    Sync();
                }
                Announce();
                continue;
            }
            if (woke != WAIT_OBJECT_0) {
                Stop();
                return 0;
            }
            std::vector<std::uint8_t> record;
            error = driver_.FinishNextRequest(record);
            if (error != 0) {
                break;
            }
            Serve(record);
            error = driver_.BeginNextRequest();
        }
        Note("the driver ended the wait for requests (error " + std::to_string(error) +
             "); stopping");
        return 1;
    }

    void Serve(const std::vector<std::uint8_t>& record) {
        std::string why;
        const std::optional<vcam::Request> request = vcam::ReadRequest(record, &why);
        if (!request) {
            Note("a request not understood: " + why);
            return;
        }
        const std::optional<int> set = SetCommand(*request);
        if (options_.holdSet && !holdSetDone_ && set == options_.holdSet) {
            holdSetDone_ = true;
            Note("holding request " + std::to_string(request->id) + " (vendor command " +
                 std::to_string(*set) + ", set, on " + request->letter + ":) unanswered");
            return;
        }
        const std::uint32_t bit = 1u << (request->letter - 'A');
        if (request->kind == ZQVCAM_KIND_CLOSE) {
            opens_.erase(request->handle);
            dead_.erase(request->handle);
        } else if ((away_ & bit) != 0 || dead_.count(request->handle) != 0) {
            // The hostile camera has been unplugged: what comes through a handle opened before
            // fails as on a device that has gone, also once the camera is back (it came back as
            // a device of its own); a close is bookkeeping, and carried out.
            Note("request " + std::to_string(request->id) + " (" + Describe(*request) +
                 ") failed: the camera was unplugged since the open");
            vcam::Answer gone;
            gone.id = request->id;
            gone.status = vcam::kStatusNoSuchDevice;
            SendAnswer(*request, gone);
            return;
        }
        serverAction_.reset();
        const std::optional<vcam::Answer> answer = core_.Carry(*request);
        // What the request changed (the release command moves the camera to its storage volume)
        // is in place before the program goes on.
        Sync();
        if (answer && request->kind == ZQVCAM_KIND_OPEN && answer->status == vcam::kStatusSuccess) {
            opens_[request->handle] = request->letter;
        }
        if (answer && serverAction_) {
            CarryOut(*request, *answer, *serverAction_);
        } else if (answer) {
            SendAnswer(*request, *answer);
        }
        Announce();
    }

    // Sends an answer; one the system no longer waits for is noted (an open's handle closed).
    // Answers whether the driver took it.
    bool SendAnswer(const vcam::Request& request, const vcam::Answer& answer) {
        const DWORD error = driver_.Answer(vcam::WriteAnswer(answer));
        if (error == ERROR_NOT_FOUND) {
            Note("request " + std::to_string(request.id) + " (" + Describe(request) +
                 ") was given up by the system before its answer came");
            if (request.kind == ZQVCAM_KIND_OPEN && answer.status == vcam::kStatusSuccess) {
                Note("so the handle it opened is closed here");
                core_.Abandon(request.handle);
            }
        } else if (error != 0) {
            Note("the driver refused the answer to request " + std::to_string(request.id) +
                 " (error " + std::to_string(error) + ")");
        }
        return error == 0;
    }

    // ---- the hostile camera's server actions ----

    // What the server does for a request whose action is its own: a hang keeps the answer back;
    // an unplug or a storm takes the camera's letter away while the request is pending, then
    // fails the request as on a device that has gone, and plans the letter's comings and goings.
    void CarryOut(const vcam::Request& request, const vcam::Answer& answer,
                  const sim::HostileAction& action) {
        const std::string which = "hostile request " + std::to_string(action.request) + " (" +
                                  std::string(sim::HostileKindName(action.kind)) +
                                  ", driver's request " + std::to_string(request.id) + ")";
        const ULONGLONG now = ::GetTickCount64();
        if (action.kind == sim::HostileKind::kHang) {
            Note(which + ": answer held for " + std::to_string(action.hangMs) + " ms");
            held_.push_back({now + action.hangMs, request, answer, which});
            return;
        }
        const std::uint32_t bit = 1u << (request.letter - 'A');
        away_ |= bit;
        for (const auto& [open, letter] : opens_) {
            if (letter == request.letter) {
                dead_.insert(open);
            }
        }
        Sync();
        Announce();
        vcam::Answer gone;
        gone.id = request.id;
        gone.status = vcam::kStatusNoSuchDevice;
        Note(which + ": " + request.letter + ": unplugged while the request was pending; " +
             (SendAnswer(request, gone) ? "the request failed" : "the request was gone already"));
        // Back after the time away; a storm then leaves and comes back again, quickly.
        ULONGLONG at = now + action.replugMs;
        plugs_.push_back({at, request.letter, true});
        const std::uint32_t storms =
            action.kind == sim::HostileKind::kStorm ? action.stormPlugs : 0u;
        for (std::uint32_t i = 0; i < storms; ++i) {
            plugs_.push_back({at += kStormStepMs, request.letter, false});
            plugs_.push_back({at += kStormStepMs, request.letter, true});
        }
    }

    // How long the loop may wait for a request: until the next held answer or plug is due, and
    // at most the idle period.
    DWORD NextWait() const {
        ULONGLONG due = ::GetTickCount64() + kIdleMs;
        for (const Held& held : held_) {
            due = std::min(due, held.due);
        }
        for (const Plug& plug : plugs_) {
            due = std::min(due, plug.due);
        }
        const ULONGLONG now = ::GetTickCount64();
        return due > now ? static_cast<DWORD>(due - now) : 0;
    }

    // Sends the held answers and makes the plugs that are due.
    void RunDue() {
        const ULONGLONG now = ::GetTickCount64();
        for (std::size_t i = 0; i < held_.size();) {
            if (held_[i].due > now) {
                ++i;
                continue;
            }
            const Held held = held_[i];
            held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
            Note(held.which + ": the hang is over; " +
                 (SendAnswer(held.request, held.answer) ? "answered" : "not answered"));
        }
        bool changed = false;
        for (std::size_t i = 0; i < plugs_.size();) {
            if (plugs_[i].due > now) {
                ++i;
                continue;
            }
            const Plug plug = plugs_[i];
            plugs_.erase(plugs_.begin() + static_cast<std::ptrdiff_t>(i));
            const std::uint32_t bit = 1u << (plug.letter - 'A');
            away_ = plug.back ? away_ & ~bit : away_ | bit;
            Note(std::string("hostile camera on ") + plug.letter + ": " +
                 (plug.back ? "plugged in again" : "unplugged again"));
            changed = true;
        }
        if (changed) {
            Sync();
            Announce();
        }
    }

    // Clears what a service that was ended left behind: the driver's letters, and under Wine
    // the definitions of the letters' folders. Answers the letters withdrawn.
    std::string ClearLeftovers() {
        std::uint32_t withdrawn = 0;
        if (const std::optional<vcam::DriverStatus> status = driver_.Status()) {
            withdrawn = status->LettersWith(ZQVCAM_LETTER_PRESENT);
        }
        for (int i = 0; i < sim::kLetterCount; ++i) {
            const char letter = static_cast<char>('A' + i);
            if ((withdrawn & (1u << i)) != 0) {
                driver_.SetLetter(letter, 0);
            }
            const std::optional<std::string> folder = wine_.MountPoint(letter);
            const std::string own = "/" + os::ToUtf8(vcam::WineDrives::FolderName(letter));
            if (folder && folder->size() >= own.size() &&
                folder->compare(folder->size() - own.size(), own.size(), own) == 0) {
                wine_.Undefine(letter);
                withdrawn |= 1u << i;
            }
        }
        return withdrawn != 0 ? vcam::LetterList(withdrawn) : std::string();
    }

    static unsigned KindOf(const vcam::LetterPlan& plan, std::uint32_t bit) {
        return ((plan.removable & bit) != 0 ? 1u : 0u) | ((plan.cdrom & bit) != 0 ? 2u : 0u);
    }

    // Presents the world's letters through the driver: the letters that went or changed type
    // are withdrawn first, then the new ones presented.
    void Sync() {
        vcam::LetterPlan plan = vcam::PlanLetters(world_, reserved_);
        // A hostile camera that is unplugged has no letter for the while.
        plan.present &= ~away_;
        plan.removable &= ~away_;
        plan.cdrom &= ~away_;
        const std::uint32_t ignored = sim::PresentLetters(world_) & reserved_;
        if (ignored != ignored_) {
            ignored_ = ignored;
            if (ignored != 0) {
                Note("the world's letters " + vcam::LetterList(ignored) +
                     " are this computer's own; left as they are");
            }
        }
        if (plan == applied_) {
            return;
        }
        for (int i = 0; i < sim::kLetterCount; ++i) {
            const std::uint32_t bit = 1u << i;
            if ((applied_.present & bit) != 0 &&
                ((plan.present & bit) == 0 || KindOf(plan, bit) != KindOf(applied_, bit))) {
                Withdraw(static_cast<char>('A' + i), KindOf(applied_, bit));
            }
        }
        for (int i = 0; i < sim::kLetterCount; ++i) {
            const std::uint32_t bit = 1u << i;
            if ((plan.present & bit) != 0 &&
                ((applied_.present & bit) == 0 || KindOf(plan, bit) != KindOf(applied_, bit))) {
                Present(static_cast<char>('A' + i), KindOf(plan, bit));
            }
        }
        applied_ = plan;
    }

    void Present(char letter, unsigned kind) {
        if (kind != 0 && wine_.active()) {
            ::CreateDirectoryW(options_.volumes.c_str(), nullptr);
            const std::uint32_t error =
                wine_.Define(letter, kind == 1 ? DRIVE_REMOVABLE : DRIVE_CDROM,
                             options_.volumes + L"\\" + vcam::WineDrives::FolderName(letter));
            if (error != 0) {
                Note(std::string("Wine's mount manager did not take letter ") + letter +
                     ": (error " + std::to_string(error) + ")");
            }
        }
        const DWORD error = driver_.SetLetter(
            letter, ZQVCAM_LETTER_PRESENT | (kind == 1 ? ZQVCAM_LETTER_REMOVABLE : 0u));
        Note(std::string("letter ") + letter + ": presented" +
             (kind == 1   ? ", removable"
              : kind == 2 ? ", optical"
                          : "") +
             (error != 0 ? " (the driver refused: error " + std::to_string(error) + ")" : ""));
    }

    void Withdraw(char letter, unsigned kind) {
        const DWORD error = driver_.SetLetter(letter, 0);
        if (kind != 0 && wine_.active()) {
            wine_.Undefine(letter);
        }
        Note(std::string("letter ") + letter + ": withdrawn" +
             (error != 0 ? " (the driver refused: error " + std::to_string(error) + ")" : ""));
    }

    // With the world file's notify line, the letters that came and went since the last look are
    // announced to every window, as Windows would; without it nobody is told.
    void Announce() {
        const bool notify = live_.applied() != nullptr && live_.applied()->notify;
        if (!notify) {
            announced_.reset();
            return;
        }
        const sim::LetterState now{applied_.present,
                                   sim::LettersOf(world_).storage & applied_.present};
        if (!announced_) {
            announced_ = now;  // what is there now is known already
            return;
        }
        for (const sim::LetterEvent& event : sim::VolumeEvents(*announced_, now)) {
            trace_.Append(std::string("# notify: ") +
                          (event.arrival ? "DBT_DEVICEARRIVAL " : "DBT_DEVICEREMOVECOMPLETE ") +
                          event.letter + ":");
            announcer_.Post(event);
        }
        announced_ = now;
    }

    void Stop() {
        driver_.CancelAll();
        for (int i = 0; i < sim::kLetterCount; ++i) {
            const std::uint32_t bit = 1u << i;
            if ((applied_.present & bit) != 0) {
                Withdraw(static_cast<char>('A' + i), KindOf(applied_, bit));
            }
        }
        applied_ = {};
        Note("stopped");
    }

    Options options_;
    sim::World world_;
    sim::TraceWriter trace_;
    sim::LiveWorldFile live_;
    vcam::CameraService core_;
    vcam::DriverLink driver_;
    vcam::WineDrives wine_;
    Announcer announcer_;
    std::uint32_t reserved_ = 0;
    std::uint32_t ignored_ = 0;
    vcam::LetterPlan applied_;
    std::optional<sim::LetterState> announced_;
    bool holdSetDone_ = false;

    // The hostile camera's server actions (sim/hostile.h).
    struct Held {  // an answer a hang keeps back
        ULONGLONG due;
        vcam::Request request;
        vcam::Answer answer;
        std::string which;
    };
    struct Plug {  // an unplugged camera's letter coming back or going again
        ULONGLONG due;
        char letter;
        bool back;
    };
    std::optional<sim::HostileAction> serverAction_;  // of the request being carried out
    std::vector<Held> held_;
    std::vector<Plug> plugs_;
    std::uint32_t away_ = 0;               // the letters of unplugged cameras
    std::map<std::uint32_t, char> opens_;  // the opens passed on and not closed, by number
    std::set<std::uint32_t> dead_;         // those made before their camera was unplugged
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: %s [--world FILE] [--trace FILE] [--volumes FOLDER]\n"
                     "       [--request-timeout MS] [--hold-set CODE] [--echo none|notes|all]\n",
                     kProgram);
        return 2;
    }
    g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Service service(*options);
    return service.Run();
}
