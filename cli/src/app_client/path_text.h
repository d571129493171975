// Paths as users type them, made absolute without normalising, and turned
// into the text that travels in requests.
#pragma once

#include <string>
#include <string_view>

#include "run_err.h"

namespace elmpad {

/// The current directory, or "NO_CWD" with the system's error text.
Result<std::string> current_dir();

/// `path` when absolute; otherwise `cwd` joined with it as typed: "." and
/// ".." stay, and an empty `path` yields `cwd` followed by a separator.
std::string absolute_path(std::string_view cwd, std::string_view path);

/// `path` as text: byte sequences that are not UTF-8 become U+FFFD.
std::string path_text(std::string_view path);

enum class FileKind { kMissing, kDirectory, kOther };

/// What `path` names, following symbolic links; unreadable counts as missing.
FileKind file_kind(const std::string& path);

}  // namespace elmpad
