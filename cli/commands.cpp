#include "cli/commands.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

#include "cli/arrival_setups.h"
#include "cli/camera_session.h"
#include "cli/parallel.h"
#include "link/protocol.h"

namespace cli {

namespace {

using Work = std::function<void(CameraSession&, CameraReport&)>;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

// The identification fields of standard INQUIRY data: vendor 8-15, product 16-31, revision 32-35.
Identity IdentityOf(Backend& backend, const Probe& probe) {
    const std::span<const std::uint8_t> data = probe.inquiryData;
    Identity identity;
    identity.vendor = Trimmed(backend.DeviceText(data.subspan(8, 8)));
    identity.product = Trimmed(backend.DeviceText(data.subspan(16, 16)));
    identity.revision = Trimmed(backend.DeviceText(data.subspan(32, 4)));
    return identity;
}

DriveReport DriveOf(Backend& backend, const Probe& probe) {
    DriveReport drive;
    drive.device = probe.device;
    drive.result = probe.result;
    drive.systemError = probe.systemError;
    if (probe.result == ProbeResult::kOpenFailed || probe.result == ProbeResult::kInquiryFailed) {
        drive.systemText =
            probe.systemText.empty() ? backend.ErrorText(probe.systemError) : probe.systemText;
    }
    drive.mark = probe.inquiryData[kInquiryMarkByte];
    return drive;
}

// Why the device the user named is no camera to work with.
Failure NamedDeviceFailure(Backend& backend, const Probe& probe) {
    const DriveReport drive = DriveOf(backend, probe);
    Failure failure;
    failure.device = probe.device;
    switch (probe.result) {
        case ProbeResult::kAbsent:
            failure.exit = Exit::kNoCamera;
            failure.message = "there is no such drive";
            failure.systemError = probe.systemError;
            failure.systemText =
                probe.systemText.empty() ? backend.ErrorText(probe.systemError) : probe.systemText;
            break;
        case ProbeResult::kNotCamera:
            failure.exit = Exit::kNoCamera;
            failure.message = "not a camera: its INQUIRY byte 3 is " + std::to_string(drive.mark) +
                              ", a camera answers 1";
            break;
        case ProbeResult::kOpenFailed:
            failure.exit = Exit::kSystemError;
            failure.message =
                "could not be opened: " + SystemErrorPhrase(drive.systemError, drive.systemText);
            failure.systemError = drive.systemError;
            failure.systemText = drive.systemText;
            break;
        case ProbeResult::kInquiryFailed:
            failure.exit = Exit::kSystemError;
            failure.command = CommandRef{true, CommandForm::kGet, kOpInquiry};
            failure.message =
                "the INQUIRY failed: " + SystemErrorPhrase(drive.systemError, drive.systemText);
            failure.systemError = drive.systemError;
            failure.systemText = drive.systemText;
            break;
        case ProbeResult::kCamera:
            failure.exit = Exit::kInternal;
            failure.message = "is a camera";
            break;
    }
    return failure;
}

Failure NoCameraFailure(const DeviceNaming& naming, bool noDevices,
                        const std::vector<DriveReport>& drives) {
    Failure failure;
    failure.exit = Exit::kNoCamera;
    failure.message = "no camera found on " + naming.range;
    if (noDevices && !naming.none.empty()) {
        failure.notes.push_back(naming.none);
    }
    const auto unopened = std::count_if(drives.begin(), drives.end(), [](const DriveReport& d) {
        return d.result == ProbeResult::kOpenFailed;
    });
    if (unopened == 1) {
        failure.message += "; one drive could not be opened and may hold one";
    } else if (unopened > 1) {
        failure.message +=
            "; " + std::to_string(unopened) + " drives could not be opened and may hold one";
    }
    return failure;
}

// What one device of a scan found: the probe, and for a camera the work done on it.
struct DeviceVisit {
    Probe probe;
    std::optional<CameraReport> camera;
};

// Probes `device`; a camera is worked on and closed again. The probe and the camera's report
// stay with the visit; a device that is no camera is only probed.
DeviceVisit Visit(Backend& backend, const std::string& device, std::uint32_t paceMs,
                  const Work& work) {
    DeviceVisit visit;
    visit.probe = backend.ProbeDevice(device);
    if (visit.probe.result != ProbeResult::kCamera) {
        return visit;
    }
    CameraReport camera;
    camera.device = visit.probe.device;
    camera.identity = IdentityOf(backend, visit.probe);
    {
        CameraSession session(backend, visit.probe, paceMs);
        work(session, camera);
    }
    visit.camera = std::move(camera);
    return visit;
}

// Every device at once, each on a thread of its own with its own handle, so that the pauses of
// N cameras take about as long as those of one; the report lists them in drive order all the
// same.
void ForEveryDevice(Backend& backend, const std::vector<std::string>& devices, std::uint32_t paceMs,
                    Report& report, const Work& work) {
    std::vector<DeviceVisit> visits(devices.size());
    RunInParallel(devices.size(), [&](std::size_t index) {
        visits[index] = Visit(backend, devices[index], paceMs, work);
    });
    for (DeviceVisit& visit : visits) {
        if (visit.camera) {
            report.cameras.push_back(std::move(*visit.camera));
        } else if (visit.probe.result != ProbeResult::kAbsent) {
            report.drives.push_back(DriveOf(backend, visit.probe));
        }
    }
}

void ForEachTarget(Backend& backend, const Target& target, Report& report, const Work& work) {
    const std::vector<std::string> candidates = backend.Candidates();
    if (target.all && !target.device) {
        ForEveryDevice(backend, candidates, target.paceMs, report, work);
    } else {
        // One camera: the one named, or the first found, whose drives are looked at in turn.
        const std::vector<std::string> devices =
            target.device ? std::vector<std::string>{*target.device} : candidates;
        for (const std::string& device : devices) {
            DeviceVisit visit = Visit(backend, device, target.paceMs, work);
            if (visit.camera) {
                report.cameras.push_back(std::move(*visit.camera));
                return;
            }
            if (target.device) {
                report.error = NamedDeviceFailure(backend, visit.probe);
                return;
            }
            if (visit.probe.result != ProbeResult::kAbsent) {
                report.drives.push_back(DriveOf(backend, visit.probe));
            }
        }
    }
    if (report.cameras.empty()) {
        report.error = NoCameraFailure(backend.Naming(), candidates.empty(), report.drives);
    }
}

// Reads the state; with `mustBeReady`, a camera that is not ready is a failure. False when the
// work on this camera ends here.
bool ReadState(CameraSession& session, CameraReport& camera, bool mustBeReady) {
    int state = 0;
    if (auto failure = session.ReadState(state)) {
        camera.error = std::move(failure);
        return false;
    }
    camera.state = state;
    if (!IsReadyState(state)) {
        if (mustBeReady) {
            camera.error = session.NotReady(state);
        }
        return false;
    }
    return true;
}

void ReadDetails(CameraSession& session, CameraReport& camera) {
    std::string firmware;
    if (auto failure = session.ReadFirmware(firmware)) {
        camera.error = std::move(failure);
        return;
    }
    camera.firmware = firmware;
    // Read in the panel's order, kept in the report's.
    for (const CameraCommand code : kSettingReadOrder) {
        for (std::size_t i = 0; i < kAllSettings.size(); ++i) {
            if (InfoOf(kAllSettings[i]).code != code) {
                continue;
            }
            int value = 0;
            if (auto failure = session.ReadSetting(kAllSettings[i], value)) {
                camera.error = std::move(failure);
                return;
            }
            camera.settings[i] = value;
        }
    }
}

void ApplyChanges(CameraSession& session, CameraReport& camera,
                  const std::vector<SettingChange>& changes) {
    for (const SettingChange& change : changes) {
        ChangeReport outcome;
        outcome.change = change;
        std::optional<Failure> failure = session.WriteSetting(change.setting, change.value);
        if (!failure) {
            int value = 0;
            failure = session.ReadSetting(change.setting, value);
            if (!failure) {
                outcome.readBack = value;
                if (value != change.value) {
                    Failure mismatch;
                    mismatch.exit = Exit::kMismatch;
                    mismatch.device = camera.device;
                    mismatch.setting = change.setting;
                    mismatch.sent = change.value;
                    mismatch.readBack = value;
                    mismatch.message = std::string(InfoOf(change.setting).name) + " was set to " +
                                       ValueText(change.setting, change.value) +
                                       " but reads back " + ValueText(change.setting, value);
                    failure = std::move(mismatch);
                }
            }
        }
        outcome.error = failure;
        camera.changes.push_back(outcome);
        if (failure && !camera.error) {
            camera.error = failure;
        }
        // A camera whose platform calls fail is gone or broken: the other settings would fail too.
        if (failure && failure->exit == Exit::kSystemError) {
            return;
        }
    }
}

void SyncClock(Backend& backend, CameraSession& session, CameraReport& camera) {
    std::tm now{};
    if (!backend.LocalTime(now)) {
        Failure failure;
        failure.exit = Exit::kSystemError;
        failure.device = camera.device;
        failure.message = "the local time could not be read";
        camera.error = std::move(failure);
        return;
    }
    const CameraDateTime dateTime = CameraDateTimeFromLocalTime(now);
    if (auto failure = session.SetClock(dateTime)) {
        camera.error = std::move(failure);
        return;
    }
    camera.clock = ClockReport{now, dateTime};
}

// A platform call's failure, told as "what: the system's words".
Failure SystemFailure(Backend& backend, const std::string& device, const std::string& what,
                      std::uint32_t error) {
    Failure failure;
    failure.exit = Exit::kSystemError;
    failure.device = device;
    failure.systemError = error;
    failure.systemText = backend.ErrorText(error);
    failure.message = what + ": " + SystemErrorPhrase(error, failure.systemText);
    return failure;
}

void Release(Backend& backend, CameraSession& session, CameraReport& camera,
             const ReleaseOptions& options) {
    if (!ReadState(session, camera, true)) {
        return;
    }
    // The watch starts before the command, so that a volume that comes at once is not missed;
    // what was there before, the camera's command-mode disk among it, is not the volume.
    std::uint32_t watchError = 0;
    const std::unique_ptr<VolumeWatch> watch = backend.WatchVolumes(options.timeoutMs, watchError);
    if (!watch) {
        camera.error = SystemFailure(backend, camera.device,
                                     "cannot watch for the camera's storage volume", watchError);
        return;
    }
    const std::optional<Failure> released = session.Release();
    const VolumeEvent event = watch->Next();
    if (event.kind != VolumeEvent::Kind::kVolume) {
        if (released) {
            camera.error = released;
            return;
        }
        if (event.kind == VolumeEvent::Kind::kFailed) {
            camera.error =
                SystemFailure(backend, camera.device,
                              "watching for the camera's storage volume failed", event.systemError);
            return;
        }
        Failure failure;
        failure.exit = Exit::kNoVolume;
        failure.device = camera.device;
        failure.message = event.kind == VolumeEvent::Kind::kStop
                              ? "stopped while waiting for the camera's storage volume"
                              : "the camera's storage volume did not appear within " +
                                    std::to_string(options.timeoutMs / 1000) +
                                    " s of the release command";
        camera.error = std::move(failure);
        return;
    }
    const std::optional<Volume> volume = event.volume;
    if (released) {
        camera.notes.push_back("the release command was not confirmed (" + released->message +
                               "), but the camera's volume appeared");
    }
    camera.notes.insert(camera.notes.end(), volume->notes.begin(), volume->notes.end());
    camera.volume = volume->root;
    if (options.open) {
        camera.opened = backend.OpenFolder(volume->root);
        if (!*camera.opened) {
            Failure failure;
            failure.exit = Exit::kSystemError;
            failure.device = camera.device;
            failure.message = "the file manager could not be started on " + volume->root;
            camera.error = std::move(failure);
        }
    }
}

// A device that just arrived: nullopt when it is no camera; otherwise the camera, set up.
std::optional<CameraReport> SetUpArrival(Backend& backend, const std::string& device,
                                         const WatchOptions& options) {
    Probe probe;
    for (int attempt = 0; attempt < kArrivalProbeTries; ++attempt) {
        if (attempt > 0) {
            backend.Sleep(kPollIntervalMs);
        }
        probe = backend.ProbeDevice(device);
        if (probe.result != ProbeResult::kOpenFailed &&
            probe.result != ProbeResult::kInquiryFailed) {
            break;
        }
    }
    // Gone again, no camera, or a device that does not answer the INQUIRY: nothing to tell.
    if (probe.result == ProbeResult::kAbsent || probe.result == ProbeResult::kNotCamera ||
        probe.result == ProbeResult::kInquiryFailed) {
        return std::nullopt;
    }
    CameraReport camera;
    camera.device = device;
    if (probe.result != ProbeResult::kCamera) {
        // Whatever arrived there could not be opened to ask whether it is a camera.
        camera.error = NamedDeviceFailure(backend, probe);
        return camera;
    }
    camera.identity = IdentityOf(backend, probe);
    CameraSession session(backend, std::move(probe), options.paceMs);
    for (int attempt = 0; attempt < kArrivalStateTries; ++attempt) {
        if (attempt > 0) {
            session.Rest(kPollIntervalMs);
        }
        camera.error.reset();
        if (ReadState(session, camera, true)) {
            break;
        }
        if (camera.error && camera.error->exit != Exit::kNotReady) {
            return camera;
        }
    }
    if (camera.error) {
        return camera;
    }
    if (!options.syncTime && options.changes.empty()) {
        ReadDetails(session, camera);
        return camera;
    }
    if (options.syncTime) {
        SyncClock(backend, session, camera);
        if (camera.error) {
            return camera;
        }
    }
    ApplyChanges(session, camera, options.changes);
    return camera;
}

}  // namespace

Report RunList(Backend& backend, std::uint32_t paceMs) {
    Report report;
    report.command = CommandKind::kList;
    ForEachTarget(backend, Target{std::nullopt, true, paceMs}, report,
                  [](CameraSession& session, CameraReport& camera) {
                      if (ReadState(session, camera, false)) {
                          ReadDetails(session, camera);
                      }
                  });
    return report;
}

Report RunStatus(Backend& backend, const Target& target) {
    Report report;
    report.command = CommandKind::kStatus;
    ForEachTarget(backend, target, report, [](CameraSession& session, CameraReport& camera) {
        if (ReadState(session, camera, true)) {
            ReadDetails(session, camera);
        }
    });
    return report;
}

Report RunSet(Backend& backend, const Target& target, const std::vector<SettingChange>& changes) {
    Report report;
    report.command = CommandKind::kSet;
    ForEachTarget(backend, target, report,
                  [&changes](CameraSession& session, CameraReport& camera) {
                      if (ReadState(session, camera, true)) {
                          ApplyChanges(session, camera, changes);
                      }
                  });
    return report;
}

Report RunSyncTime(Backend& backend, const Target& target) {
    Report report;
    report.command = CommandKind::kSyncTime;
    ForEachTarget(backend, target, report,
                  [&backend](CameraSession& session, CameraReport& camera) {
                      if (ReadState(session, camera, true)) {
                          SyncClock(backend, session, camera);
                      }
                  });
    return report;
}

Report RunRelease(Backend& backend, const ReleaseOptions& options) {
    Report report;
    report.command = CommandKind::kRelease;
    ForEachTarget(backend, Target{options.device, false, options.paceMs}, report,
                  [&backend, &options](CameraSession& session, CameraReport& camera) {
                      Release(backend, session, camera, options);
                  });
    return report;
}

Exit RunWatch(Backend& backend, EventSourceFactory& events, const WatchOptions& options,
              Output& output) {
    // A failure that ended the watch itself; the first camera that could not be set up goes
    // before it in deciding the exit code.
    std::optional<Failure> ending;
    std::string reason;

    const auto listeningFailed = [&backend](const std::string& what, std::uint32_t error) {
        Failure failure;
        failure.exit = Exit::kSystemError;
        failure.systemError = error;
        failure.systemText = backend.ErrorText(error);
        failure.message = what + ": " + SystemErrorPhrase(error, failure.systemText);
        return failure;
    };

    // Each camera is set up on a thread of its own while the watch listens on, and told with
    // what went wrong at once, in the order the cameras arrived.
    ArrivalSetUps setUps(
        [&backend, &options](const std::string& device) {
            return SetUpArrival(backend, device, options);
        },
        [&options, &output](const CameraReport& camera) {
            if (options.json) {
                output.Out(WatchArrivalJson(camera));
                return;
            }
            output.Out(WatchLineText(camera));
            if (camera.error) {
                PrintFailure(*camera.error, output);
            }
        });

    std::uint32_t listenError = 0;
    const std::unique_ptr<EventSource> source = events.Start(options.timeoutMs, listenError);
    if (!source) {
        ending = listeningFailed("cannot listen for arriving volumes", listenError);
        reason = "failed";
    }
    while (source && reason.empty() && !setUps.Thrown()) {
        if (options.count) {
            // With enough cameras under way to make up the count, their set-ups decide whether
            // the watch goes on: no further arrival is taken before then.
            setUps.WaitWhileUnderWayCouldReach(*options.count);
            if (setUps.Told() >= *options.count) {
                reason = "count";
                break;
            }
        }
        const WatchEvent event = source->Next();
        switch (event.kind) {
            case WatchEvent::Kind::kStop:
                reason = "interrupted";
                break;
            case WatchEvent::Kind::kTimeout:
                reason = "timeout";
                break;
            case WatchEvent::Kind::kFailed:
                reason = "failed";
                ending =
                    listeningFailed("listening for arriving volumes failed", event.systemError);
                break;
            case WatchEvent::Kind::kArrival:
                // Only the devices the tool looks at: a volume on C: is no camera's.
                if (const std::optional<std::string> device = backend.ParseDevice(event.device)) {
                    setUps.Start(*device);
                }
                break;
        }
    }
    // The cameras that arrived before the watch ended are set up and told all the same.
    setUps.Finish();
    if (const std::exception_ptr thrown = setUps.Thrown()) {
        std::rethrow_exception(thrown);
    }
    const int handled = setUps.Told();
    if (reason == "timeout") {
        if (options.count && handled >= *options.count) {
            reason = "count";  // the last of them was still being set up when the time ran out
        } else if (handled < options.count.value_or(1)) {
            Failure failure;
            failure.exit = Exit::kNoCamera;
            failure.message = "the time ran out after " + std::to_string(handled) +
                              (handled == 1 ? " camera" : " cameras");
            if (options.count) {
                failure.message += " of " + std::to_string(*options.count);
            }
            ending = std::move(failure);
        }
    }
    const std::optional<Failure> firstCamera = setUps.FirstFailure();
    const std::optional<Failure>& deciding = firstCamera ? firstCamera : ending;
    const Exit exit = deciding ? deciding->exit : Exit::kOk;
    if (options.json) {
        output.Out(WatchStoppedJson(reason, handled, exit, deciding));
    } else if (ending) {
        PrintFailure(*ending, output);
    }
    return exit;
}

}  // namespace cli
