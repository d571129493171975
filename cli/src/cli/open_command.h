// `elmpad [open] <file>...` and `elmpad <folder>`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/command_result.h"

namespace elmpad {

/// Opens `files` in the app, or the one folder among them as a workspace.
/// Under `wait`, the result is the session's outcome once its tab closed.
CommandResult open_paths(const std::vector<std::string>& files, bool wait, const std::optional<std::string>& source);

}  // namespace elmpad
