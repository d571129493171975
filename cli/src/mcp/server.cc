#include "mcp/server.h"

#include <condition_variable>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "line_reader.h"
#include "mcp/in_flight.h"
#include "mcp/json_rpc.h"
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
  explicit ReplyWriter(int fd) : TextSink(256 * 1024), fd_(fd), piece_(piece_that_cannot_block(fd)) {}
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
  /// Writes as much of `text` as it can without the chance of blocking, and
  /// answers how much that was: pieces no larger than PIPE_BUF, each when
  /// the output polls writable (a pipe then takes it whole, at once). A
  /// failed write stops it too; the blocking write that follows reports it.
  [[nodiscard]] std::size_t write_without_blocking(std::string_view text) const {
    std::size_t done = 0;
    while (done < text.size()) {
      pollfd out{fd_, POLLOUT, 0};
      if (::poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) break;
      ssize_t n = ::write(fd_, text.data() + done, std::min(text.size() - done, piece_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

 private:
  // PIPE_BUF of a pipe; for anything else 512, PIPE_BUF's least value, which
  // is what poll promises room for on the systems we run on.
  [[nodiscard]] static std::size_t piece_that_cannot_block(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return 512;
    long size = ::fpathconf(fd, _PC_PIPE_BUF);
    return size >= 512 ? static_cast<std::size_t>(size) : 512;
  }

  int fd_;
  std::size_t piece_;
  SysResult<void> written_;  // how the reply being printed has gone so far
};

// What the two threads share: standard input, the answering of lines and
// the queue between them. Whichever thread holds standard input reads the
// next line. When nothing is being answered and nothing waits, that thread
// answers the line itself, so a reply never waits for the other thread to
// wake. Before anything that may block, a tool call or a write that may not
// fit, it hands standard input to the other thread: a cancellation, or the
// end of input, is then acted on at once whatever the answering does. Lines
// read while one is being answered wait in the queue, and are answered in
// the order they came.
class Server {
 public:
  Server(UniqueFd input, int output) : input_(std::move(input)), writer_(output) {}

  /// The start: the calling thread answers nothing until start_done(), and
  /// the thread about to run read_lines() holds standard input.
  void start() {
    std::lock_guard lock(mu_);
    reading_ = true;
    busy_ = true;
  }
  void start_done() {
    std::lock_guard lock(mu_);
    busy_ = false;
  }

  /// A thread's life: answers queued lines, takes standard input when it is
  /// free, else waits. Never returns: the process ends when input does, or
  /// when output fails.
  [[noreturn]] void serve() {
    std::unique_lock lock(mu_);
    while (true) {
      if (!busy_ && !queue_.empty()) {
        std::string line = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        (void)answer(line, false);  // this thread does not hold standard input
        lock.lock();
        busy_ = false;
      } else if (!reading_) {
        reading_ = true;
        lock.unlock();
        read_lines();
        lock.lock();
      } else {
        changed_.wait(lock);
      }
    }
  }

  /// Holds standard input: reads lines until it hands input over.
  void read_lines() {
    while (true) {
      std::string line = next_line();
      std::unique_lock lock(mu_);
      if (busy_ || !queue_.empty()) {
        queue_.push_back(std::move(line));
        changed_.notify_one();
        continue;
      }
      busy_ = true;
      lock.unlock();
      bool still_reading = answer(line, true);
      lock.lock();
      busy_ = false;
      if (!still_reading) return;
    }
  }

 private:
  // The next line, without its line feed and a carriage return before it;
  // a cancellation is acted on here, before the line queues. The end of
  // input, a failed read or a line that is not UTF-8 ends the process.
  std::string next_line() {
    std::string line;
    auto n = input_.read_line(line);
    // _Exit, not exit: static destructors must not run under the other
    // thread's feet. A client that closes its input asks for nothing more:
    // a tool call still running, lines still queued and the rest of a reply
    // the other thread is writing are dropped.
    if (!n || *n == 0) std::_Exit(0);
    if (line.ends_with('\n')) {
      line.pop_back();
      if (line.ends_with('\r')) line.pop_back();
    }
    if (!is_utf8(line)) std::_Exit(0);
    if (auto id = cancelled_request_id(line)) abort_if_matches(*id);
    return line;
  }

  // Answers one line; `reading` tells whether this thread holds standard
  // input. Answers whether it still does.
  [[nodiscard]] bool answer(const std::string& line, bool reading) {
    auto hand_over = [this, &reading] {
      if (!reading) return;
      std::lock_guard lock(mu_);
      reading_ = false;
      reading = false;
      changed_.notify_one();
    };
    // A tool may block for minutes: standard input goes to the other thread
    // first, so that a cancellation, or the end of input, is read meanwhile.
    auto run_tool = [&hand_over](const RequestId& id, const std::string& name, const json& arguments) {
      hand_over();
      InFlightScope in_flight(id);
      return call_tool(name, arguments);
    };
    auto reply = handle_line(line, run_tool);
    if (!reply) return reading;
    // Output that fails means the client is gone: the server ends.
    if (reply->value) {
      hand_over();
      if (!writer_.write(*reply)) std::_Exit(0);
      give_back_line(std::move(*reply->value).release_text());
      return reading;
    }
    std::string text = std::move(reply->head) + reply->tail + '\n';
    std::string_view rest = text;
    // A client that stops reading may fill the pipe: this thread then hands
    // over standard input before its write blocks.
    if (reading) rest.remove_prefix(writer_.write_without_blocking(rest));
    if (!rest.empty()) {
      hand_over();
      if (!write_all(writer_.fd(), rest)) std::_Exit(0);
    }
    return reading;
  }

  std::mutex mu_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;  // guarded by mu_
  bool reading_ = false;           // a thread holds standard input; guarded by mu_
  bool busy_ = false;              // a thread is answering a line; guarded by mu_
  LineReader input_;               // only the thread that holds standard input reads it
  ReplyWriter writer_;             // only the thread answering writes
};

}  // namespace

int run() {
  UniqueFd input, output;
  if (!take_protocol_streams(input, output)) {
    input = UniqueFd(STDIN_FILENO);
    output = UniqueFd(STDOUT_FILENO);
  }
  // Process lifetime: the detached thread must never see it destroyed.
  static Server& server = *new Server(std::move(input), output.release());
  server.start();
  try {
    std::thread([] {
      server.read_lines();
      server.serve();
    }).detach();
  } catch (const std::system_error&) {
    (void)write_all(STDERR_FILENO, "elmpad: failed to spawn thread\n");
    return 1;
  }
  // Lines that arrive while the session is attached wait in the queue.
  ensure_session();
  server.start_done();
  server.serve();
}

}  // namespace elmpad::mcp
