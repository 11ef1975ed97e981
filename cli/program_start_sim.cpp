// zelquin-cli-sim.exe: the simulated program reads its world file before its first device call
// (sim/program_world.cpp); this call makes sure that happens before the watch waits for arrivals
// that the file announces.
#include "cli/program_start.h"
#include "os/os.h"

namespace cli {

void StartProgram() {
    os::GetLogicalDriveStringsW(0, nullptr);
}

}  // namespace cli
