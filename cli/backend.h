// How the tool reaches cameras: a small interface with one implementation per platform.
//
// SeamBackend (backend_seam.h) goes through the operating-system seam of os/, so it is the real
// Windows backend in zelquin-cli.exe and, linked with sim/, the simulated computer of the native
// tests. LinuxBackend (backend_linux.h) reaches SCSI generic devices through SG_IO, with their
// identity from sysfs and errno texts; its devices are named as the user names them there
// ("/dev/sg1"), and everything above this interface (the camera command set, the commands, the
// reports) is the same for both.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.h"

namespace cli {

// An open device, as the backend hands it out; meaningful to that backend only.
using DeviceId = std::uintptr_t;

enum class ProbeResult : std::uint8_t {
    kAbsent,         // there is no such device
    kOpenFailed,     // it is there but could not be opened; `systemError` says why
    kInquiryFailed,  // it opened, but the INQUIRY's platform call failed; `systemError` says why
    kNotCamera,      // it answered the INQUIRY without the camera's mark
    kCamera,         // the camera: `id` is open, and the caller closes it
};

// What opening one device and asking its INQUIRY found.
struct Probe {
    std::string device;  // as the user names it: "E:"
    ProbeResult result = ProbeResult::kAbsent;
    std::uint32_t systemError = 0;
    // What the backend knows of the failure beyond the error code's text (whose node it is, who
    // may open it and what grants access); empty when ErrorText(systemError) says it all.
    std::string systemText;
    PassThroughOutcome inquiry;
    std::array<std::uint8_t, kInquiryLength> inquiryData = {};
    DeviceId id = 0;
};

// A storage volume that a camera presents after the release command.
struct Volume {
    std::string root;    // where its files are: "F:\"
    std::string device;  // the device name it belongs to, as Candidates() names it: "F:"
    std::vector<std::string> notes;  // what the user should know about it, as sentences
};

// How a wait for a camera's storage volume ended.
struct VolumeEvent {
    enum class Kind : std::uint8_t {
        kVolume,   // a camera volume arrived, or changed: `volume`
        kTimeout,  // the time given to the wait is over
        kStop,     // the user asked to stop (Ctrl+C)
        kFailed,   // the event source broke down; `systemError` says why
    };
    Kind kind = Kind::kTimeout;
    Volume volume;
    std::uint32_t systemError = 0;
};

// The camera volumes that arrive or change from the moment the watch starts, and only those: a
// volume that was there before, unchanged, is never reported.
class VolumeWatch {
  public:
    virtual ~VolumeWatch() = default;
    // Blocks until the next such volume, or the end of the watch's time.
    virtual VolumeEvent Next() = 0;
};

// How the user names devices, for the help and the messages.
struct DeviceNaming {
    std::string range;     // where cameras are looked for: "D: to Z:"
    std::string accepted;  // what --drive takes: "D: to Z:"
    std::string example;   // one name: "E:"
    std::string none;      // what to tell when there is no device at all; empty: nothing
};

// A command over every camera calls ProbeDevice, Execute, Close, ErrorText, DeviceText,
// LocalTime and Sleep from several threads at once, each thread on a device of its own: those
// must be safe to call so.
class Backend {
  public:
    virtual ~Backend() = default;

    virtual DeviceNaming Naming() = 0;
    // Every device that may hold a camera, in scanning order.
    virtual std::vector<std::string> Candidates() = 0;
    // The candidate a user's text names ("e", "E:", "e:\"), or nullopt when it names none.
    virtual std::optional<std::string> ParseDevice(std::string_view text) = 0;
    // Opens the device and asks it the standard INQUIRY; a camera is left open.
    virtual Probe ProbeDevice(const std::string& device) = 0;
    // One data-in SCSI command on an open camera: `cdb` out, dataIn.size() bytes in.
    virtual PassThroughOutcome Execute(DeviceId id, std::span<const std::uint8_t> cdb,
                                       std::span<std::uint8_t> dataIn) = 0;
    virtual void Close(DeviceId id) = 0;

    // The storage volumes of cameras now present, in the system's order.
    virtual std::vector<Volume> CameraVolumes() = 0;
    // Starts watching for camera volumes that arrive or change from now on, for `timeoutMs`;
    // the release command follows. Null, with the reason in `systemError`, when it cannot start.
    virtual std::unique_ptr<VolumeWatch> WatchVolumes(std::uint32_t timeoutMs,
                                                      std::uint32_t& systemError) = 0;
    // Opens `root` in the file manager; false when it could not be started.
    virtual bool OpenFolder(const std::string& root) = 0;

    // The system's text for an error code, one line, UTF-8; empty when it has none.
    virtual std::string ErrorText(std::uint32_t error) = 0;
    // 8-bit text from a device (firmware, inquiry identity) as UTF-8.
    virtual std::string DeviceText(std::span<const std::uint8_t> bytes) = 0;
    // The current local time; false when it cannot be had.
    virtual bool LocalTime(std::tm& now) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// What the arrival watch hears.
struct WatchEvent {
    enum class Kind : std::uint8_t {
        kArrival,  // a volume arrived: `device` names it
        kStop,     // the user asked to stop (Ctrl+C)
        kTimeout,  // the time given to the watch is over
        kFailed,   // the event source broke down; `systemError` says why
    };
    Kind kind = Kind::kStop;
    std::string device;
    std::uint32_t systemError = 0;
};

class EventSource {
  public:
    virtual ~EventSource() = default;
    // Blocks until the next event.
    virtual WatchEvent Next() = 0;
};

// Starts listening for arrivals; `timeoutMs` (when set) ends the watch with kTimeout. Returns
// null, with the reason in `systemError`, when listening cannot start.
class EventSourceFactory {
  public:
    virtual ~EventSourceFactory() = default;
    virtual std::unique_ptr<EventSource> Start(std::optional<std::uint32_t> timeoutMs,
                                               std::uint32_t& systemError) = 0;
};

// Where the tool writes: the report to Out, diagnostics to Err. Every call is one or more whole
// lines of UTF-8 text and is passed on at once (the watch prints as cameras arrive).
class Output {
  public:
    virtual ~Output() = default;
    virtual void Out(std::string_view text) = 0;
    virtual void Err(std::string_view text) = 0;
};

}  // namespace cli
