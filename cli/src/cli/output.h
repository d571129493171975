// How the command line reports a command's result: a success as text or,
// under --json, one envelope line on standard output; a failure as an
// "elmpad: " line on standard error or, under --json, a JSON failure line on
// standard output. The only place the command line prints, but for the
// launch notice, which connect_or_launch writes as the launch starts: the
// user reads it during the seconds the app takes to come up.
#pragma once

#include "cli/command_result.h"

namespace elmpad {

/// Prints `result` and returns the exit status. Output that could not be
/// written turns a success into a failure: the user never got what they
/// asked for.
[[nodiscard]] int render(const CommandResult& result, bool json_output);

}  // namespace elmpad
