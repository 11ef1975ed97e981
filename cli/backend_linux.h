// The backend of zelquin-cli on Linux, over the SCSI generic layer of os/linux: the devices are
// the SCSI generic nodes ("/dev/sg1"), each asked the standard INQUIRY through SG_IO; commands go
// through SG_IO with their data-in transfer and the 2-second time-out, and come back as the one
// pass-through outcome of the camera link. The camera's volume is the disk behind it once it has
// a medium: its mount point, or its block device while nothing has mounted it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/backend.h"
#include "os/linux/scsi_generic.h"

namespace cli {

// Where the backend looks and what it starts; the tests point these at trees and programs of
// their own.
struct LinuxSettings {
    sg::Roots roots;
    // The desktop's opener, started on the volume's folder and never waited for.
    std::vector<std::string> opener = {"xdg-open"};
    // How long `--open` waits for the desktop to mount a volume that is not mounted yet, and how
    // often it looks.
    std::uint32_t mountWaitMs = 5000;
    std::uint32_t mountPollMs = 250;
    // How often the wait for a camera's storage volume looks at the disks.
    std::uint32_t volumePollMs = 500;
};

class LinuxBackend : public Backend {
  public:
    explicit LinuxBackend(LinuxSettings settings = {});

    DeviceNaming Naming() override;
    std::vector<std::string> Candidates() override;
    // "/dev/sg1" or "sg1"; a SCSI disk ("/dev/sdb", "sdb", a partition "sdb1") names the SCSI
    // generic node of the same device.
    std::optional<std::string> ParseDevice(std::string_view text) override;
    Probe ProbeDevice(const std::string& device) override;
    PassThroughOutcome Execute(DeviceId id, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn) override;
    void Close(DeviceId id) override;
    std::vector<Volume> CameraVolumes() override;
    // The camera volumes on disks that are new since the watch started, or whose disk sequence
    // number has changed, or whose medium came since: the camera's command-mode disk, there
    // before the release command, is not its volume until the kernel has seen it change.
    std::unique_ptr<VolumeWatch> WatchVolumes(std::uint32_t timeoutMs,
                                              std::uint32_t& systemError) override;
    bool OpenFolder(const std::string& root) override;
    std::string ErrorText(std::uint32_t error) override;
    std::string DeviceText(std::span<const std::uint8_t> bytes) override;
    bool LocalTime(std::tm& now) override;
    void Sleep(std::uint32_t milliseconds) override;

  private:
    // The camera volumes among `disks`, each with the disk it is on.
    std::vector<std::pair<Volume, sg::BlockDevice>> VolumesOn(
        const std::vector<sg::BlockDevice>& disks);

    LinuxSettings settings_;
};

// What the kernel reported about one command, as the camera protocol's outcome: a command that
// did not reach the device is a failed call with the ioctl's errno; one the transport did not
// carry out (a host or driver status other than OK) is a failed call marked as the transport's
// failure, with ETIMEDOUT when the time-out ran out, ENODEV when the device is gone, EIO for other
// transport errors; otherwise the device's status, its sense data (at most 24 bytes) and the
// bytes it delivered.
PassThroughOutcome OutcomeOf(const sg::Outcome& outcome, unsigned timeoutMs = sg::kTimeoutMs);

// What a person is told when `path` could not be opened with `errnum`: for a permission refusal
// the node's owner, group and mode and what grants access (the group to join, the camera's udev
// rule); for a node that is not there, whether the SCSI generic driver is loaded at all.
std::string OpenErrorText(const std::string& path, int errnum, const sg::Roots& roots = {});

// 8-bit text from a device, in the Windows code page 1252 the camera's texts are written in, as
// UTF-8; a byte that page does not define becomes U+FFFD.
std::string Utf8FromCp1252(std::span<const std::uint8_t> bytes);

// Starts `argv` detached (its own session, no standard streams) and does not wait for it. True
// when the program was started; false when it could not be (not found, not executable).
bool StartDetached(const std::vector<std::string>& argv);

}  // namespace cli
