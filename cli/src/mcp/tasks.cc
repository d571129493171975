#include "mcp/tasks.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "json_text.h"
#include "unique_fd.h"

namespace elmpad::mcp {
namespace {

// Task times are wall-clock times: clients compare them with their own.
using WallClock = std::chrono::system_clock;

// Sixteen hex digits from the system's random source (the clock and the
// process id where it cannot be read).
std::string random_prefix() {
  std::uint64_t bits = 0;
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::read(fd, &bits, sizeof bits) != static_cast<ssize_t>(sizeof bits)) {
    bits = static_cast<std::uint64_t>(WallClock::now().time_since_epoch().count()) ^
           (static_cast<std::uint64_t>(::getpid()) << 32);
  }
  if (fd >= 0) ::close(fd);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (int shift = 60; shift >= 0; shift -= 4) text += kHex[(bits >> shift) & 0xF];
  return text;
}

// ISO 8601 in UTC, to the millisecond: 2026-12-09T06:50:00.123Z.
std::string iso_time(WallClock::time_point t) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[32];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string millis = std::to_string(1000 + ms % 1000).substr(1);
  return std::string(text, n) + "." + millis + "Z";
}

}  // namespace

struct TaskStore::Task {
  enum class Status { kWorking, kCompleted, kCancelled };
  std::string id;
  PreparedTool tool;
  Clock::time_point created;
  Clock::time_point updated;
  Status status = Status::kWorking;
  std::optional<ToolResult> result;  // once completed
  UniqueFd socket;                   // a duplicate of the wait's connection, to end it
  bool cancel_requested = false;
};

// A task's wait as the tool sees it: the connection goes into the task's
// record, where tasks/cancel can shut it down.
class TaskStore::Control : public CallControl {
 public:
  Control(TaskStore& store, std::shared_ptr<Task> task) : store_(store), task_(std::move(task)) {}
  bool offer(int socket) override {
    std::lock_guard lock(store_.mu_);
    if (task_->cancel_requested) return false;
    auto copy = dup_cloexec(socket);
    task_->socket = copy ? std::move(*copy) : UniqueFd();
    return true;
  }
  bool cancelled() override {
    std::lock_guard lock(store_.mu_);
    return task_->cancel_requested;
  }

 private:
  TaskStore& store_;
  std::shared_ptr<Task> task_;
};

TaskStore& server_tasks() {
  static TaskStore& tasks = *new TaskStore;
  return tasks;
}

Result<ObjectText> TaskStore::start(PreparedTool tool) {
  auto task = std::make_shared<Task>(Task{.id = {}, .tool = std::move(tool)});
  ObjectText created;
  {
    std::lock_guard lock(mu_);
    const auto now = Clock::now();
    forget_expired(now);
    auto working = std::count_if(tasks_.begin(), tasks_.end(),
                                 [](const auto& entry) { return entry.second->status == Task::Status::kWorking; });
    if (static_cast<std::size_t>(working) >= kMaxWorking) {
      return std::unexpected(RunErr{"TOO_MANY_WAITS", std::to_string(kMaxWorking) +
                                                          " waits are already running in the background: let one "
                                                          "end, or stop one, before starting another"});
    }
    if (id_prefix_.empty()) id_prefix_ = random_prefix();
    task->id = id_prefix_ + "-" + std::to_string(++last_number_);
    task->created = task->updated = now;
    // In the store before the handle is given out: tasks/get finds it at once.
    tasks_.emplace(task->id, task);
    created = describe(*task, now);
  }
  try {
    std::thread([this, task] {
      Control control(*this, task);
      finish(task, task->tool.run(control));
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(mu_);
    tasks_.erase(task->id);
    return std::unexpected(RunErr{"NO_THREAD", "could not start a background wait"});
  }
  created.set("resultType", R"("task")");
  return created;
}

void TaskStore::finish(const std::shared_ptr<Task>& task, ToolResult result) {
  std::lock_guard lock(mu_);
  task->socket.reset();
  if (task->status != Task::Status::kWorking) return;  // cancelled meanwhile: the result is dropped
  result.set("resultType", R"("complete")");
  task->result = std::move(result);
  task->status = Task::Status::kCompleted;
  task->updated = Clock::now();
}

std::optional<ObjectText> TaskStore::get(std::string_view task_id) {
  std::lock_guard lock(mu_);
  const auto now = Clock::now();
  forget_expired(now);
  auto it = tasks_.find(std::string(task_id));
  if (it == tasks_.end()) return std::nullopt;
  return describe(*it->second, now);
}

bool TaskStore::cancel(std::string_view task_id) {
  std::lock_guard lock(mu_);
  forget_expired(Clock::now());
  auto it = tasks_.find(std::string(task_id));
  if (it == tasks_.end()) return false;
  Task& task = *it->second;
  if (task.status != Task::Status::kWorking) return true;  // already over: nothing to stop
  // Marked first, under the same lock: the wait that wakes from the shutdown
  // sees it was cancelled.
  task.cancel_requested = true;
  task.status = Task::Status::kCancelled;
  task.updated = Clock::now();
  if (task.socket) (void)::shutdown(task.socket.get(), SHUT_RDWR);
  return true;
}

ObjectText TaskStore::describe(const Task& task, Clock::time_point now) const {
  static constexpr const char* kStatus[] = {R"("working")", R"("completed")", R"("cancelled")"};
  ObjectText out;
  out.set("taskId", compact(json(task.id)))
      .set("status", kStatus[static_cast<int>(task.status)])
      .set("createdAt", compact(json(iso_time(task.created))))
      .set("lastUpdatedAt", compact(json(iso_time(task.updated))))
      .set("ttlMs", std::to_string(kTtlMs))
      .set("pollIntervalMs", std::to_string(kPollMs));
  if (task.status == Task::Status::kWorking) {
    auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - task.created).count();
    out.set("statusMessage", compact(json(waiting_message(task.tool.progress(), static_cast<std::uint64_t>(waited)))));
  }
  if (task.result) out.set("result", task.result->text());
  return out;
}

void TaskStore::forget_expired(Clock::time_point now) {
  const auto ttl = std::chrono::milliseconds(kTtlMs);
  std::vector<std::shared_ptr<Task>> finished;
  for (auto it = tasks_.begin(); it != tasks_.end();) {
    bool over = it->second->status != Task::Status::kWorking;
    if (over && now - it->second->created >= ttl) {
      it = tasks_.erase(it);
      continue;
    }
    if (over) finished.push_back(it->second);
    ++it;
  }
  if (finished.size() <= kMaxFinished) return;
  std::sort(finished.begin(), finished.end(), [](const auto& a, const auto& b) { return a->updated < b->updated; });
  for (std::size_t i = 0; i + kMaxFinished < finished.size(); ++i) tasks_.erase(finished[i]->id);
}

}  // namespace elmpad::mcp
