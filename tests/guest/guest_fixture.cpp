#include "tests/guest/guest_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace guest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFirstPort = 3240;
const char kVhci[] = "/sys/devices/platform/vhci_hcd.0";
const char kScsiGeneric[] = "/sys/class/scsi_generic";

std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// Starts `args` with standard output and error appended to `log`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        std::vector<char*> argv = Argv(args);
        execv(argv[0], argv.data());
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    return pid;
}

// Waits for `pid` up to `limit`; then SIGKILL. Returns the wait status, or -1 (also for the -1
// of a failed fork, which must neither wait for any child nor signal every process).
int Reap(pid_t pid, std::chrono::milliseconds limit) {
    if (pid <= 0) {
        return -1;
    }
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return status;
        }
        if (done < 0) {
            return -1;  // not a child of ours (any more): nothing to end
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

void Stop(pid_t& pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        Reap(pid, std::chrono::seconds(5));
        pid = -1;
    }
}

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
    }
    return fields;
}

std::string Slug(const std::string& name) {
    std::string slug;
    for (const char c : name) {
        slug += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    }
    return slug;
}

bool WriteFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (true) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// ---- processes ----

namespace {

void DropTo(uid_t uid, gid_t gid) {
    if (uid == static_cast<uid_t>(-1)) {
        return;
    }
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        std::fprintf(stderr, "cannot become %u:%u: %s\n", static_cast<unsigned>(uid),
                     static_cast<unsigned>(gid), std::strerror(errno));
        _exit(126);
    }
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                         uid_t uid, gid_t gid) {
    CommandResult result;
    int out[2];
    int err[2];
    if (pipe(out) != 0) {
        return result;
    }
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        for (const int fd : {out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        return result;
    }
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        DropTo(uid, gid);
        std::vector<char*> args = Argv(argv);
        execvp(args[0], args.data());
        std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto begun = Clock::now();
    const auto end = begun + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    bool late = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            late = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                char buffer[4096];
                const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i == 0 ? result.out : result.err)
                        .append(buffer, static_cast<std::size_t>(got));
                }
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    if (late) {
        kill(pid, SIGKILL);
    }
    const int status = Reap(pid, late ? std::chrono::milliseconds(1000) : limit);
    result.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
    result.timedOut = late;
    if (!late && status >= 0 && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    if (status >= 0 && WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

int RunAs(uid_t uid, gid_t gid, const std::function<int()>& body, std::chrono::milliseconds limit) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        DropTo(uid, gid);
        _exit(body());
    }
    const int status = Reap(pid, limit);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- a command in the background ----

Background::Background(const std::vector<std::string>& argv, uid_t uid, gid_t gid) {
    char pattern[] = "/tmp/zq-background.XXXXXX";
    dir_ = mkdtemp(pattern);
    const std::string out = dir_ + "/out";
    const std::string err = dir_ + "/err";
    pid_ = fork();
    if (pid_ == 0) {
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0) {
            _exit(127);
        }
        dup2(outFd, 1);
        dup2(errFd, 2);
        close(outFd);
        close(errFd);
        DropTo(uid, gid);
        std::vector<char*> args = Argv(argv);
        execvp(args[0], args.data());
        std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
}

Background::~Background() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string Background::OutSoFar() const {
    std::ifstream in(dir_ + "/out", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Background::Signal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

CommandResult Background::Wait(std::chrono::milliseconds limit) {
    CommandResult result;
    if (pid_ > 0) {
        const int status = Reap(pid_, limit);
        if (status >= 0 && WIFEXITED(status)) {
            status_ = WEXITSTATUS(status);
        }
        if (status >= 0 && WIFSIGNALED(status)) {
            signal_ = WTERMSIG(status);
        }
        timedOut_ = status < 0;
        pid_ = -1;
    }
    result.exitCode = status_;
    result.signal = signal_;
    result.timedOut = timedOut_;
    result.out = OutSoFar();
    std::ifstream err(dir_ + "/err", std::ios::binary);
    result.err = std::string(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return result;
}

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return lines;
}

std::vector<std::string> OpenFiles(pid_t pid) {
    std::vector<std::string> targets;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    if (fds == nullptr) {
        return targets;
    }
    while (dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        char target[256] = {};
        const std::string link = folder + "/" + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0) {
            targets.emplace_back(target);
        }
    }
    closedir(fds);
    return targets;
}

bool Watching(pid_t pid) {
    const std::vector<std::string> targets = OpenFiles(pid);
    return std::find(targets.begin(), targets.end(), "anon_inode:inotify") != targets.end();
}

void KeepJson(const std::string& scenario, const std::string& out) {
    const char* logs = std::getenv("ZQ_GUEST_LOGS");
    const char* given = std::getenv("ZQ_GUEST_JSON");
    const std::string folder =
        given != nullptr && *given != 0
            ? std::string(given)
            : std::string(logs != nullptr && *logs != 0 ? logs : "/tmp") + "/json";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    std::istringstream lines(out);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        // Each document whole or not at all (WriteFile writes beside it and renames).
        WriteFile(folder + "/" + Slug(scenario) + "." + std::to_string(++number) + ".json",
                  line + "\n");
    }
}

// ---- a served camera ----

Served::Served(std::string world, int port, int bus, std::string logPath)
    : logPath_(std::move(logPath)), port_(port), bus_(bus) {
    char pattern[] = "/tmp/zq-world.XXXXXX";
    dir_ = mkdtemp(pattern);
    worldPath_ = dir_ + "/world.txt";
    statePath_ = dir_ + "/state.txt";
    WriteFile(worldPath_, world);
    pid_ = Spawn({ZQ_USBIP_CAMERA, "--world", worldPath_, "--port", std::to_string(port), "--bus",
                  std::to_string(bus), "--state", statePath_},
                 logPath_);
    WaitFor([this] { return fs::exists(statePath_); }, std::chrono::seconds(10));
}

Served::~Served() {
    Stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void Served::Stop() {
    guest::Stop(pid_);
}

bool Served::Running() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) {
        pid_ = -1;  // ended (and reaped): never signalled again
    }
    return pid_ > 0;
}

void Served::Rewrite(const std::string& world) {
    WriteFile(worldPath_, world);
}

std::map<std::string, std::string> Served::State() const {
    std::ifstream in(statePath_);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("camera ", 0) == 0) {
            return Fields(line);
        }
    }
    return {};
}

std::vector<std::map<std::string, std::string>> Served::Devices() const {
    std::vector<std::map<std::string, std::string>> devices;
    std::ifstream in(statePath_);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("device ", 0) == 0) {
            devices.push_back(Fields(line));
        }
    }
    return devices;
}

// ---- the bench ----

GuestBench::GuestBench(std::string scenario) : scenario_(Slug(scenario)) {
    const char* logs = std::getenv("ZQ_GUEST_LOGS");
    logDir_ = logs != nullptr && *logs != 0 ? logs : "/tmp";
}

GuestBench::~GuestBench() {
    StopAttach();
    RunCommand({ZQ_USBIP_ATTACH, "--detach-all"}, std::chrono::seconds(10));
    WaitFor([] { return NodeCount() == 0; }, std::chrono::seconds(20));
    served_.clear();
}

std::string GuestBench::Missing() {
    std::string missing;
    if (geteuid() != 0) {
        missing += " root";
    }
    if (!fs::exists(kVhci)) {
        missing += " vhci-hcd";
    }
    if (!fs::exists("/sys/bus/usb/drivers/usb-storage")) {
        missing += " usb-storage";
    }
    if (!fs::exists("/sys/class/scsi_generic")) {
        missing += " sg";
    }
    return missing.empty() ? missing
                           : "run inside the guest (guest/run-guest.sh); missing:" + missing;
}

Served& GuestBench::Serve(const std::string& world) {
    const int index = static_cast<int>(served_.size());
    const std::string log =
        logDir_ + "/" + scenario_ + ".server" + std::to_string(index + 1) + ".log";
    served_.push_back(std::make_unique<Served>(world, kFirstPort + index, index + 1, log));
    return *served_.back();
}

void GuestBench::Attach() {
    std::vector<std::string> args = {ZQ_USBIP_ATTACH, "--follow"};
    for (const auto& served : served_) {
        args.push_back("--port");
        args.push_back(std::to_string(served->port()));
    }
    attach_ = Spawn(args, logDir_ + "/" + scenario_ + ".attach.log");
}

void GuestBench::StopAttach() {
    Stop(attach_);
}

std::size_t GuestBench::NodeCount() {
    std::size_t count = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(kScsiGeneric, error)) {
        (void)entry;
        ++count;
    }
    return count;
}

bool GuestBench::WaitForNodes(std::size_t count, std::chrono::milliseconds limit) const {
    return WaitFor(
        [count] {
            std::size_t ready = 0;
            std::error_code error;
            for (const fs::directory_entry& entry : fs::directory_iterator(kScsiGeneric, error)) {
                std::error_code none;
                const fs::path device = entry.path() / "device";
                if (fs::exists(device / "vendor", none) && fs::exists(device / "block", none) &&
                    !fs::is_empty(device / "block", none) &&
                    fs::exists(std::string("/dev/") + entry.path().filename().string(), none)) {
                    ++ready;
                }
            }
            return ready == count;
        },
        limit);
}

}  // namespace guest
