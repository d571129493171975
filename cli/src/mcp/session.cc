#include "mcp/session.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "app_client/path_text.h"
#include "json_text.h"
#include "request.h"
#include "socket_path.h"
#include "unix_socket.h"
#include "utf8.h"

namespace elmpad::mcp {
namespace {

using Clock = std::chrono::steady_clock;

// What one attempt may cost in all, however the app paces its answer.
constexpr auto kAttachLimit = std::chrono::seconds(2);

// Waits until `fd` is ready for `events` (or in error, which the next read
// or write reports); false once the deadline has passed.
[[nodiscard]] bool wait_ready(int fd, short events, Clock::time_point deadline) {
  while (true) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{fd, events, 0};
    int n = ::poll(&ready, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// On a non-blocking socket.
[[nodiscard]] bool write_before(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno != EINTR &&
               ((errno != EAGAIN && errno != EWOULDBLOCK) || !wait_ready(fd, POLLOUT, deadline))) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> session_token() {
  const char* token = std::getenv("ELMPAD_SESSION_TOKEN");
  if (token == nullptr || *token == '\0' || !is_utf8(token)) return std::nullopt;
  return std::string(token);
}

// The granted session: "ok" exactly true and a non-zero unsigned "session"
// under "data". Nothing else of the reply is looked at.
std::uint64_t granted_session(const std::string& line) {
  auto reply = parse_json(line);
  if (!reply || !reply->is_object()) return 0;
  auto ok = reply->find("ok");
  if (ok == reply->end() || !ok->is_boolean() || !ok->get<bool>()) return 0;
  auto data = reply->find("data");
  if (data == reply->end() || !data->is_object()) return 0;
  auto session = data->find("session");
  if (session == data->end() || !session->is_number_unsigned()) return 0;
  return session->get<std::uint64_t>();
}

}  // namespace

std::atomic<std::uint64_t> SESSION_ID{0};
SessionConn& SESSION_CONN = *new SessionConn;

std::optional<std::uint64_t> request_session() {
  std::uint64_t id = SESSION_ID.load();
  if (id == 0) return std::nullopt;
  return id;
}

std::optional<std::string> read_line_before(int fd, Clock::time_point deadline, std::size_t limit) {
  std::string line;
  char buffer[4096];
  while (line.size() <= limit) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      // Bytes past the line feed are dropped: nothing else is ever read here.
      const void* feed = std::memchr(buffer, '\n', static_cast<std::size_t>(n));
      line.append(buffer, feed ? static_cast<const char*>(feed) - buffer + 1 : n);
      if (feed) return line;
    } else if (n == 0) {
      if (line.empty()) return std::nullopt;
      return line;  // a last line without its line feed
    } else if (errno != EINTR &&
               ((errno != EAGAIN && errno != EWOULDBLOCK) || !wait_ready(fd, POLLIN, deadline))) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void ensure_session() {
  if (SESSION_ID.load() != 0) return;
  std::lock_guard lock(SESSION_CONN.mu);
  if (SESSION_ID.load() != 0) return;
  const char* home = std::getenv("HOME");
  if (home == nullptr) return;
  auto socket = connect_socket(socket_path(home));
  if (!socket) return;
  // One deadline for the whole exchange, not a timeout per read: an app that
  // trickles its answer a byte at a time would otherwise hold every request
  // for as long as it trickles.
  const auto deadline = Clock::now() + kAttachLimit;
  int flags = ::fcntl(socket->get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket->get(), F_SETFL, flags | O_NONBLOCK) != 0) return;
  auto cwd = current_dir();
  if (!cwd) return;
  Request request{.cmd = cmd::AttachSession{path_text(*cwd), session_token()}};
  auto line = encode_request(request);
  if (!line || !write_before(socket->get(), *line, deadline)) return;
  auto answer = read_line_before(socket->get(), deadline, kMaxAttachAnswer);
  if (!answer) return;
  std::uint64_t session = granted_session(*answer);
  if (session == 0) return;
  (void)::fcntl(socket->get(), F_SETFL, flags);  // nothing is read or written on it again either way
  SESSION_CONN.socket = std::move(*socket);
  SESSION_ID.store(session);
}

}  // namespace elmpad::mcp
