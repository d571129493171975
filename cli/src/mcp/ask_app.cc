#include "mcp/ask_app.h"

#include "app_client/launch.h"
#include "connection.h"
#include "mcp/session.h"

namespace elmpad::mcp {
namespace {

// The failure for an answer with ok false: the application's code and its
// error as JSON text, or `fallback` and "request failed" without one.
RunErr remote_err(const std::optional<json>& error, std::string_view fallback) {
  if (!error) return RunErr{std::string(fallback), "request failed"};
  std::string code;
  if (auto it = error->find("code"); it != error->end() && it->is_string()) code = it->get<std::string>();
  return RunErr{std::move(code), compact(*error)};
}

// Sends `command` over `socket` and reads its answer, keeping its data as
// text; with `cancellable`, first offers the connection to a cancellation.
Result<PassedAnswer> exchange(UniqueFd socket, Cmd command, CallControl* control) {
  auto conn = make_connection(std::move(socket));
  if (!conn) return std::unexpected(std::move(conn).error());
  // Cancelled before it connected: nothing is sent.
  if (control != nullptr && !control->offer(conn->socket.get())) return std::unexpected(RunErr{"CANCELLED", "cancelled"});
  Request request{.id = 1, .session = request_session(), .cmd = std::move(command)};
  if (auto sent = send(conn->socket.get(), request); !sent) return std::unexpected(std::move(sent).error());
  return read_response_passed(conn->reader, 1);
}

}  // namespace

Result<Payload> ask_app(AppRequest request) {
  UniqueFd socket;
  if (std::holds_alternative<LaunchApp>(request.if_not_running)) {
    auto reached = connect_or_launch();
    if (!reached) return std::unexpected(std::move(reached).error());
    socket = std::move(reached->socket);
  } else {
    auto running = connect_if_running();
    if (!running) return std::unexpected(std::move(running).error());
    if (!*running) {
      if (auto* answer = std::get_if<json>(&request.if_not_running)) return std::move(*answer);
      return std::unexpected(std::move(std::get<RunErr>(request.if_not_running)));
    }
    socket = std::move(**running);
  }
  auto answer = exchange(std::move(socket), std::move(request.command), request.control);
  if (!answer) {
    // A cancellation shuts the connection down, so it surfaces as a failed
    // read (or, when it lands before the request went out, a failed send).
    if (request.control != nullptr && request.control->cancelled()) return std::move(*request.if_cancelled);
    return std::unexpected(std::move(answer).error());
  }
  if (!answer->ok) {
    if (request.if_refused) return std::move(*request.if_refused);
    return std::unexpected(remote_err(answer->error, request.refused_code));
  }
  if (!answer->data) return std::move(request.if_no_data);
  return std::move(*answer->data);
}

}  // namespace elmpad::mcp
