// Progress notifications while a long tool call blocks: a client that resets
// its request timeout on progress then waits for the call's own end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "mcp/request_id.h"

namespace elmpad::mcp {

/// The interval between notifications: 5 s, or the milliseconds in
/// ELMPAD_PROGRESS_INTERVAL_MS (tests shorten it), never more than 10 s.
[[nodiscard]] std::chrono::milliseconds progress_interval();

/// {"jsonrpc":"2.0","method":"notifications/progress","params":{"progress":N,"progressToken":T}}
[[nodiscard]] std::string progress_line(const RequestId& token, std::uint64_t progress);

/// Calls `emit` with 1, 2, 3… once every `interval` on a thread of its own,
/// until stop() or until `emit` answers false. When the thread cannot be
/// started there is simply no progress.
class ProgressTicker {
 public:
  ProgressTicker(std::chrono::milliseconds interval, std::function<bool(std::uint64_t)> emit);
  ~ProgressTicker() { stop(); }
  ProgressTicker(const ProgressTicker&) = delete;
  ProgressTicker& operator=(const ProgressTicker&) = delete;

  /// Returns once the last call of `emit` has returned: nothing is emitted
  /// after it.
  void stop();

 private:
  void run();

  std::chrono::milliseconds interval_;
  std::function<bool(std::uint64_t)> emit_;
  std::mutex mu_;
  std::condition_variable stopping_;
  bool stopped_ = false;  // guarded by mu_
  std::thread thread_;
};

}  // namespace elmpad::mcp
