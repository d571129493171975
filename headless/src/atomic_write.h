// Files as the app's buffers reach the disk: read whole, and written whole
// through a temporary file in the same directory that is synced and renamed
// over the original, so a reader never sees half an edit. A temporary file
// is named ".<note>.elmwrite-XXXXXX" (".elmwrite-XXXXXX" for a note whose
// name is too long to repeat) and locked while its write lasts, so one that
// a killed write left behind can be told from one being written.
#pragma once

#include <string>
#include <string_view>

#include "run_err.h"

namespace elmpad::headless {

/// The file's bytes; else "READ_FAILED" with the failing call and the
/// system's text, or "not a regular file".
Result<std::string> read_file(const std::string& path);

/// Whether the user may not change the file: the system would refuse them,
/// or nobody may write it (which the superuser respects too). A file that
/// cannot be looked at is not known to be read-only.
[[nodiscard]] bool is_read_only(const std::string& path);

/// Replaces the content of `path` (following a symbolic link to its target)
/// atomically, keeping the file's permissions; creates nothing else, and
/// first removes what killed writes of the note left behind. Else
/// "WRITE_FAILED" with the failing call and the system's text.
Result<void> write_file_atomically(const std::string& path, std::string_view content);

/// Removes the temporary files of `path` that earlier writes, killed
/// half-way, left beside it: the user's own regular files with a temporary
/// file's name that no live write holds. Touches nothing else.
void remove_stale_temporaries(const std::string& path);

}  // namespace elmpad::headless
