#include "link/pacing.h"

#include <utility>

Pacer::Pacer(std::uint32_t pauseMs, PauseFunction pause)
    : pauseMs_(pauseMs), pause_(std::move(pause)) {}

void Pacer::BeginOperation() {
    if (!first_ && rested_ < pauseMs_) {
        pause_(pauseMs_ - rested_);
    }
    first_ = false;
    rested_ = 0;
}

void Pacer::Rest(std::uint32_t milliseconds) {
    if (milliseconds > 0) {
        pause_(milliseconds);
    }
    rested_ = rested_ + milliseconds < rested_ ? UINT32_MAX : rested_ + milliseconds;
}
