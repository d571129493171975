// wait_for_change: blocks one connection until the watched file's content
// really changes (polled, then debounced until writing goes quiet), the
// user sends the workspace a sidebar message, the wait times out, or the
// client goes away.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "json_text.h"
#include "sidebar.h"

namespace elmpad::headless {

struct ChangeWait {
  std::optional<std::string> path;       // file whose content change wakes
  std::optional<std::string> workspace;  // workspace key whose messages wake
  std::chrono::milliseconds timeout{120000};
  bool report_source = false;  // a workspace was named
};

struct WaitTiming {
  std::chrono::milliseconds poll{100};
  std::chrono::milliseconds settle{300};  // quiet time before a change counts
};

/// The wake report, or nullopt when the client at `client_fd` hung up (or
/// the wait cannot poll for it).
[[nodiscard]] std::optional<json> wait_for_change(const ChangeWait& wait, Sidebar& sidebar, int client_fd, WaitTiming timing = {});

/// The limits applied to a requested timeout: 120 s by default, 600 s at most.
std::chrono::milliseconds wait_timeout(std::optional<std::uint64_t> secs);

}  // namespace elmpad::headless
