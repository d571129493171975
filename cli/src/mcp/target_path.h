// The path a tool acts on, as the agent gave it: made absolute and checked
// for the kind of thing it must name, before the application is reached.
#pragma once

#include <string>
#include <string_view>

#include "run_err.h"

namespace elmpad::mcp {

enum class TargetKind {
  kNote,    // anything but a directory, a missing file included: "PATH_IS_DIRECTORY"
  kFolder,  // a directory: "NOT_A_DIRECTORY"
};

/// `path` made absolute against the current directory ("NO_CWD") and turned
/// into request text, when what it names is of `kind`.
Result<std::string> target_path(std::string_view path, TargetKind kind);

}  // namespace elmpad::mcp
