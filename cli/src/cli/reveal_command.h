// `elmpad reveal <file> [heading]`.
#pragma once

#include <optional>
#include <string>

namespace elmpad {

/// Returns the exit status (0, 1 or 2).
int reveal(const std::string& file, const std::optional<std::string>& heading, bool json_output);

}  // namespace elmpad
