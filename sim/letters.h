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

// What a window has been told of: the letters present, and those among them on which a camera's
// storage volume is (a camera released on its own letter keeps the letter).
struct LetterState {
    std::uint32_t present = 0;
    std::uint32_t storage = 0;

    bool operator==(const LetterState&) const = default;
};

LetterState LettersOf(World& world);

// The events between two states: those of LetterEvents, then an arrival for each letter that
// stayed and now holds a camera's storage volume it did not hold before, as Windows announces a
// medium that comes into a drive (a camera that stays on the bus and presents its volume).
std::vector<LetterEvent> VolumeEvents(const LetterState& before, const LetterState& after);

}  // namespace sim
