// The MCP server's line handling, as its threads do it, on one thread,
// with tool calls answered by an application in this process. Input lines
// that start with '<' are the app's answers (the rest of the line, one per
// connection it accepts, the session attachment's included); all other lines
// are what the client sends.
#include <sys/socket.h>
#include <unistd.h>

#include "json_index.h"
#include "json_text.h"
#include "line_reader.h"
#include "mcp/in_flight.h"
#include "mcp/json_rpc.h"
#include "mcp/server.h"
#include "mcp/session.h"
#include "mcp/tool_runner.h"
#include "support.h"
#include "utf8.h"

namespace {

using elmpad::fuzz::check;
using elmpad::json;

elmpad::fuzz::ScriptedApp& app() {
  static auto* app = new elmpad::fuzz::ScriptedApp;
  return *app;
}

// The text of a line's "id", as the library reads the line.
std::optional<std::string> id_text(std::string_view line) {
  auto index = elmpad::JsonIndex::scan(line, elmpad::JsonIndex::Accept::kAsLibrary);
  if (!index) return std::nullopt;
  auto id = index->member(line, elmpad::JsonIndex::kRoot, "id");
  if (!id) return std::nullopt;
  return std::string(index->raw(line, *id));
}

// Every reply is one JSON-RPC line whose id is the request's, a number
// spelled as the client spelled it.
void check_reply(std::string_view line, const std::string& reply) {
  check(reply.find('\n') == std::string::npos && elmpad::is_utf8(reply), "a reply is one line of text");
  auto parsed = elmpad::parse_json(reply);
  check(parsed && parsed->is_object() && (*parsed)["jsonrpc"] == "2.0" && parsed->contains("id"),
        "a reply is a JSON-RPC object with an id");
  auto request = elmpad::parse_json(line);
  check(!request || line.find('\0') == std::string_view::npos, "no JSON text holds a NUL byte");
  if (!request) {
    check((*parsed)["id"].is_null(), "a parse error has a null id");
    return;
  }
  // Echoed as written, numbers at any depth included.
  auto id_of = [](std::string_view text) {
    auto index = elmpad::JsonIndex::scan(text, elmpad::JsonIndex::Accept::kAsLibrary);
    return elmpad::mcp::request_id_at(text, *index, *index->member(text, elmpad::JsonIndex::kRoot, "id"));
  };
  check(id_of(reply).text() == id_of(line).text(), "an id is echoed as written");
  if ((*request)["id"].is_number()) check(id_text(reply) == id_text(line), "a number id is echoed as sent");
}

// Between calls nothing is in flight, so a cancellation read then finds
// nothing to end; this puts the last request in flight, as if the
// cancellation had come while it ran, and checks whom it would end.
void check_cancellation(const elmpad::mcp::RequestId& running, const elmpad::mcp::RequestId& cancelled) {
  using namespace elmpad::mcp;
  int fds[2];
  check(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socketpair");
  IN_FLIGHT.set(running);
  register_socket(fds[0]);
  bool ended = abort_if_matches(cancelled);
  check(ended == was_cancelled(), "a cancellation that ends the call marks it");
  if (running.text() == cancelled.text()) check(ended, "the same id cancels");
  if (running.is_number() != cancelled.is_number()) check(!ended, "a number never equals another type");
  IN_FLIGHT.clear();
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  app();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> answers;
  std::string client;
  for (auto line : elmpad::fuzz::split_lines(elmpad::fuzz::as_text(data, size))) {
    if (line.starts_with('<')) {
      answers.emplace_back(line.substr(1));
    } else {
      client += line;
    }
  }
  app().script(std::move(answers));
  // Each input starts unattached and with no cancellation kept, as a fresh
  // server would: setting a record at the last line number drops them all.
  elmpad::mcp::IN_FLIGHT.set(elmpad::mcp::RequestId(), UINT64_MAX);
  elmpad::mcp::IN_FLIGHT.clear();
  elmpad::mcp::SESSION_ID = 0;
  {
    std::lock_guard lock(elmpad::mcp::SESSION_CONN.mu);
    elmpad::mcp::SESSION_CONN.socket.reset();
  }

  // As the server runs a tool, but on this thread.
  // The server's own runner, on this thread; no progress is due in the
  // time one input takes.
  std::uint64_t number = 0;
  elmpad::mcp::ToolRunner run_tool = [&number](const elmpad::mcp::ToolCall& call) {
    return elmpad::mcp::run_tool_call(call, number, std::chrono::hours(1), [](const std::string& progress) {
      check(elmpad::parse_json(progress).has_value(), "progress is JSON");
      return true;
    });
  };
  elmpad::LineReader reader{elmpad::UniqueFd(elmpad::fuzz::stream_of(client))};
  std::optional<elmpad::mcp::RequestId> last_request;
  while (auto next = elmpad::mcp::read_request_line(reader)) {
    const std::string& line = *next;
    ++number;
    if (auto id = elmpad::mcp::cancelled_request_id(line)) {
      elmpad::mcp::abort_if_matches(*id, number);
      if (last_request) check_cancellation(*last_request, *id);
    }
    if (auto reply = elmpad::mcp::handle_line(line, run_tool)) {
      check_reply(line, reply->text());
      auto index = elmpad::JsonIndex::scan(line, elmpad::JsonIndex::Accept::kAsLibrary);
      if (auto id = index ? index->member(line, elmpad::JsonIndex::kRoot, "id") : std::nullopt) {
        last_request = elmpad::mcp::request_id_at(line, *index, *id);
      }
    }
  }
  return 0;
}
