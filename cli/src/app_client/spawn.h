// Running the platform's helper programs (`open`, `ps`) by name from PATH,
// with an argument vector and never through a shell.
#pragma once

#include <string>
#include <vector>

#include "run_err.h"

namespace elmpad {

/// How a child that was waited for ended.
struct ExitStatus {
  bool exited = false;  // false: ended by a signal
  int code = 0;
  bool success() const { return exited && code == 0; }
};

/// Runs `argv` with the standard streams inherited and waits for it. The
/// failure is a failed start.
SysResult<ExitStatus> run_and_wait(const std::vector<std::string>& argv);

/// Starts `argv` with the standard streams inherited and does not wait for
/// it; the child is handed to init at once, so it is never left a zombie.
/// A failed start goes unreported: nothing waits on what it would do.
void start_detached(const std::vector<std::string>& argv);

/// Runs `argv` with no standard input and returns its standard output (its
/// standard error is dropped); the exit status is ignored. The failure is a
/// failed start.
SysResult<std::string> capture_output(const std::vector<std::string>& argv);

}  // namespace elmpad
