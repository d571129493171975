#include "mcp/server.h"

#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "cli/line_reader.h"
#include "cli/output.h"
#include "cli/unique_fd.h"
#include "mcp/in_flight.h"
#include "mcp/json_rpc.h"
#include "mcp/line_queue.h"
#include "mcp/session.h"
#include "utf8.h"

namespace elmpad::mcp {
namespace {

// Owns standard input for the life of the process: queues every line and
// acts on cancellations at once, while the main thread may be blocked in a
// tool call. Never returns.
[[noreturn]] void read_lines(UniqueFd input, LineQueue& queue) {
  LineReader reader(std::move(input));
  while (true) {
    std::string line;
    auto n = reader.read_line(line);
    if (!n || *n == 0) break;
    if (line.ends_with('\n')) {
      line.pop_back();
      if (line.ends_with('\r')) line.pop_back();
    }
    if (!is_utf8(line)) break;
    if (auto id = cancelled_request_id(line)) abort_if_matches(*id);
    queue.push(std::move(line));
  }
  // _Exit, not exit: static destructors must not run under the main
  // thread's feet. Nothing is lost, since every reply is written in full
  // before the next line is taken.
  std::_Exit(0);
}

// The protocol streams are moved off descriptors 0 and 1, which then read
// /dev/null and write to standard error: a child such as `open -a` inherits
// those, so it can neither take the client's input nor write into the
// protocol.
bool take_protocol_streams(UniqueFd& input, UniqueFd& output) {
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
  void drain(std::size_t size) override {
    if (error_ == 0) error_ = write_all(fd_, std::string_view(buffer(), size));
  }
  /// Writes `reply` and a line feed; 0, or the errno of the first failed
  /// write.
  int write(Reply& reply) {
    reply.tail += '\n';
    if (!reply.value) {
      // The common small reply: one write, not through the buffer.
      reply.head += reply.tail;
      return write_all(fd_, reply.head);
    }
    error_ = 0;
    reply.print(*this);
    return error_;
  }

 private:
  int fd_;
  int error_ = 0;
};

}  // namespace

int run() {
  UniqueFd input, output;
  if (!take_protocol_streams(input, output)) {
    input = UniqueFd(STDIN_FILENO);
    output = UniqueFd(STDOUT_FILENO);
  }
  // Process lifetime: the detached reader must never see it destroyed, even
  // after run() has returned on a failed write.
  static LineQueue& queue = *new LineQueue;
  try {
    std::thread(read_lines, std::move(input), std::ref(queue)).detach();
  } catch (const std::system_error&) {
    print_err("elmpad: failed to spawn thread\n");
    return 1;
  }
  ensure_session();
  ReplyWriter writer(output.get());
  while (true) {
    std::string line = queue.pop();
    auto reply = handle_line(line);
    if (!reply) continue;
    if (writer.write(*reply) != 0) return 0;
    if (reply->value) give_back_line(std::move(*reply->value).release_text());
  }
}

}  // namespace elmpad::mcp
