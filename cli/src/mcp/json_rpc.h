// JSON-RPC 2.0 for the MCP server: the two response shapes, handle_line,
// which turns one incoming line into its reply, and the reading of a
// cancellation. Every line is read through one index of its text. No
// threads, no stdio and no tool run here: the server does the reading and
// writing, and hands in the runner that runs a tool.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"
#include "mcp/request_id.h"
#include "mcp/revision.h"
#include "mcp/spliced_text.h"
#include "mcp/tool_result.h"

namespace elmpad::mcp {

inline constexpr std::int64_t kParseError = -32700;
inline constexpr std::int64_t kMethodNotFound = -32601;
inline constexpr std::int64_t kUnsupportedProtocolVersion = -32022;
inline constexpr std::int64_t kMissingClientCapability = -32021;

/// One reply line, without its line feed. A tool result's passed-on data
/// stays spliced in, to be printed as the line is written.
using Reply = SplicedText;

/// {"id":…,"jsonrpc":"2.0","result":…}
[[nodiscard]] Reply rpc_result(const RequestId& id, ObjectText result);
/// {"error":{"code":…,"message":…},"id":…,"jsonrpc":"2.0"}
[[nodiscard]] Reply rpc_error(const RequestId& id, std::int64_t code, std::string message);
/// The same with "data" in the error object.
[[nodiscard]] Reply rpc_error(const RequestId& id, std::int64_t code, std::string message, json data);

/// One tools/call as handle_line read it.
struct ToolCall {
  RequestId id;
  std::string name;  // empty when the call gives none
  json arguments;
  /// params _meta "progressToken" when it is a string or an integer.
  std::optional<RequestId> progress_token;
  /// The revision the request was made in.
  const Revision* revision = &kHandshakeEra;
  /// The revision has tasks and the request declares the extension: a long
  /// call may run in the background.
  bool may_run_as_task = false;
};

/// The tasks of the tasks extension, as handle_line reaches them.
class TaskBook {
 public:
  virtual ~TaskBook() = default;
  /// tasks/get: the task as it stands, or nothing when unknown or expired.
  virtual std::optional<ObjectText> get(std::string_view task_id) = 0;
  /// tasks/cancel: ends the task's work; false when unknown or expired.
  virtual bool cancel(std::string_view task_id) = 0;
};

/// Runs one tools/call for handle_line; nothing when the call is to get no
/// reply. The caller decides what surrounds the tool: which thread, the
/// in-flight record, progress.
using ToolRunner = std::function<std::optional<ToolOutcome>(const ToolCall& call)>;

/// The reply to one line (its line feed and carriage return already
/// removed), or nothing for blank lines and notifications. A number id is
/// echoed as the client wrote it. A tools/call is answered with what
/// `run_tool` gives, and only it may block; tasks/* go to `tasks` (none:
/// every task id is unknown).
[[nodiscard]] std::optional<Reply> handle_line(std::string_view line, const ToolRunner& run_tool,
                                               TaskBook* tasks = nullptr);

/// The "requestId" of a notifications/cancelled line, or nothing for any
/// other line. Cheap for lines that cannot be one.
[[nodiscard]] std::optional<RequestId> cancelled_request_id(std::string_view line);

}  // namespace elmpad::mcp
