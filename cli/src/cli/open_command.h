// `elmpad [open] <file>...` and `elmpad <folder>`.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace elmpad {

/// Returns the exit status (0, 1, 2 or 3).
int open(const std::vector<std::string>& files, bool wait, bool json_output,
         const std::optional<std::string>& source);

}  // namespace elmpad
