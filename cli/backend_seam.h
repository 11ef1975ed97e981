// The backend over the operating-system seam of os/: drive letters D: to Z:, each probed by the
// camera link's own per-letter probe, commands through the one pass-through, the camera volumes
// of the host integration, the file manager, and the system's error texts and local time. It is
// the real Windows backend of zelquin-cli.exe; linked with sim/ it runs on the simulated computer.
#pragma once

#include "cli/backend.h"

namespace cli {

class SeamBackend : public Backend {
  public:
    // `arrivals` hears the system's volume arrivals: a camera's storage volume is one that
    // arrived after the release command, as Windows announces it when a volume (or a medium in
    // a removable drive) comes.
    explicit SeamBackend(EventSourceFactory& arrivals) : arrivals_(arrivals) {}

    DeviceNaming Naming() override;
    std::vector<std::string> Candidates() override;
    std::optional<std::string> ParseDevice(std::string_view text) override;
    Probe ProbeDevice(const std::string& device) override;
    PassThroughOutcome Execute(DeviceId id, std::span<const std::uint8_t> cdb,
                               std::span<std::uint8_t> dataIn) override;
    void Close(DeviceId id) override;
    std::vector<Volume> CameraVolumes() override;
    std::unique_ptr<VolumeWatch> WatchVolumes(std::uint32_t timeoutMs,
                                              std::uint32_t& systemError) override;
    bool OpenFolder(const std::string& root) override;
    std::string ErrorText(std::uint32_t error) override;
    std::string DeviceText(std::span<const std::uint8_t> bytes) override;
    bool LocalTime(std::tm& now) override;
    void Sleep(std::uint32_t milliseconds) override;

  private:
    EventSourceFactory& arrivals_;
};

}  // namespace cli
