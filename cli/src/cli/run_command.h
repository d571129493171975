// The command line's dispatch: answer help, version and misuse, hand every
// real command to its handler; the result is the exit status.
#pragma once

#include "cli/cli_command.h"

namespace elmpad {

/// Runs any command but `mcp`, which is the other front end's.
int run_command(const CliCommand& command);

}  // namespace elmpad
