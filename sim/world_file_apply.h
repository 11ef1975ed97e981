// Laying a world file's description out in a sim::World (sim/world_file_parse.h reads the file),
// on a fresh world or as the change from the description applied before, so that a person can
// plug and unplug the camera by editing the file while the program runs.
#pragma once

#include "sim/world.h"
#include "sim/world_file_parse.h"

namespace sim {

// Lays out `next` in `world`. With `previous` null the world is taken as empty (as after
// Reset()) and every statement is applied. Otherwise only what differs between the two
// descriptions changes: a drive whose line changed or went is unplugged (handles on it die) and
// plugged in as now described; a camera line that appears, goes or names another letter plugs,
// unplugs or replugs the camera (a fresh camera in command mode, with the file's settings); a
// camera that stays takes only the values whose text changed, so settings the program has set
// survive the reload; a changed list of faults replaces the faults not used up yet. The storage
// volume's description is always taken as it is, with or without a camera line: a camera plugged
// in later finds it.
void ApplyWorldFile(World& world, const WorldDescription& next, const WorldDescription* previous);

}  // namespace sim
