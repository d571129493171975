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

/// What a long call reports while it blocks.
struct ProgressPlan {
  std::uint64_t total_seconds = 0;  // the most it may block
  std::string waiting_for;          // "a change", "a message"…
};

/// "waiting for a change: 15 of 120 s"
[[nodiscard]] std::string waiting_message(const ProgressPlan& plan, std::uint64_t seconds);

/// The notification after `ticks` intervals: "progress" the seconds waited
/// (a fraction where intervals are shorter than a second, so that it rises
/// with every notification), "total" the plan's, and a message saying both,
/// such as "waiting for a change: 15 of 120 s".
[[nodiscard]] std::string progress_line(const RequestId& token, std::uint64_t ticks, std::chrono::milliseconds interval,
                                        const ProgressPlan& plan);

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
