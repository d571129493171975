// Files as the app's buffers reach the disk: read whole, and written whole
// through a temporary file in the same directory that is synced and renamed
// over the original, so a reader never sees half an edit.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace elmpad::headless {

/// The file's bytes; the error is the system's text.
std::expected<std::string, std::string> read_file(const std::string& path);

/// Replaces the content of `path` (following a symbolic link to its target)
/// atomically, keeping the file's permissions; creates nothing else. The
/// error is the failing call and the system's text.
std::expected<void, std::string> write_file_atomically(const std::string& path, std::string_view content);

}  // namespace elmpad::headless
