// wait_for_change, the one tool a client can cancel while it runs, and
// post_message, which never fails merely because nobody saw the message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app_client/exchange.h"
#include "json_text.h"
#include "mcp/call_control.h"
#include "run_err.h"

namespace elmpad::mcp {

struct WaitArgs {
  std::optional<std::string> path;       // at least one of path and workspace
  std::optional<std::string> workspace;
  std::optional<std::string> name;
  std::optional<std::uint64_t> timeout_seconds;  // passed on unchanged
};

/// Blocks until the application answers, or until the client cancels the
/// call, which yields {"cancelled":true,"changed":false,"source":"cancelled"}.
/// Never launches the app: "NOT_RUNNING" when it is absent.
/// `control` learns of the connection, and whether the wait was cancelled.
Result<Payload> wait_for_change(const WaitArgs& args, CallControl& control);

/// Never launches the app; absent or refusing, the answer is
/// {"delivered":false,"ok":true}.
Result<Payload> post_message(const std::string& text);

}  // namespace elmpad::mcp
