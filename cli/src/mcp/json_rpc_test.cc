#include "mcp/json_rpc.h"

#include <gtest/gtest.h>

#include <string>
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

// The quick way answers exactly as the careful way, or declines.
// That a quick reply agrees with the careful one on every line is the MCP
// fuzz target's check; here, what the quick way must take and leave.
TEST(QuickReply, TakesOnlyWhatItCanAnswerExactly) {
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

}  // namespace
}  // namespace elmpad::mcp
