// What a scenario inside the guest is made of: one or more simulated cameras served over USB/IP
// (each a world file, its own server and bus), attached to the guest kernel's vhci-hcd by the
// attach client following them; a command run in the guest, optionally as another user; checks
// on what the kernel shows and on the camera's state as the server's model holds it.
//
//   GuestBench bench("Scenario.Name");
//   Served& camera = bench.Serve("camera E state=2\n");   // a server on 127.0.0.1:3240, bus 1
//   bench.Attach();                                        // attach client in --follow mode
//   ASSERT_TRUE(bench.WaitForNodes(1));                    // usb-storage, sd and sg are done
//   ... guest::Cameras(), sg::Execute(), RunCommand({...}) ...
//   camera.Rewrite("");                                    // unplug: the camera line goes
//   camera.State()["resolution"]                           // the model's values
//
// The destructor detaches every port, stops the attach client and the servers (SIGTERM, then
// SIGKILL after a bounded wait) and waits for the nodes to go, so each scenario starts on an
// empty USB bus. Logs of the servers and the attach client go to $ZQ_GUEST_LOGS (the results
// folder) named after the scenario, or to /tmp.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace guest {

// Polls `condition` every 50 ms until it holds or `limit` has passed; true when it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(20));

struct CommandResult {
    int exitCode = -1;  // -1 when it did not end by itself (killed at the time-out) or by a signal
    std::string out;
    std::string err;
    int signal = 0;           // the signal that ended it, when one did (SIGKILL at the time-out)
    bool timedOut = false;    // ended by the caller at the time-out
    long long elapsedMs = 0;  // from its start to its end
};

// Runs `argv` and waits for it (up to `limit`), with standard output and error captured. With
// `uid` set (not -1) the command runs as that user and group, with no supplementary groups.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds limit = std::chrono::seconds(30),
                         uid_t uid = static_cast<uid_t>(-1), gid_t gid = static_cast<gid_t>(-1));

// A command started in the background (the watch, while a scenario plugs and unplugs cameras),
// optionally as another user; its standard output and error go to files of its own. Ended with
// SIGKILL when it is still running as the object goes.
class Background {
  public:
    explicit Background(const std::vector<std::string>& argv, uid_t uid = static_cast<uid_t>(-1),
                        gid_t gid = static_cast<gid_t>(-1));
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t pid() const { return pid_; }
    // What it has written to standard output so far.
    std::string OutSoFar() const;
    void Signal(int signal);
    // Waits up to `limit` for it to end by itself (then kills it; exitCode -1) and returns its
    // exit status and everything it wrote.
    CommandResult Wait(std::chrono::milliseconds limit);

  private:
    std::string dir_;
    pid_t pid_ = -1;
    int status_ = -1;
    int signal_ = 0;
    bool timedOut_ = false;
};

// Keeps each line of a command's JSON output as a file ("<scenario>.<n>.json") of the folder
// $ZQ_GUEST_JSON (the run's, which run-scenarios.sh publishes as the results folder's json/ once
// the guest is done) or else the results folder's json/, for the check against the documented
// schema after the guest's run. A scenario keeps its output before checking it, so that the
// schema check sees what the tool wrote whatever the scenario's own verdict.
void KeepJson(const std::string& scenario, const std::string& out);

// Each line of a program's output as a JSON document (discarded where a line is none).
std::vector<nlohmann::json> JsonLines(const std::string& out);

// The targets of a process's open descriptors ("/dev/sg0", "anon_inode:inotify", ...).
std::vector<std::string> OpenFiles(pid_t pid);

// The process has its inotify watch in place: the tool's watch listens.
bool Watching(pid_t pid);

// Runs `body` in a child process as `uid`/`gid` (no supplementary groups) and returns its exit
// status (its return value), or -1 when it crashed or hung past `limit`.
int RunAs(uid_t uid, gid_t gid, const std::function<int()>& body,
          std::chrono::milliseconds limit = std::chrono::seconds(30));

// A scenario of a command: the worlds served (one server each), the nodes to wait for, the
// command and who runs it, and what it must answer. The command-line tool's scenarios are rows
// of such a table.
struct CommandScenario {
    // Rows name only the fields they need (designated initializers); the others keep these.
    const char* name = "";
    std::vector<std::string> worlds = {};
    std::size_t nodes = 0;
    std::vector<std::string> argv = {};
    bool unprivileged = false;  // run as nobody (65534) instead of root
    int exitCode = 0;
    std::vector<std::string> outContains = {};  // each must appear in standard output
    std::vector<std::string> errContains = {};  // each must appear in standard error
    // A camera's value after the command, from the first server's state: key, value.
    std::vector<std::pair<std::string, std::string>> stateAfter = {};
};

// Test reports name a scenario by its name.
inline void PrintTo(const CommandScenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

// One camera server: a world file of its own in a scratch folder, the server process, its state
// file.
class Served {
  public:
    Served(std::string world, int port, int bus, std::string logPath);
    ~Served();
    Served(const Served&) = delete;
    Served& operator=(const Served&) = delete;

    // Replaces the world file in one go (written beside it, then renamed); the server applies it
    // within a tenth of a second, as a person editing the file would have it.
    void Rewrite(const std::string& world);
    // The server's model of the camera, from its state file: letter, mode, state, overwrite,
    // timestamp, resolution, date, dateset, time, timeset, releases. Empty before it has
    // written one.
    std::map<std::string, std::string> State() const;
    // The server's device lines, each a map: busid, letter, kind, devid, imported.
    std::vector<std::map<std::string, std::string>> Devices() const;

    int port() const { return port_; }
    int bus() const { return bus_; }
    const std::string& logPath() const { return logPath_; }
    bool Running();
    void Stop();

  private:
    std::string dir_;
    std::string worldPath_;
    std::string statePath_;
    std::string logPath_;
    int port_;
    int bus_;
    pid_t pid_ = -1;
};

class GuestBench {
  public:
    explicit GuestBench(std::string scenario);
    ~GuestBench();
    GuestBench(const GuestBench&) = delete;
    GuestBench& operator=(const GuestBench&) = delete;

    // Empty when the guest's kernel offers what scenarios need (root, vhci-hcd, usb-storage,
    // sg); otherwise what is missing.
    static std::string Missing();

    // Starts a server for `world` on the next port (3240, 3241, ...) and bus (1, 2, ...).
    Served& Serve(const std::string& world);
    // Starts the attach client following every server started so far.
    void Attach();
    // Waits until `count` SCSI generic nodes exist, each with its vendor readable and its disk
    // attached (the kernel's scan of the device is over).
    bool WaitForNodes(std::size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    // The SCSI generic nodes now present.
    static std::size_t NodeCount();
    // Stops the attach client: what is imported stays, what a server plugs in from then on is
    // not imported until Attach() starts it again.
    void StopAttach();

  private:
    std::string scenario_;
    std::string logDir_;
    std::vector<std::unique_ptr<Served>> served_;
    pid_t attach_ = -1;
};

}  // namespace guest
