// Laying a world file's description out in a sim::World (sim/world_file_parse.h reads the file),
// on a fresh world or as the change from the description applied before, so that a person can
// plug and unplug cameras by editing the file while the program runs.
#pragma once

#include "sim/world.h"
#include "sim/world_file_parse.h"

namespace sim {

// Lays out `next` in `world`. With `previous` null the world is taken as empty (as after
// Reset()) and every statement is applied. Otherwise only what differs between the two
// descriptions changes: a drive whose line changed or went is unplugged (handles on it die) and
// plugged in as now described; each camera line is known by its letter, and one that appears or
// goes plugs or unplugs its camera (a fresh camera in command mode, with the file's settings); a
// camera whose line stays takes only the values whose text changed, so settings the program has
// set survive the reload; a changed list of faults replaces the faults not used up yet. The
// storage volumes' descriptions are always taken as they are, each by the camera it belongs to
// (WorldDescription::StorageOf); a camera plugged in later finds its own. A hostile line that
// appears, changes or goes starts, restarts or ends the hostile camera (World::SetHostile).
void ApplyWorldFile(World& world, const WorldDescription& next, const WorldDescription* previous);

}  // namespace sim
