#include "mcp/ask_app.h"

#include "app_client/app_connection.h"
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

}  // namespace

SpareLine& ANSWER_SPARE = *new SpareLine;

Result<Payload> ask_app(AppRequest request) {
  const bool may_launch = std::holds_alternative<LaunchApp>(request.if_not_running);
  auto app = AppConnection::open(may_launch ? Reach::kOrLaunch : Reach::kIfRunning);
  if (!app) return std::unexpected(std::move(app).error());
  if (!*app) {
    if (auto* answer = std::get_if<json>(&request.if_not_running)) return std::move(*answer);
    return std::unexpected(std::move(std::get<RunErr>(request.if_not_running)));
  }
  // A call that may be cancelled offers the connection to its control before
  // anything is sent, and sends nothing when it is cancelled already. It may
  // wait for minutes, on a thread of its own: it keeps no spare storage.
  CallControl* control = request.control;
  if (control != nullptr && !control->offer((*app)->socket())) return std::move(*request.if_cancelled);
  auto answer = (*app)->ask(Request{.id = 1, .session = request_session(), .cmd = std::move(request.command)},
                            control != nullptr ? std::string() : ANSWER_SPARE.take());
  if (!answer) {
    // A cancellation shuts the connection down, so it surfaces as a failed
    // read (or, when it lands before the request went out, a failed send).
    if (control != nullptr && control->cancelled()) return std::move(*request.if_cancelled);
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
