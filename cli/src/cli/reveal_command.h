// `elmpad reveal <file> [heading]`.
#pragma once

#include <optional>
#include <string>

#include "cli/command_result.h"

namespace elmpad {

/// Opens `file` in the app and scrolls to `heading`, if one is given.
CommandResult reveal_heading(const std::string& file, const std::optional<std::string>& heading);

}  // namespace elmpad
