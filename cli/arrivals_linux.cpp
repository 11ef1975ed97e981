#include "cli/arrivals_linux.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How often a node that is quiet but whose device is not set up yet is looked at again.
constexpr int kRecheckMs = 50;

// "sg0", "sg12": a SCSI generic node's name.
bool IsGenericNode(std::string_view name) {
    return name.size() > 2 && name.substr(0, 2) == "sg" &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The kernel is done with the device behind `node`: sysfs names its vendor and, for a disk, its
// block device is there.
bool SetUp(const sg::Roots& roots, const std::string& node) {
    std::error_code error;
    const fs::path device = fs::path(roots.sys) / "class" / "scsi_generic" / node / "device";
    if (!fs::exists(device / "vendor", error)) {
        return false;
    }
    std::string type;
    {
        std::FILE* file = std::fopen((device / "type").c_str(), "r");
        if (file != nullptr) {
            char text[16] = {};
            if (std::fgets(text, sizeof text, file) != nullptr) {
                type = text;
            }
            std::fclose(file);
        }
    }
    if (type.rfind("0", 0) != 0) {
        return true;
    }
    return fs::exists(device / "block", error) && !fs::is_empty(device / "block", error);
}

std::set<std::string> GenericNodes(const std::string& dev) {
    std::set<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dev, error)) {
        const std::string name = entry.path().filename().string();
        if (IsGenericNode(name)) {
            names.insert(name);
        }
    }
    return names;
}

class Source : public EventSource {
  public:
    Source(const ArrivalSettings& settings, std::optional<std::uint32_t> timeoutMs, int watch,
           int signals, const sigset_t& oldMask)
        : settings_(settings),
          watch_(watch),
          signals_(signals),
          oldMask_(oldMask),
          known_(GenericNodes(settings.roots.dev)) {
        if (timeoutMs) {
            deadline_ = Clock::now() + std::chrono::milliseconds(*timeoutMs);
        }
    }

    ~Source() override {
        close(watch_);
        // A second Ctrl+C that came meanwhile is taken here, not by the default action.
        signalfd_siginfo info;
        while (read(signals_, &info, sizeof info) == sizeof info) {
        }
        close(signals_);
        sigprocmask(SIG_SETMASK, &oldMask_, nullptr);
    }

    WatchEvent Next() override {
        while (true) {
            const Clock::time_point now = Clock::now();
            if (std::optional<std::string> node = Settled(now)) {
                return {WatchEvent::Kind::kArrival, settings_.roots.dev + "/" + *node, 0};
            }
            if (deadline_ && now >= *deadline_) {
                return {WatchEvent::Kind::kTimeout, {}, 0};
            }
            int waitMs = -1;
            if (!pending_.empty()) {
                waitMs = kRecheckMs;
            }
            if (deadline_) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - now).count();
                const int leftMs = static_cast<int>(std::min<long long>(left + 1, 1 << 30));
                waitMs = waitMs < 0 ? leftMs : std::min(waitMs, leftMs);
            }
            pollfd fds[2] = {{signals_, POLLIN, 0}, {watch_, POLLIN, 0}};
            const int ready = poll(fds, 2, waitMs);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return {WatchEvent::Kind::kFailed, {}, static_cast<std::uint32_t>(errno)};
            }
            if (fds[0].revents != 0) {
                signalfd_siginfo info;
                if (read(signals_, &info, sizeof info) == sizeof info) {
                    return {WatchEvent::Kind::kStop, {}, 0};
                }
            }
            if (fds[1].revents != 0) {
                if (const int error = ReadEvents(); error != 0) {
                    return {WatchEvent::Kind::kFailed, {}, static_cast<std::uint32_t>(error)};
                }
            }
        }
    }

  private:
    struct Pending {
        std::string node;
        Clock::time_point appeared;
        Clock::time_point lastTouched;
    };

    // The first pending node that is quiet and set up (or waited for long enough), taken off the
    // list; nullopt when there is none yet.
    std::optional<std::string> Settled(Clock::time_point now) {
        const auto settle = std::chrono::milliseconds(settings_.settleMs);
        const auto giveUp = std::chrono::milliseconds(settings_.giveUpMs);
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (now - it->lastTouched < settle) {
                continue;
            }
            if (now - it->appeared >= giveUp || SetUp(settings_.roots, it->node)) {
                std::string node = it->node;
                pending_.erase(it);
                return node;
            }
        }
        return std::nullopt;
    }

    void Appeared(const std::string& node, Clock::time_point now) {
        known_.insert(node);
        for (Pending& pending : pending_) {
            if (pending.node == node) {
                pending.lastTouched = now;
                return;
            }
        }
        pending_.push_back({node, now, now});
    }

    void Went(const std::string& node) {
        known_.erase(node);
        pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                      [&node](const Pending& p) { return p.node == node; }),
                       pending_.end());
    }

    // Reads what inotify has; 0, or the errno of a failed read.
    int ReadEvents() {
        alignas(inotify_event) char buffer[8192];
        const ssize_t got = read(watch_, buffer, sizeof buffer);
        if (got < 0) {
            return errno == EINTR || errno == EAGAIN ? 0 : errno;
        }
        const Clock::time_point now = Clock::now();
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* nameStart = buffer + at + sizeof event;
            const std::string name(nameStart, strnlen(nameStart, event.len));
            at += static_cast<ssize_t>(sizeof event + event.len);
            if ((event.mask & IN_Q_OVERFLOW) != 0) {
                Rescan(now);
                continue;
            }
            if ((event.mask & IN_IGNORED) != 0) {
                return ENODEV;  // the folder itself went
            }
            if (!IsGenericNode(name)) {
                // A disk node of the device being scanned: its scan is not over yet.
                if (name.rfind("sd", 0) == 0) {
                    for (Pending& pending : pending_) {
                        pending.lastTouched = now;
                    }
                }
                continue;
            }
            if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                Went(name);
            } else if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                Appeared(name, now);
            } else if ((event.mask & IN_ATTRIB) != 0) {
                // Owner, mode or access list set (by udev): quiet again from now on.
                for (Pending& pending : pending_) {
                    if (pending.node == name) {
                        pending.lastTouched = now;
                    }
                }
            }
        }
        return 0;
    }

    // Events were lost: the nodes there now are compared with the ones known.
    void Rescan(Clock::time_point now) {
        const std::set<std::string> present = GenericNodes(settings_.roots.dev);
        for (const std::string& node : std::set<std::string>(known_)) {
            if (present.count(node) == 0) {
                Went(node);
            }
        }
        for (const std::string& node : present) {
            if (known_.count(node) == 0) {
                Appeared(node, now);
            }
        }
    }

    ArrivalSettings settings_;
    int watch_;
    int signals_;
    sigset_t oldMask_;
    std::set<std::string> known_;
    std::vector<Pending> pending_;
    std::optional<Clock::time_point> deadline_;
};

}  // namespace

LinuxArrivals::LinuxArrivals(ArrivalSettings settings) : settings_(std::move(settings)) {}

std::unique_ptr<EventSource> LinuxArrivals::Start(std::optional<std::uint32_t> timeoutMs,
                                                  std::uint32_t& systemError) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0) {
        systemError = static_cast<std::uint32_t>(errno);
        return nullptr;
    }
    if (inotify_add_watch(
            watch, settings_.roots.dev.c_str(),
            IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR) < 0) {
        systemError = static_cast<std::uint32_t>(errno);
        close(watch);
        return nullptr;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigset_t oldMask;
    if (sigprocmask(SIG_BLOCK, &stop, &oldMask) != 0) {
        systemError = static_cast<std::uint32_t>(errno);
        close(watch);
        return nullptr;
    }
    const int signals = signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals < 0) {
        systemError = static_cast<std::uint32_t>(errno);
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
        close(watch);
        return nullptr;
    }
    return std::make_unique<Source>(settings_, timeoutMs, watch, signals, oldMask);
}

}  // namespace cli
