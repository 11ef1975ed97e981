// One ordered log of what the panel's surroundings saw: the fake window's lines and the simulated
// computer's device calls (and pauses), interleaved as they happened.
//
//     "create E"              CreateFileW on \\.\E: that gave a handle (failed opens are left out)
//     "close E"               CloseHandle of a handle on E: ("close ? bad" for an unknown handle)
//     "inquiry E"             the standard INQUIRY on E:
//     "get 14"                a get-form vendor block with that command code
//     "set 2 01"              a set-form vendor block: code and argument byte 8 (bytes 8-10 for
//                             the date and time commands 4 and 3)
//     "query E"               the storage property query on E:
//     "shell explorer E:\"    ShellExecuteW: file and parameters
//     "sleep 200"             Sleep
//     " failed" is appended when the call failed, " refused" when the device ended the command
//     with a check condition. Drive-list and drive-type calls are left out.
//
// Calls may come from several threads (the tool's commands over every camera): each line is
// kept with the thread that made the call, and ByThread() gives each thread's lines on their own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/fake_window.h"

class Journal {
  public:
    std::vector<std::string> lines;
    std::vector<std::thread::id> threads;  // the thread of each line

    // Runs after each device call has been logged: a test can change the world at that point,
    // e.g. unplug the camera once it has been released.
    std::function<void(const sim::Event&)> afterCall;

    // Sends the window's lines, the world's device calls and the system's pauses here.
    void Attach(FakeWindow& window, sim::World& world, sim::System& system) {
        window.journal = [this](const std::string& line) { Add(line); };
        world.SetObserver([this](const sim::Event& event) {
            const std::string line = Describe(event);
            if (!line.empty()) {
                Add(line);
            }
            if (afterCall) {
                afterCall(event);
            }
        });
        system.SetObserver([this](const sim::SystemEvent& event) {
            if (event.call == sim::SystemCall::kSleep) {
                Add("sleep " + std::to_string(event.value));
            }
        });
    }

    void Clear() {
        const std::lock_guard lock(mutex_);
        lines.clear();
        threads.clear();
    }

    // Each thread's lines in their order, the threads in the order of their first line.
    std::vector<std::vector<std::string>> ByThread() const {
        const std::lock_guard lock(mutex_);
        std::vector<std::thread::id> seen;
        std::vector<std::vector<std::string>> grouped;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::size_t at = 0;
            while (at < seen.size() && seen[at] != threads[i]) {
                ++at;
            }
            if (at == seen.size()) {
                seen.push_back(threads[i]);
                grouped.emplace_back();
            }
            grouped[at].push_back(lines[i]);
        }
        return grouped;
    }

    // The line for one device call; empty for the calls the journal leaves out.
    static std::string Describe(const sim::Event& event) {
        const std::string letter(1, event.letter == 0 ? '?' : event.letter);
        std::string line;
        switch (event.call) {
            case sim::Call::kCreateFile:
                return event.result ? "create " + letter : std::string();
            case sim::Call::kCloseHandle:
                return event.result ? "close " + letter : "close ? bad";
            case sim::Call::kGetLogicalDriveStrings:
            case sim::Call::kGetDriveType:
                return {};
            case sim::Call::kShellExecute:
                return "shell " + Narrow(event.file) + " " + Narrow(event.parameters);
            case sim::Call::kDeviceIoControl:
                break;
        }
        if (event.IsInquiry()) {
            line = "inquiry " + letter;
        } else if (event.VendorCode() >= 0) {
            const int code = event.VendorCode();
            if (event.cdb[4] == 0x60) {
                line = "get " + std::to_string(code);
            } else {
                line = "set " + std::to_string(code);
                const std::size_t args = (code == 3 || code == 4) ? 3 : 1;
                for (std::size_t i = 0; i < args; ++i) {
                    char hex[4];
                    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(event.cdb[8 + i]));
                    line += std::string(" ") + hex;
                }
            }
        } else if (event.IsStorageQuery()) {
            line = "query " + letter;
        } else {
            line = "ioctl " + letter;
        }
        if (!event.result) {
            line += " failed";
        } else if (event.IsPassThrough() && event.scsiStatus != 0) {
            line += " refused";
        }
        return line;
    }

  private:
    void Add(const std::string& line) {
        const std::lock_guard lock(mutex_);
        lines.push_back(line);
        threads.push_back(std::this_thread::get_id());
    }

    mutable std::mutex mutex_;

    static std::string Narrow(const std::optional<std::wstring>& text) {
        return text ? FakeWindow::Narrow(*text) : std::string("(null)");
    }
};
