// What the tool's Windows main does before it runs the tool, where the two programs built from it
// differ: zelquin-cli.exe has nothing to do there (program_start.cpp), zelquin-cli-sim.exe has
// its world file read (program_start_sim.cpp). cli/CMakeLists.txt links the one or the other.
#pragma once

namespace cli {

void StartProgram();

}  // namespace cli
