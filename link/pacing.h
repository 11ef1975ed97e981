// How fast a camera is talked to. A camera has only ever been driven by the control panel, so
// every program that drives one keeps the panel's order and its pauses: the connection asks the
// state and the three firmware pieces back to back, then reads the settings in kSettingReadOrder
// with a pause before each. The panel and the command-line tool both take these from here.
//
// An operation is what a program sends in one go: the commands within it go back to back, as the
// camera takes them; between two operations on one camera there is a pause.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "link/protocol.h"

// The pause before each setting read, and between two operations on one camera.
inline constexpr std::uint32_t kSettingPauseMs = 200;

// The settings as the connection reads them, in this order.
inline constexpr std::array<CameraCommand, 3> kSettingReadOrder = {
    kCmdLoopRecording, kCmdResolution, kCmdTimestampDisplay};

// Keeps the pause between the operations on one camera. The first operation goes at once; each
// later one waits the pause, less what the caller waited since the last operation through Rest.
class Pacer {
  public:
    using PauseFunction = std::function<void(std::uint32_t milliseconds)>;

    Pacer(std::uint32_t pauseMs, PauseFunction pause);

    // Call before the first command of an operation.
    void BeginOperation();
    // Waits `milliseconds` (a poll between two looks); it counts toward the next pause.
    void Rest(std::uint32_t milliseconds);

    std::uint32_t pauseMs() const { return pauseMs_; }

  private:
    std::uint32_t pauseMs_;
    PauseFunction pause_;
    bool first_ = true;
    std::uint32_t rested_ = 0;  // waited through Rest since the last operation
};
