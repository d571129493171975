// Talks to a running `elmpad mcp` as an agent program would: request lines
// in, reply lines out, compared as exact text.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "fake_app.h"
#include "json_text.h"
#include "run_elmpad.h"
#include "support.h"

namespace elmpad::testing {

class McpClient {
 public:
  explicit McpClient(RunOptions options) : child_(with_mcp(std::move(options))) {}

  /// Writes `line` and its line feed.
  void send(const std::string& line) { child_.write(line + "\n"); }
  /// The next reply line; "<no reply>" when none came within the hang guard.
  std::string next() { return child_.read_line().value_or("<no reply>"); }
  std::string ask(const std::string& line) {
    send(line);
    return next();
  }
  /// A tools/call request line.
  static std::string call_line(const std::string& id, const std::string& tool, const json& arguments) {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/call","params":{"name":")" + tool +
           R"(","arguments":)" + compact(arguments) + "}}";
  }
  std::string call(const std::string& tool, const json& arguments) { return ask(call_line("1", tool, arguments)); }

  Child& child() { return child_; }

 private:
  static RunOptions with_mcp(RunOptions options) {
    options.args = {"mcp"};
    return options;
  }
  Child child_;
};

/// The reply line of a successful tool call whose payload prints as `payload`.
inline std::string ok_reply(const std::string& payload, const std::string& id = "1") {
  return R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":{"content":[{"text":)" + compact(json(payload)) +
         R"(,"type":"text"}]}})";
}

/// The reply line of a tool that failed with `code` and `message`.
inline std::string err_reply(const std::string& code, const std::string& message, const std::string& id = "1") {
  json envelope{{"error", {{"code", code}, {"params", {{"detail", message}}}}}, {"ok", false}};
  return R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":{"content":[{"text":)" + compact(json(compact(envelope))) +
         R"(,"type":"text"}],"isError":true}})";
}

/// The reply line of a malformed call.
inline std::string protocol_err_reply(const std::string& message, const std::string& id = "1") {
  return R"({"error":{"code":-32602,"message":)" + compact(json(message)) + R"(},"id":)" + id + R"(,"jsonrpc":"2.0"})";
}

/// Waits until `app` has received `count` requests with command `cmd`.
inline bool wait_for_cmd(const FakeApp& app, const std::string& cmd, std::size_t count = 1) {
  std::string needle = "\"cmd\":\"" + cmd + "\"";
  return eventually([&] {
    std::size_t seen = 0;
    for (const auto& line : app.received()) seen += line.find(needle) != std::string::npos;
    return seen >= count;
  });
}

}  // namespace elmpad::testing
