// The camera command set on one camera that the caller names, for the tool: every operation
// builds its block with MakeCameraBlock, sends it through the backend's one pass-through, and
// says what went wrong when anything did: the platform call failed, the camera ended the command
// with a status other than GOOD, or it sent less than its whole 8-byte answer. Nothing counts as
// done that the camera did not complete with GOOD status and a full answer.
//
// The commands go with the panel's manners (link/pacing.h): every operation but the first on the
// camera waits the pace first; the firmware pieces follow the state query at once, as in the
// panel's connection.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "cli/backend.h"
#include "cli/failure.h"
#include "cli/settings.h"
#include "link/pacing.h"
#include "link/protocol.h"

namespace cli {

class CameraSession {
  public:
    // Takes over the open camera of a probe whose result is kCamera; `paceMs` is the pause
    // between two operations (0: none).
    CameraSession(Backend& backend, Probe probe, std::uint32_t paceMs);
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    const std::string& device() const { return probe_.device; }
    const Probe& probe() const { return probe_; }

    // Each returns nullopt on success, the failure otherwise.
    std::optional<Failure> ReadState(int& state);
    // The firmware version: the three pieces joined, as UTF-8. It belongs to the state query's
    // operation and follows it without a pause.
    std::optional<Failure> ReadFirmware(std::string& text);
    std::optional<Failure> ReadSetting(Setting setting, int& value);
    std::optional<Failure> WriteSetting(Setting setting, int value);
    // The date command, then (only when it was accepted) the time command.
    std::optional<Failure> SetClock(const CameraDateTime& dateTime);
    // Sends the release command and closes the camera whatever its outcome: the camera may leave
    // the bus before it confirms.
    std::optional<Failure> Release();

    // Waits `milliseconds` between two looks at the camera; the wait counts toward the pace.
    void Rest(std::uint32_t milliseconds) { pacer_.Rest(milliseconds); }

    // The failure that a camera in `state` is for a command that needs it ready; nullopt when
    // it is ready.
    std::optional<Failure> NotReady(int state) const;

  private:
    // Sends one vendor command; a failure unless the call succeeded, the camera ended the command
    // with GOOD status and it sent the whole 8-byte answer.
    std::optional<Failure> Command(CommandForm form, std::uint8_t code,
                                   std::span<const std::uint8_t> args, VendorAnswer& answer);
    void Close();

    Backend& backend_;
    Probe probe_;
    Pacer pacer_;
    bool open_ = true;
};

}  // namespace cli
