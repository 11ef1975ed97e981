// Drive letters as a program's windows hear of them: the letters present in a simulated
// computer, and the volume events that tell a window which came and which went. Both the
// simulated program (with its world file's notify line) and the virtual camera's service send
// these events.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/world.h"

namespace sim {

// The drive letters present in `world`, bit 0 for A.
std::uint32_t PresentLetters(const World& world);

// A volume event as Windows sends it to every top-level window when a drive letter comes or
// goes (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE).
struct LetterEvent {
    bool arrival = false;
    char letter = 0;

    bool operator==(const LetterEvent&) const = default;
};

// The events that tell a window which letters went and came between two sets of letters (bit 0
// for A): the removals first, then the arrivals, each in the order A to Z.
std::vector<LetterEvent> LetterEvents(std::uint32_t before, std::uint32_t after);

}  // namespace sim
