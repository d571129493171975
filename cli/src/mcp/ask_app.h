// Asking the application on behalf of one tool: reach it, send the tool's
// one request, read the answer, and turn a refusal into the tool's failure.
// Every tool goes through ask_app, and states only what is its own.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "app_client/exchange.h"
#include "json_text.h"
#include "mcp/call_control.h"
#include "request.h"
#include "run_err.h"
#include "spare_line.h"

namespace elmpad::mcp {

/// Start the application with `open -a` when nobody answers.
struct LaunchApp {};

/// What a tool does when the application is not running: launch it, or
/// answer without it, with a payload or a failure.
using IfNotRunning = std::variant<LaunchApp, json, RunErr>;

/// One tool's request, and what the tool answers where the application
/// gives no data of its own.
struct AppRequest {
  Cmd command;
  IfNotRunning if_not_running;
  /// A refusal becomes the tool's failure with the application's code and
  /// its error as JSON text, or this code and "request failed" without one...
  std::string_view refused_code;
  /// ...unless this is set: the refusal then answers it, and is no failure.
  std::optional<json> if_refused;
  /// The answer to an ok reply without data.
  json if_no_data;
  /// Set for a call that may be cancelled while it waits: its connection is
  /// offered to `control` before anything is sent, so that a cancellation
  /// can end the wait...
  CallControl* control = nullptr;
  /// ...which then answers this.
  std::optional<json> if_cancelled;
};

/// The storage of long answers: the main loop gives a written reply's text
/// back to it, and ask_app reads the next answer into it. Process lifetime.
extern SpareLine& ANSWER_SPARE;

/// Sends `request.command` as request 1, with the attached session, and
/// passes on the data of the answer as the application gave it. Failures:
/// those of reaching the application ("NO_HOME", the launch's), of the
/// exchange ("SOCKET_ERROR", "CHANNEL_CLOSED", "PROTO_ERROR") and refusals.
Result<Payload> ask_app(AppRequest request);

}  // namespace elmpad::mcp
