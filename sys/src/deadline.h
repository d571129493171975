// Waiting on a non-blocking descriptor until a deadline: what a caller uses
// when one deadline bounds a whole exchange, however the peer paces it.
#pragma once

#include <chrono>
#include <string_view>

#include "run_err.h"

namespace elmpad {

using Deadline = std::chrono::steady_clock::time_point;

/// Makes `fd` non-blocking (a flag of the open file, so its duplicates too).
SysResult<void> set_nonblocking(int fd);

/// Waits until `fd` is ready for `events` (or in error, which the next read
/// or write reports); ETIMEDOUT once `deadline` has passed.
SysResult<void> wait_ready(int fd, short events, Deadline deadline);

/// write_all on a non-blocking `fd`, giving up with ETIMEDOUT at `deadline`.
SysResult<void> write_all_before(int fd, std::string_view bytes, Deadline deadline);

}  // namespace elmpad
