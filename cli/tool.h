// The command line of zelquin-cli: parsing (CLI11), the commands, and the rendering of their
// reports, independent of the platform. Each platform's main hands in its backend, its source of
// arrival events and its output.
#pragma once

#include <string>
#include <vector>

#include "cli/backend.h"

namespace cli {

// Runs the tool for `args` (UTF-8, args[0] being the program's name) and returns its exit code.
int RunTool(const std::vector<std::string>& args, Backend& backend, EventSourceFactory& events,
            Output& output);

}  // namespace cli
