#include "mcp/json_rpc.h"

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
