// zelquin-cli.exe: the real devices need nothing before the tool runs.
#include "cli/program_start.h"

namespace cli {

void StartProgram() {}

}  // namespace cli
