#include "mcp/server.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "line_reader.h"
#include "mcp/ask_app.h"
#include "mcp/in_flight.h"
#include "mcp/json_rpc.h"
#include "mcp/progress_ticker.h"
#include "mcp/session.h"
#include "mcp/tool_table.h"
#include "unique_fd.h"
#include "utf8.h"

namespace elmpad::mcp {
namespace {

// The protocol streams are moved off descriptors 0 and 1, which then read
// /dev/null and write to standard error: a child such as `open -a` inherits
// those, so it can neither take the client's input nor write into the
// protocol.
[[nodiscard]] bool take_protocol_streams(UniqueFd& input, UniqueFd& output) {
  auto in = dup_cloexec(STDIN_FILENO);
  auto out = dup_cloexec(STDOUT_FILENO);
  if (!in || !out) return false;
  int null = ::open("/dev/null", O_RDONLY);
  if (null < 0) return false;
  ::dup2(null, STDIN_FILENO);
  ::close(null);
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  input = std::move(*in);
  output = std::move(*out);
  return true;
}

// Writes a reply and its line feed through one buffer: a large result is
// printed into it piece by piece as it goes out.
class ReplyWriter : public TextSink {
 public:
  explicit ReplyWriter(int fd) : TextSink(256 * 1024), fd_(fd) {}
  [[nodiscard]] int fd() const { return fd_; }
  void drain(std::size_t size) override {
    if (written_) written_ = write_all(fd_, std::string_view(buffer(), size));
  }
  /// Writes `reply` and a line feed; the errno of the first failed write.
  [[nodiscard]] SysResult<void> write(Reply& reply) {
    reply.tail += '\n';
    written_ = {};
    reply.print(*this);
    return written_;
  }

 private:
  int fd_;
  SysResult<void> written_;  // how the reply being printed has gone so far
};

// Lines from the reader thread to the main loop, in the order read. It
// grows without bound: the reader never waits for the answering.
class LineQueue {
 public:
  void push(std::string line) {
    {
      std::lock_guard lock(mu_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_one();
  }
  // Sleeps as soon as the queue is empty: spinning for the next line took
  // the core that the reader thread and the client needed, and cost more
  // than the wake-up it saved.
  std::string pop() {
    std::unique_lock lock(mu_);
    arrived_.wait(lock, [this] { return !lines_.empty(); });
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

 private:
  std::mutex mu_;
  std::condition_variable arrived_;
  std::deque<std::string> lines_;  // guarded by mu_
};

class Server {
 public:
  Server(UniqueFd input, int output, std::chrono::milliseconds progress_interval)
      : input_(std::move(input)), writer_(output), progress_interval_(progress_interval) {}

  /// The reader thread: acts on each cancellation at once, whatever the
  /// main loop is doing, and queues every line. Ends the process at the end
  /// of input, on a failed read or on a line that is not UTF-8.
  [[noreturn]] void read_lines() {
    while (auto line = read_request_line(input_)) {
      if (auto id = cancelled_request_id(*line)) abort_if_matches(*id);
      queue_.push(std::move(*line));
    }
    // _Exit, not exit: static destructors must not run under the main
    // thread's feet. A client that closes its input asks for nothing more:
    // a tool call still running, lines still queued and the rest of a reply
    // being written are dropped.
    std::_Exit(0);
  }

  /// The main loop: answers the queued lines one at a time, in order, until
  /// standard output fails (the client is gone).
  void answer_lines() {
    while (answer(queue_.pop())) {
    }
  }

 private:
  // Answers one line; false when the reply could not be written.
  [[nodiscard]] bool answer(const std::string& line) {
    // A wait whose request carries a progress token reports progress while
    // it blocks. Output stays one writer at a time: while the tool runs only
    // the ticker writes, and the ticker has stopped, its last line written,
    // before the reply is.
    auto run_tool = [this](const ToolCall& call) -> std::optional<ToolOutcome> {
      InFlightScope in_flight(call.id);
      std::optional<ProgressTicker> ticker;
      if (call.progress_token && call.name == "wait_for_change") {
        ticker.emplace(progress_interval_, [this, &call](std::uint64_t n) {
          return static_cast<bool>(write_all(writer_.fd(), progress_line(*call.progress_token, n) + '\n'));
        });
      }
      auto outcome = call_tool(call.name, call.arguments);
      ticker.reset();
      // The revision without a handshake answers a cancelled request with
      // nothing at all.
      if (call.stateless && was_cancelled()) return std::nullopt;
      return outcome;
    };
    auto reply = handle_line(line, run_tool);
    if (!reply) return true;
    if (!writer_.write(*reply)) return false;
    if (reply->value) ANSWER_SPARE.give_back(std::move(*reply->value).release_text());
    return true;
  }

  LineReader input_;     // the reader thread's alone
  LineQueue queue_;
  ReplyWriter writer_;   // the main loop's, or its tool's progress ticker's
  std::chrono::milliseconds progress_interval_;
};

}  // namespace

std::optional<std::string> read_request_line(LineReader& input) {
  std::string line;
  auto n = input.read_line(line);
  if (!n || *n == 0) return std::nullopt;
  if (line.ends_with('\n')) {
    line.pop_back();
    if (line.ends_with('\r')) line.pop_back();
  }
  if (!is_utf8(line)) return std::nullopt;
  return line;
}

int run() {
  UniqueFd input, output;
  if (!take_protocol_streams(input, output)) {
    input = UniqueFd(STDIN_FILENO);
    output = UniqueFd(STDOUT_FILENO);
  }
  // Process lifetime: the detached reader must never see it destroyed.
  static Server& server = *new Server(std::move(input), output.release(), progress_interval());
  try {
    std::thread([] { server.read_lines(); }).detach();
  } catch (const std::system_error&) {
    (void)write_all(STDERR_FILENO, "elmpad: failed to spawn thread\n");
    return 1;
  }
  // Lines that arrive while the session is attached wait in the queue.
  ensure_session();
  server.answer_lines();
  return 0;
}

}  // namespace elmpad::mcp
