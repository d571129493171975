// The command line's way of asking the application: reach it (launching it
// when nobody answers), send the requests one at a time, and bring a running
// app to the front, where the user is about to look. The MCP server asks
// without bringing the app forward.
#pragma once

#include <vector>

#include "app_client/app_connection.h"
#include "request.h"
#include "run_err.h"

namespace elmpad {

/// When a running app is brought forward. An app that was just launched is
/// in front already and is left alone.
enum class BringForward {
  kOnceSent,      // after the last request is sent, before its answer, whatever it says
  kOnceAccepted,  // after every request was accepted; not at all after a refusal
};

struct AppAnswer {
  AppConnection conn;  // still open, for a --wait that reads on
  Answer answer;       // to the last request sent
};

/// Sends `commands` (at least one) as requests 1, 2, … in order, each once
/// the previous one was accepted: a refusal ends the sequence and is the
/// answer handed back, and the remaining requests are not sent. Fails as
/// AppConnection::open (launching) and its send and read_answer fail.
Result<AppAnswer> ask_in_front(std::vector<Cmd> commands, BringForward when);

/// A refused answer as a failure under `code`: the app's error value as its
/// JSON text, or `fallback` when it gave no reason.
[[nodiscard]] RunErr refusal(const Answer& answer, const char* code, const char* fallback);

}  // namespace elmpad
