// The command line's dispatch: every command but `mcp` becomes a result,
// which one renderer prints; its exit status is the process's.
#pragma once

#include "cli/cli_command.h"

namespace elmpad {

/// Runs any command but `mcp`, which is the other front end's, and returns
/// the exit status.
[[nodiscard]] int run_command(const CliCommand& command);

}  // namespace elmpad
