#include "cli/tool.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <optional>
#include <sstream>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/report.h"
#include "cli/settings.h"

#ifndef ZQ_VERSION
#error "ZQ_VERSION must name the tool's version"
#endif

namespace cli {

namespace {

constexpr std::uint32_t kMaxSeconds = 2000000;  // within what a window timer takes
constexpr std::uint32_t kMaxPaceMs = 60000;

// A bad command line that CLI11 does not see: a setting or a drive it cannot judge.
struct UsageError {
    std::string message;
};

std::optional<std::string> DeviceOption(Backend& backend, const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> device = backend.ParseDevice(text);
    if (!device) {
        throw UsageError{"'" + text + "' is not a drive that can hold a camera (" +
                         backend.Naming().accepted + ")"};
    }
    return device;
}

std::vector<SettingChange> Changes(const std::vector<std::string>& texts) {
    std::string error;
    const std::optional<std::vector<SettingChange>> changes = ParseChanges(texts, error);
    if (!changes) {
        throw UsageError{error};
    }
    return *changes;
}

std::string Footer() {
    return "\n" + ExitCodeHelp();
}

}  // namespace

std::string ExitCodeHelp() {
    std::string text = "Exit codes:\n";
    for (const ExitCodeInfo& info : kExitCodes) {
        char line[160];
        std::snprintf(line, sizeof line, "  %d  %-13s %s\n", ToInt(info.code), info.kind,
                      info.meaning);
        text += line;
    }
    text +=
        "With --all, and in watch, the code is that of the first camera (in drive order) that "
        "failed.\n";
    return text;
}

int RunTool(const std::vector<std::string>& args, Backend& backend, EventSourceFactory& events,
            Output& output) {
    const DeviceNaming naming = backend.Naming();
    CLI::App app{"Zelquin camera tool: every camera on " + naming.range +
                     ", its status and settings, the clock, storage mode, and set-up of cameras "
                     "as they are plugged in.",
                 kToolName};
    app.set_version_flag("--version", std::string(kToolName) + " " + ZQ_VERSION);
    app.require_subcommand(1);
    app.footer(Footer());

    bool json = false;
    bool verbose = false;
    app.add_flag("--json", json, "write one JSON document (schema zelquin-cli/1) instead of text");
    app.add_flag("-v,--verbose", verbose, "also tell every drive that is not a camera, and why");
    std::uint32_t paceMs = kSettingPauseMs;
    app.add_option("--pace", paceMs,
                   "milliseconds between two operations on one camera, as the control panel "
                   "pauses before each setting read; 0 for none, for cameras known to keep up")
        ->check(CLI::Range(0u, kMaxPaceMs))
        ->capture_default_str();

    std::string drive;
    bool all = false;
    const auto addTarget = [&drive, &all, &naming](CLI::App* command, bool allowAll) {
        CLI::Option* driveOption = command->add_option(
            "-d,--drive,--device", drive,
            "the camera's drive, e.g. " + naming.example + " (default: the first camera found)");
        if (allowAll) {
            command->add_flag("-a,--all", all, "every camera found")->excludes(driveOption);
        }
    };

    CLI::App* list = app.add_subcommand(
        "list", "every camera on " + naming.range + " with its state, firmware and settings");
    CLI::App* status = app.add_subcommand("status", "one camera's report");
    addTarget(status, true);

    std::vector<std::string> setTexts;
    CLI::App* set =
        app.add_subcommand("set", "set one or more settings, each then read back from the camera");
    set->add_option("setting", setTexts, ChangeSyntax())->required();
    addTarget(set, true);

    CLI::App* syncTime =
        app.add_subcommand("sync-time", "set the camera's clock from the local time");
    addTarget(syncTime, true);

    bool open = false;
    std::uint32_t releaseSeconds = kDefaultReleaseTimeoutMs / 1000;
    CLI::App* release = app.add_subcommand(
        "release", "switch the camera to storage mode and print its volume's root");
    addTarget(release, false);
    release->add_flag("--open", open, "open the volume in the file manager");
    release->add_option("--timeout", releaseSeconds, "seconds to wait for the volume")
        ->check(CLI::Range(0u, kMaxSeconds))
        ->capture_default_str();

    bool watchSync = false;
    std::vector<std::string> watchTexts;
    int count = 0;
    std::uint32_t watchSeconds = 0;
    CLI::App* watch = app.add_subcommand(
        "watch", "set up each camera as it is plugged in, one line each; Ctrl+C ends it");
    watch->add_flag("--sync-time", watchSync, "set the clock of each camera that arrives");
    watch
        ->add_option("--set", watchTexts,
                     "a setting for each camera that arrives: " + ChangeSyntax())
        ->allow_extra_args(false);
    CLI::Option* countOption = watch->add_option("--count", count, "stop after this many cameras")
                                   ->check(CLI::PositiveNumber);
    CLI::Option* timeoutOption =
        watch->add_option("--timeout", watchSeconds, "stop after this many seconds")
            ->check(CLI::Range(1u, kMaxSeconds));

    for (CLI::App* command : {list, status, set, syncTime, release, watch}) {
        command->fallthrough();
        command->footer(Footer());
    }

    // The first word that is neither an option nor the value of one of the tool's own options
    // names the command; say plainly when it names none, rather than that a command is missing.
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--pace") {
            ++i;  // its value ("--pace=50" is one word)
            continue;
        }
        if (args[i].empty() || args[i][0] == '-') {
            continue;
        }
        std::string names;
        bool known = false;
        for (const CLI::App* command : {list, status, set, syncTime, release, watch}) {
            known = known || command->get_name() == args[i];
            names += (names.empty() ? "" : ", ") + command->get_name();
        }
        if (!known) {
            output.Err(std::string(kToolName) + ": '" + args[i] + "' is no command (" + names +
                       ")\nRun with --help for more information.\n");
            return ToInt(Exit::kUsage);
        }
        break;
    }

    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    try {
        try {
            app.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const CLI::ParseError& error) {
            std::ostringstream out;
            std::ostringstream err;
            const int code = app.exit(error, out, err);
            output.Out(out.str());
            if (code == 0) {
                return ToInt(Exit::kOk);  // --help, --version
            }
            output.Err(std::string(kToolName) + ": " + error.what() + "\n" +
                       "Run with --help for more information.\n");
            return ToInt(Exit::kUsage);
        }

        if (*watch) {
            WatchOptions options;
            options.syncTime = watchSync;
            options.changes = Changes(watchTexts);
            if (*countOption) {
                options.count = count;
            }
            if (*timeoutOption) {
                options.timeoutMs = watchSeconds * 1000;
            }
            options.json = json;
            options.paceMs = paceMs;
            return ToInt(RunWatch(backend, events, options, output));
        }

        Report report;
        const Target target{DeviceOption(backend, drive), all, paceMs};
        if (*list) {
            report = RunList(backend, paceMs);
        } else if (*status) {
            report = RunStatus(backend, target);
        } else if (*set) {
            report = RunSet(backend, target, Changes(setTexts));
        } else if (*syncTime) {
            report = RunSyncTime(backend, target);
        } else {
            report = RunRelease(backend,
                                ReleaseOptions{target.device, open, releaseSeconds * 1000, paceMs});
        }
        if (json) {
            output.Out(ToJson(report));
        } else {
            PrintText(report, output, verbose);
        }
        return ToInt(ExitOf(report));
    } catch (const UsageError& error) {
        output.Err(std::string(kToolName) + ": " + error.message + "\n" +
                   "Run with --help for more information.\n");
        return ToInt(Exit::kUsage);
    } catch (const std::exception& error) {
        output.Err(std::string(kToolName) + ": internal error: " + error.what() + "\n");
        return ToInt(Exit::kInternal);
    }
}

}  // namespace cli
