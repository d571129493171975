#include "mcp/session.h"

#include <chrono>
#include <cstdlib>
#include <string>

#include "app_client/app_connection.h"
#include "app_client/path_text.h"
#include "json_text.h"
#include "request.h"
#include "utf8.h"

namespace elmpad::mcp {
namespace {

using Clock = std::chrono::steady_clock;

// What one attempt may cost in all, however the app paces its answer.
constexpr auto kAttachLimit = std::chrono::seconds(2);

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
  auto app = AppConnection::open(Reach::kIfRunning);
  if (!app || !*app) return;
  // One deadline for the whole exchange, not a timeout per read: an app that
  // trickles its answer a byte at a time would otherwise hold every request
  // for as long as it trickles.
  if (!(*app)->set_deadline(Clock::now() + kAttachLimit)) return;
  auto cwd = current_dir();
  if (!cwd) return;
  if (!(*app)->send(Request{.cmd = cmd::AttachSession{path_text(*cwd), session_token()}})) return;
  // The grant is read from the first line whatever else it holds (its id
  // included), as the application has always been met; see granted_session.
  auto answer = (*app)->read_line(kMaxAttachAnswer);
  if (!answer) return;
  std::uint64_t session = granted_session(*answer);
  if (session == 0) return;
  // Nothing is read or written on the socket again; it only stays open.
  SESSION_CONN.socket = std::move(**app).keep_open();
  SESSION_ID.store(session);
}

}  // namespace elmpad::mcp
