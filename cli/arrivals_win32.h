// Volume arrivals on Windows, for watch: a hidden top-level window (the system broadcasts volume
// arrivals to top-level windows only, so not a message-only window) whose WM_DEVICECHANGE
// arrival records are decoded by the host integration, Ctrl+C and Ctrl+Break through the
// console's control handler, and the watch's time limit through a window timer.
#pragma once

#include "cli/backend.h"

namespace cli {

class Win32Arrivals : public EventSourceFactory {
  public:
    std::unique_ptr<EventSource> Start(std::optional<std::uint32_t> timeoutMs,
                                       std::uint32_t& systemError) override;
};

}  // namespace cli
