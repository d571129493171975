#include "mcp/session.h"

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>

#include "cli/connection.h"
#include "cli/exchange.h"
#include "cli/path_text.h"
#include "json_text.h"
#include "socket_path.h"
#include "utf8.h"

namespace elmpad::mcp {
namespace {

constexpr int kAttachTimeoutSeconds = 2;

bool set_read_timeout(int socket, int seconds) {
  timeval tv{};
  tv.tv_sec = seconds;
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
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

void ensure_session() {
  if (SESSION_ID.load() != 0) return;
  std::lock_guard lock(SESSION_CONN.mu);
  if (SESSION_ID.load() != 0) return;
  const char* home = std::getenv("HOME");
  if (home == nullptr) return;
  auto socket = connect_socket(socket_path(home));
  if (!socket) return;
  // An app that accepts but never answers must not stall the server.
  if (!set_read_timeout(socket->get(), kAttachTimeoutSeconds)) return;
  auto cwd = current_dir();
  if (!cwd) return;
  auto writer = dup_cloexec(socket->get());
  if (!writer) return;
  auto conn = make_connection(std::move(*writer));
  if (!conn) return;
  Request request{.cmd = cmd::AttachSession{path_text(*cwd), session_token()}};
  if (!send(conn->socket.get(), request)) return;
  std::string line;
  auto n = conn->reader.read_line(line);
  if (!n || *n == 0) return;
  std::uint64_t session = granted_session(line);
  if (session == 0) return;
  set_read_timeout(socket->get(), 0);  // a failure here changes nothing that matters
  SESSION_CONN.socket = std::move(*socket);
  SESSION_ID.store(session);
}

Result<std::optional<UniqueFd>> connect_only() {
  auto home = home_dir();
  if (!home) return std::unexpected(std::move(home).error());
  auto socket = connect_socket(socket_path(*home));
  if (!socket) return std::optional<UniqueFd>();
  return std::optional<UniqueFd>(std::move(*socket));
}

}  // namespace elmpad::mcp
