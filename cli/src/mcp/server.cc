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
#include "mcp/tool_runner.h"
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
    reply += "\n";
    written_ = {};
    reply.print(*this);
    return written_;
  }

 private:
  int fd_;
  SysResult<void> written_;  // how the reply being printed has gone so far
};

// One input line and its number, counted from 1.
struct NumberedLine {
  std::uint64_t number;
  std::string text;
};

// Lines from the reader thread to the main loop, in the order read. It
// grows without bound: the reader never waits for the answering.
class LineQueue {
 public:
  void push(NumberedLine line) {
    {
      std::lock_guard lock(mu_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_one();
  }
  // Sleeps as soon as the queue is empty: spinning for the next line took
  // the core that the reader thread and the client needed, and cost more
  // than the wake-up it saved.
  NumberedLine pop() {
    std::unique_lock lock(mu_);
    arrived_.wait(lock, [this] { return !lines_.empty(); });
    NumberedLine line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

 private:
  std::mutex mu_;
  std::condition_variable arrived_;
  std::deque<NumberedLine> lines_;  // guarded by mu_
};

class Server {
 public:
  Server(UniqueFd input, int output, std::chrono::milliseconds progress_interval)
      : input_(std::move(input)), writer_(output), progress_interval_(progress_interval) {}

  /// The reader thread: acts on each cancellation at once, whatever the
  /// main loop is doing, and queues every line. Ends the process at the end
  /// of input, on a failed read or on a line that is not UTF-8.
  [[noreturn]] void read_lines() {
    for (std::uint64_t number = 1; auto line = read_request_line(input_); ++number) {
      if (auto id = cancelled_request_id(*line)) abort_if_matches(*id, number);
      queue_.push({number, std::move(*line)});
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
  [[nodiscard]] bool answer(const NumberedLine& line) {
    auto run_tool = [this, &line](const ToolCall& call) {
      return run_tool_call(
          call, line.number, progress_interval_,
          [this](const std::string& progress) { return static_cast<bool>(write_all(writer_.fd(), progress + '\n')); },
          &server_tasks());
    };
    auto reply = handle_line(line.text, run_tool, &server_tasks());
    if (!reply) return true;
    if (!writer_.write(*reply)) return false;
    if (auto text = std::move(*reply).release_value_text()) ANSWER_SPARE.give_back(std::move(*text));
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
