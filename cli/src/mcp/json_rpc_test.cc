#include "mcp/json_rpc.h"

#include "app_client/version.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace elmpad::mcp {
namespace {

// Replies are compared as the exact line the server writes.
std::string reply_to(std::string_view line) {
  auto reply = handle_line(line, {});
  return reply ? reply->text() : "<none>";
}

TEST(HandleLine, MalformedLinesGetAParseErrorWithNullId) {
  for (std::string line : {std::string("not json"), std::string(R"({"id":1,"method":"ping"} x)"),
                           std::string("{\"id\":1,\"method\":\"ping\"}\0junk", 29),
                           std::string(R"({"id":1,"method":"ping")"), std::string(200000, '['),
                           std::string(300, '[') + std::string(300, ']'),
                           // The parser quotes the token it failed in: here nearly the whole line.
                           "\"" + std::string(100000, 'x'), R"({"id":1,"x":)" + std::string(100000, '1') + "e}",
                           [] {
                             std::string text = "\"";
                             for (int i = 0; i < 50000; ++i) text += "é";
                             return text;
                           }()}) {
    auto reply = handle_line(line, {});
    ASSERT_TRUE(reply.has_value());
    std::string text = reply->text();
    EXPECT_TRUE(text.starts_with(R"({"error":{"code":-32700,"message":"parse error: )")) << text;
    EXPECT_TRUE(text.ends_with(R"("},"id":null,"jsonrpc":"2.0"})")) << text;
    EXPECT_LT(text.size(), 1000u);  // the line itself is not echoed
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << text;  // not cut inside a character
  }
}

// A number id is echoed as written; a line the library reads leniently
// (a repeated key, a byte order mark) is read as its value.
TEST(HandleLine, IdsAreEchoedAsWrittenAndTheLastOfARepeatedKeyCounts) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"id":1.50,"method":"ping"})", R"({"id":1.50,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":-0,"method":"ping"})", R"({"id":-0,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":123456789012345678901234567890,"method":"ping"})",
       R"({"id":123456789012345678901234567890,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":{"b":1E2,"a":"\u0041"},"method":"ping"})", R"({"id":{"a":"A","b":1E2},"jsonrpc":"2.0","result":{}})"},
      {R"({"id":[123456789012345678901234567890,-0.50],"method":"ping"})",
       R"({"id":[123456789012345678901234567890,-0.50],"jsonrpc":"2.0","result":{}})"},
      {R"({"id":1,"method":"nope","id":2.0,"method":"ping"})", R"({"id":2.0,"jsonrpc":"2.0","result":{}})"},
      {"\xEF\xBB\xBF{\"id\":3,\"method\":\"ping\"}", R"({"id":3,"jsonrpc":"2.0","result":{}})"},
      {R"({"method":"ping","params":[],"id":"x"})", R"({"id":"x","jsonrpc":"2.0","result":{}})"},
      {R"({"id":1,"method":"ping","id":2,"id":3})", R"({"id":3,"jsonrpc":"2.0","result":{}})"},
      {R"([{"id":1,"method":"ping"}])", "<none>"},
      {" \t\u3000 ", "<none>"},
      {R"({"method":"ping","params":{"id":1}})", "<none>"},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(reply_to(line), want) << line;
}

// Every method in each revision: what it answers, and what a tools/call
// hands its runner. The runner and the tasks are stand-ins that record.
class EveryMethod : public ::testing::Test, public TaskBook {
 protected:
  std::optional<ObjectText> get(std::string_view task_id) override {
    if (task_id != "t1") return std::nullopt;
    ObjectText task;
    task.set("status", R"("working")").set("taskId", R"("t1")");
    return task;
  }
  bool cancel(std::string_view task_id) override { return task_id == "t1"; }

  std::string reply(const std::string& method, const std::string& params) {
    std::string line = R"({"jsonrpc":"2.0","id":1,"method":")" + method + "\"" +
                       (params.empty() ? "" : R"(,"params":)" + params) + "}";
    auto runner = [this](const ToolCall& call) -> std::optional<ToolOutcome> {
      calls_.push_back(call);
      if (call.name == "silent") return std::nullopt;
      if (call.name == "bad") return ProtocolError{kInvalidParams, "bad"};
      ToolResult result;
      result.set("content", "[]");
      return result;
    };
    auto answer = handle_line(line, runner, this);
    return answer ? answer->text() : "<none>";
  }
  std::vector<ToolCall> calls_;
};

constexpr const char* k2026 = R"("io.modelcontextprotocol/protocolVersion":"2026-07-28")";
const std::string kTasks = std::string(R"("_meta":{)") + k2026 +
                           R"(,"io.modelcontextprotocol/clientCapabilities":{"extensions":{"io.modelcontextprotocol/tasks":{}}}})";
const std::string kPlain = std::string(R"("_meta":{)") + k2026 + "}";

TEST_F(EveryMethod, InTheHandshakeEra) {
  const std::string ok = R"({"id":1,"jsonrpc":"2.0","result":)";
  EXPECT_EQ(reply("ping", ""), ok + "{}}");
  EXPECT_EQ(reply("initialize", R"({"protocolVersion":"2025-11-25"})"),
            ok + R"({"capabilities":{"tools":{}},"protocolVersion":"2025-11-25","serverInfo":{"name":"elmpad","version":")" +
                kVersion + "\"}}}");
  EXPECT_EQ(reply("initialize", ""), ok + R"({"capabilities":{"tools":{}},"protocolVersion":"2025-06-18","serverInfo":{"name":"elmpad","version":")" +
                                         kVersion + "\"}}}");
  EXPECT_TRUE(reply("tools/list", "").starts_with(ok + R"({"tools":[{"description":)"));
  EXPECT_EQ(reply("tools/call", R"({"name":"t","arguments":{"a":1},"_meta":{"progressToken":123456789012345678901234567890}})"),
            ok + R"({"content":[]}})");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].name, "t");
  EXPECT_EQ(calls_[0].arguments, json({{"a", 1}}));
  EXPECT_EQ(calls_[0].progress_token->text(), "123456789012345678901234567890");
  EXPECT_EQ(calls_[0].revision, &kHandshakeEra);
  EXPECT_FALSE(calls_[0].may_run_as_task);
  EXPECT_EQ(reply("tools/call", R"({"name":"silent"})"), "<none>");
  EXPECT_EQ(reply("tools/call", R"({"name":"bad"})"), R"({"error":{"code":-32602,"message":"bad"},"id":1,"jsonrpc":"2.0"})");
  EXPECT_FALSE(calls_[2].progress_token.has_value());
  // A float is no progress token.
  reply("tools/call", R"({"name":"t","_meta":{"progressToken":1.5}})");
  EXPECT_FALSE(calls_[3].progress_token.has_value());
  for (const char* method : {"server/discover", "tasks/get", "tasks/cancel", "nope"}) {
    EXPECT_EQ(reply(method, R"({"taskId":"t1"})"),
              std::string(R"({"error":{"code":-32601,"message":"method not found: )") + method + R"("},"id":1,"jsonrpc":"2.0"})");
  }
}

TEST_F(EveryMethod, InTheRevisionWithoutAHandshake) {
  const std::string ok = R"({"id":1,"jsonrpc":"2.0","result":)";
  for (const char* method : {"ping", "initialize"}) {
    EXPECT_EQ(reply(method, "{" + kPlain + "}"),
              std::string(R"({"error":{"code":-32601,"message":"method not found: )") + method + R"("},"id":1,"jsonrpc":"2.0"})");
  }
  EXPECT_EQ(reply("server/discover", "{" + kPlain + "}"),
            ok + R"({"_meta":{"io.modelcontextprotocol/serverInfo":{"name":"elmpad","version":")" + kVersion +
                R"("}},"cacheScope":"public","capabilities":{"extensions":{"io.modelcontextprotocol/tasks":{}},"tools":{}},"resultType":"complete","supportedVersions":["2026-07-28"],"ttlMs":3600000}})");
  std::string list = reply("tools/list", "{" + kPlain + "}");
  EXPECT_TRUE(list.starts_with(ok + R"({"cacheScope":"public","resultType":"complete","tools":[{"annotations":)")) << list;
  EXPECT_TRUE(list.ends_with(R"(}],"ttlMs":3600000}})")) << list;
  EXPECT_EQ(reply("tools/call", R"({"name":"t",)" + kPlain + "}"), ok + R"({"content":[],"resultType":"complete"}})");
  EXPECT_EQ(calls_.back().revision, &kRevision20260728);
  EXPECT_FALSE(calls_.back().may_run_as_task);
  reply("tools/call", R"({"name":"t",)" + kTasks + "}");
  EXPECT_TRUE(calls_.back().may_run_as_task);
  // Tasks: only for a request that declares the extension, and a task there is.
  EXPECT_EQ(reply("tasks/get", R"({"taskId":"t1",)" + kTasks + "}"),
            ok + R"({"resultType":"complete","status":"working","taskId":"t1"}})");
  EXPECT_EQ(reply("tasks/cancel", R"({"taskId":"t1",)" + kTasks + "}"), ok + R"({"resultType":"complete"}})");
  for (const char* method : {"tasks/get", "tasks/cancel"}) {
    EXPECT_EQ(reply(method, "{" + kTasks + "}"),
              R"({"error":{"code":-32602,"message":"missing required argument: taskId"},"id":1,"jsonrpc":"2.0"})");
  }
  // Another revision named is refused, whatever the method.
  EXPECT_EQ(reply("tools/list", R"({"_meta":{"io.modelcontextprotocol/protocolVersion":"2025-06-18"}})"),
            R"({"error":{"code":-32022,"data":{"requested":"2025-06-18","supported":["2026-07-28"]},"message":"unsupported protocol version: 2025-06-18"},"id":1,"jsonrpc":"2.0"})");
}

TEST(CancelledRequestId, OnlyNotificationsWithoutIdNamingARequest) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7}})", "7"},
      {R"({"method":"notifications/cancelled","params":{"requestId":"7","reason":"x"}})", "\"7\""},
      {R"({"method":"notifications/cancelled","params":{"requestId":null}})", "null"},
      {R"({"method":"notifications/cancelled","params":{"requestId":{"a":[1]}}})", "{\"a\":[1]}"},
      // The method spelled with escapes is the same string.
      {R"({"method":"notifications\/cancelled","params":{"requestId":1}})", "1"},
      {R"({"method":"notifications\u002fcancelle\u0064","params":{"requestId":1}})", "1"},
      // Not cancellations.
      {R"({"id":1,"method":"notifications/cancelled","params":{"requestId":1}})", nullptr},
      {R"({"method":"notifications/cancelled","params":{}})", nullptr},
      {R"({"method":"notifications/cancelled"})", nullptr},
      {R"({"method":"notifications/cancelled","params":[1]})", nullptr},
      {R"({"method":"Notifications/cancelled","params":{"requestId":1}})", nullptr},
      {R"({"method":"notifications/cancelled ","params":{"requestId":1}})", nullptr},
      {R"(["notifications/cancelled"])", nullptr},
      {R"({"method":"notifications/cancelled","params":{"requestId":1})", nullptr},  // unfinished
      {R"({"method":"ping","note":"notifications/cancelled","params":{"requestId":1}})", nullptr},
      {"", nullptr},
  };
  for (const auto& [line, want] : cases) {
    auto got = cancelled_request_id(line);
    if (want == nullptr) {
      EXPECT_FALSE(got.has_value()) << line;
    } else {
      ASSERT_TRUE(got.has_value()) << line;
      EXPECT_EQ(got->text(), want) << line;
    }
  }
}

TEST(CancelledRequestId, HugeOrDeepLinesAreHarmless) {
  std::string huge = R"({"id":1,"method":"tools/call","params":{"content":")" + std::string(8 << 20, 'x') + "\"}}";
  EXPECT_FALSE(cancelled_request_id(huge).has_value());
  std::string deep = R"({"method":"notifications/cancelled","params":{"requestId":)" + std::string(100000, '[');
  EXPECT_FALSE(cancelled_request_id(deep).has_value());
}

}  // namespace
}  // namespace elmpad::mcp
