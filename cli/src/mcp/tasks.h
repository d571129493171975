// Background tasks (the tasks extension of the 2026-07-28 revision): a long
// tool call answered at once with a task handle, run on a thread and a
// connection of its own beside the main loop, and polled with tasks/get.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "mcp/json_rpc.h"
#include "mcp/tool_table.h"
#include "run_err.h"

namespace elmpad::mcp {

/// The tasks of one server, from any thread. Each task ends with the
/// process: its thread is detached, and the store is never destroyed.
class TaskStore : public TaskBook {
 public:
  /// Waits running at once. The next one is refused with a tool error, so
  /// that nothing running is disturbed and the model learns why at once.
  static constexpr std::size_t kMaxWorking = 16;
  /// Finished tasks kept for tasks/get (each until its time to live); the
  /// oldest goes first beyond this.
  static constexpr std::size_t kMaxFinished = 64;
  /// A task is kept an hour from its creation: long past the longest wait
  /// (ten minutes), for a client to fetch its result.
  static constexpr std::int64_t kTtlMs = 3'600'000;
  /// How often a client should ask: a wake reaches the agent within this.
  static constexpr std::int64_t kPollMs = 1000;

  /// Runs `tool` as a task: its CreateTaskResult once tasks/get would find
  /// it. "TOO_MANY_WAITS" when kMaxWorking tasks are working; "NO_THREAD"
  /// when no thread could be started.
  Result<ObjectText> start(PreparedTool tool);

  std::optional<ObjectText> get(std::string_view task_id) override;
  bool cancel(std::string_view task_id) override;

 private:
  struct Task;
  class Control;
  using Clock = std::chrono::system_clock;

  void finish(const std::shared_ptr<Task>& task, ToolResult result);
  // Each of these is called with mu_ held.
  ObjectText describe(const Task& task, Clock::time_point now) const;
  void forget_expired(Clock::time_point now);

  std::mutex mu_;
  // Random, made with the first task (nothing is done at start-up): a
  // restarted server never answers an old task's id.
  std::string id_prefix_;                               // guarded by mu_
  std::uint64_t last_number_ = 0;                       // guarded by mu_
  std::map<std::string, std::shared_ptr<Task>> tasks_;  // guarded by mu_
};

/// The server's tasks: made on first use (a command-line run makes none)
/// and never destroyed, so that detached task threads outlive nothing they
/// use.
[[nodiscard]] TaskStore& server_tasks();

}  // namespace elmpad::mcp
