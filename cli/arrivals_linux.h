// What zelquin-cli's watch hears on Linux: SCSI generic nodes appearing in /dev, seen through
// inotify. devtmpfs creates the nodes as the kernel registers the devices, with or without a udev
// daemon; a udev daemon that then sets the node's owner, mode or access list touches it again,
// which inotify reports too. An arrival is told once the node has been quiet for a moment and
// the kernel's scan of its device is over (sysfs names its vendor, and a disk has its block
// device), so that the tool does not ask a device the kernel is still setting up. Ctrl+C
// (SIGINT) and SIGTERM end the watch cleanly: they are taken through a signalfd while it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "cli/backend.h"
#include "os/linux/scsi_generic.h"

namespace cli {

struct ArrivalSettings {
    sg::Roots roots;
    // An arrival is told after its node has been quiet this long and its device is set up ...
    std::uint32_t settleMs = 300;
    // ... or, whatever sysfs shows, this long after the node appeared.
    std::uint32_t giveUpMs = 5000;
};

class LinuxArrivals : public EventSourceFactory {
  public:
    explicit LinuxArrivals(ArrivalSettings settings = {});
    std::unique_ptr<EventSource> Start(std::optional<std::uint32_t> timeoutMs,
                                       std::uint32_t& systemError) override;

  private:
    ArrivalSettings settings_;
};

}  // namespace cli
