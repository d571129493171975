#include "mcp/json_rpc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fake_app.h"
#include "mcp/in_flight.h"
#include "temp_home.h"

namespace elmpad::mcp {
namespace {

// Replies are compared as the exact line the server writes.
std::string reply_to(std::string_view line) {
  auto reply = handle_line(line);
  return reply ? reply->text() : "<none>";
}

class HandleLine : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("HOME", home_.path().c_str(), 1); }
  testing::TempHome home_;
};

TEST_F(HandleLine, BlankLinesAndNotificationsGetNoReply) {
  for (const char* line : {"", " ", " \t ", "\v\f\r", "\xC2\xA0", "\xE3\x80\x80 \xE2\x80\xA8", "\xC2\x85",
                           R"({"jsonrpc":"2.0","method":"ping"})",
                           R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
                           R"({"method":"notifications/cancelled","params":{"requestId":1}})",
                           R"([{"id":1,"method":"ping"}])", "42", "\"ping\"", "null"}) {
    EXPECT_EQ(reply_to(line), "<none>") << line;
  }
}

TEST_F(HandleLine, Methods) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"id":1,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":null,"method":"ping"})", R"({"id":null,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":"a","method":"foo"})",
       R"({"error":{"code":-32601,"message":"method not found: foo"},"id":"a","jsonrpc":"2.0"})"},
      {R"({"id":2})", R"({"error":{"code":-32601,"message":"method not found: "},"id":2,"jsonrpc":"2.0"})"},
      {R"({"id":3,"method":7})", R"({"error":{"code":-32601,"message":"method not found: "},"id":3,"jsonrpc":"2.0"})"},
      {R"({"id":4,"method":"Ping"})",
       R"({"error":{"code":-32601,"message":"method not found: Ping"},"id":4,"jsonrpc":"2.0"})"},
      {R"({"id":5,"method":"notifications/cancelled","params":{"requestId":5}})",
       R"({"error":{"code":-32601,"message":"method not found: notifications/cancelled"},"id":5,"jsonrpc":"2.0"})"},
      {R"({"id":6,"method":"initialize"})",
       R"({"id":6,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2025-06-18","serverInfo":{"name":"elmpad","version":"0.15.6"}}})"},
      {R"({"id":7,"method":"initialize","params":{"protocolVersion":"1999-01-01"}})",
       R"({"id":7,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"1999-01-01","serverInfo":{"name":"elmpad","version":"0.15.6"}}})"},
      {R"({"id":8,"method":"initialize","params":{"protocolVersion":""}})",
       R"({"id":8,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"","serverInfo":{"name":"elmpad","version":"0.15.6"}}})"},
      {R"({"id":9,"method":"initialize","params":{"protocolVersion":2025}})",
       R"({"id":9,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2025-06-18","serverInfo":{"name":"elmpad","version":"0.15.6"}}})"},
      {R"({"id":10,"method":"tools/call"})",
       R"({"error":{"code":-32602,"message":"unknown tool: "},"id":10,"jsonrpc":"2.0"})"},
      {R"({"id":11,"method":"tools/call","params":{"name":"nope","arguments":{}}})",
       R"({"error":{"code":-32602,"message":"unknown tool: nope"},"id":11,"jsonrpc":"2.0"})"},
      {R"({"id":12,"method":"tools/call","params":{"name":"read_section","arguments":[]}})",
       R"({"error":{"code":-32602,"message":"missing required argument: path"},"id":12,"jsonrpc":"2.0"})"},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(reply_to(line), want) << line;
}

TEST_F(HandleLine, IdsOfEveryTypeAreEchoedUnchanged) {
  for (const char* id : {"0", "-3", "18446744073709551615", "1.5", "1.0", "true", "\"x\\u00e9\\\"\"", "[1,{\"b\":2,\"a\":1}]",
                         "{\"z\":null,\"a\":[]}", "\"\""}) {
    std::string line = std::string(R"({"method":"ping","id":)") + id + "}";
    std::string want = R"({"id":)" + compact(*parse_json(id)) + R"(,"jsonrpc":"2.0","result":{}})";
    EXPECT_EQ(reply_to(line), want) << line;
  }
  // Numbers the library would round or respell come back as they were sent,
  // in results and errors alike, whichever of two equal keys counts.
  for (const char* id : {"123456789012345678901234567890", "-123456789012345678901234567890", "18446744073709551616",
                         "1e2", "1E+2", "-0", "-0.0", "0.10", "1.5e-7"}) {
    EXPECT_EQ(reply_to(std::string(R"({"method":"ping","id":)") + id + "}"),
              std::string(R"({"id":)") + id + R"(,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(reply_to(std::string(R"({"id":"first","params":{"id":1e3},"\u0069d":)") + id + R"(,"method":"x"})"),
              std::string(R"({"error":{"code":-32601,"message":"method not found: x"},"id":)") + id + R"(,"jsonrpc":"2.0"})");
  }
}

TEST_F(HandleLine, MalformedLinesGetAParseErrorWithNullId) {
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
    auto reply = handle_line(line);
    ASSERT_TRUE(reply.has_value());
    std::string text = reply->text();
    EXPECT_TRUE(text.starts_with(R"({"error":{"code":-32700,"message":"parse error: )")) << text;
    EXPECT_TRUE(text.ends_with(R"("},"id":null,"jsonrpc":"2.0"})")) << text;
    EXPECT_LT(text.size(), 1000u);  // the line itself is not echoed
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << text;  // not cut inside a character
  }
}

TEST_F(HandleLine, ToolCallWithoutArgumentsUsesAnEmptyObject) {
  // get_context needs no argument; with no app it answers running false.
  EXPECT_EQ(reply_to(R"({"id":1,"method":"tools/call","params":{"name":"get_context"}})"),
            R"({"id":1,"jsonrpc":"2.0","result":{"content":[{"text":"{\"running\":false,\"version\":\"0.15.6\"}","type":"text"}]}})");
}

TEST_F(HandleLine, ToolCallsAreMarkedInFlightOnlyWhileTheyRun) {
  testing::FakeApp app(home_.path());
  app.reply("get_context", {R"({"id":1,"ok":true,"data":{"version":"9","z":1,"a":2}})"});
  EXPECT_EQ(reply_to(R"({"id":1,"method":"tools/call","params":{"name":"get_context","arguments":{}}})"),
            R"({"id":1,"jsonrpc":"2.0","result":{"content":[{"text":"{\"a\":2,\"version\":\"0.15.6\",\"z\":1}","type":"text"}]}})");
  EXPECT_FALSE(was_cancelled());
}

// The quick way answers exactly as the careful way, or declines.
TEST(QuickReply, AgreesWithTheCarefulWayOrDeclines) {
  const std::vector<std::string> ids = {"", "0", "7", "-3", "18446744073709551615", "18446744073709551616", "1.0",
                                        "123456789012345678901234567890", "-0.0",
                                        "1e2", "-0", "true", "null", R"("x")", R"("\u00e9\"\/")", R"("")", "[1]",
                                        R"({"b":1,"a":2})"};
  const std::vector<std::string> methods = {"", R"("ping")", R"("p\u0069ng")", R"("tools/list")", R"("initialize")",
                                            R"("Ping")", "5", R"("nope")", R"("\u0000")"};
  const std::vector<std::string> params = {"", "{}", R"({"protocolVersion":"2024-11-05"})",
                                           R"({"protocolVersion":"\u00e9\"\t"})", R"({"protocolVersion":3})", "[]",
                                           "null", R"({"protocolVersion":"a","protocolVersion":"b"})"};
  int quick = 0;
  for (const auto& id : ids) {
    for (const auto& method : methods) {
      for (const auto& param : params) {
        std::string line = "{";
        auto add = [&line](const char* key, const std::string& value) {
          if (value.empty()) return;
          if (line.size() > 1) line += ",";
          line += std::string("\"") + key + "\":" + value;
        };
        add("params", param);
        add("method", method);
        add("id", id);
        line += "}";
        auto answer = quick_reply(line);
        if (!answer) continue;
        ++quick;
        auto careful = careful_reply(line);
        ASSERT_EQ(answer->has_value(), careful.has_value()) << line;
        if (careful) {
          EXPECT_EQ((*answer)->text(), careful->text()) << line;
        }
      }
    }
  }
  EXPECT_GT(quick, 300);
  // What the quick way must take, and what it must leave.
  EXPECT_TRUE(quick_reply(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"));
  EXPECT_TRUE(quick_reply(R"({"jsonrpc":"2.0","method":"notifications/initialized"})"));
  EXPECT_FALSE(quick_reply(R"({"id":1,"method":"tools/call","params":{"name":"get_context"}})"));
  EXPECT_FALSE(quick_reply(R"({"id":1,"method":"nope"})"));
  EXPECT_FALSE(quick_reply("not json"));
  // A NUL byte after the value makes the line invalid: left to the parser,
  // which says so.
  using namespace std::string_literals;
  std::string nul_after = R"({"id":1,"method":"ping"})"s + '\0';
  EXPECT_FALSE(quick_reply(nul_after));
  EXPECT_TRUE(reply_to(nul_after).starts_with(R"({"error":{"code":-32700,)")) << reply_to(nul_after);
}

TEST(IsBlank, UnicodeWhiteSpace) {
  EXPECT_TRUE(is_blank(""));
  EXPECT_TRUE(is_blank("\t\n\v\f\r \xE2\x80\x80\xE2\x80\x8A\xE2\x80\xAF\xE2\x81\x9F\xE1\x9A\x80"));
  EXPECT_FALSE(is_blank("\xE2\x80\x8B"));  // zero-width space is not white space
  EXPECT_FALSE(is_blank(" x "));
  EXPECT_FALSE(is_blank("\xC2"));  // truncated sequence
}

}  // namespace
}  // namespace elmpad::mcp
