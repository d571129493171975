#include "server_msg.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

bool is_response(const std::expected<ServerMsg, std::string>& m) { return m && std::holds_alternative<Response>(*m); }

// Each line the app may send, as the message it decodes to writes itself:
// what is null or unknown is left out, and repeats below the top level,
// however their keys are named, are no repeats of the record's own keys.
TEST(DecodeServerMsg, ReadsEachMessageAsItWritesItself) {
  const std::pair<std::string, std::string> cases[] = {
      {"{\"id\":1,\"ok\":true}\n", R"({"id":1,"ok":true})"},
      {" \t{\"id\":1,\"ok\":true}  \r\n", R"({"id":1,"ok":true})"},
      {R"({"id":1,"ok":false,"error":null})", R"({"id":1,"ok":false})"},
      {R"({"id":1,"ok":true,"data":null})", R"({"id":1,"ok":true})"},
      {R"({"ok":false,"id":9,"error":{"code":"X","params":{"b":"2","a":"1"}},"extra":[]})",
       R"({"error":{"code":"X","params":{"a":"1","b":"2"}},"id":9,"ok":false})"},
      {R"({"data":{"x":1},"error":{"code":"CONFLICT","params":{"hash":"h"}},"id":4,"ok":false})",
       R"({"data":{"x":1},"error":{"code":"CONFLICT","params":{"hash":"h"}},"id":4,"ok":false})"},
      {R"({"id":1,"ok":true,"event":"closed"})", R"({"id":1,"ok":true})"},  // id, ok and event: a response
      {R"({"id":1,"event":"anything"})", R"({"event":"anything","id":1})"},
      {R"({"id":1,"event":"closed","outcome":"discarded"})", R"({"event":"closed","id":1,"outcome":"discarded"})"},
      {R"({"id":1,"event":"closed","outcome":"done"})", R"({"event":"closed","id":1,"outcome":"done"})"},
      {R"({"id":1,"event":"closed","outcome":null})", R"({"event":"closed","id":1})"},
      {R"({"id":1,"ok":false,"error":{"code":"X","params":{"a":"1","a":"2"}}})",
       R"({"error":{"code":"X","params":{"a":"2"}},"id":1,"ok":false})"},
      {R"({"id":1,"ok":true,"data":{"k":1,"k":2}})", R"({"data":{"k":2},"id":1,"ok":true})"},
      {R"({"id":1,"ok":true,"":{"k":1,"k":2}})", R"({"id":1,"ok":true})"},
      {R"({"id":1,"ok":false,"error":{"code":"X"},"":{"error":{"k":1,"k":2}}})", R"({"error":{"code":"X","params":{}},"id":1,"ok":false})"},
      {R"({"id":1,"ok":false,"error":{"code":"X"},"data":{"error":{"code":"A","code":"B"}}})",
       R"({"data":{"error":{"code":"B"}},"error":{"code":"X","params":{}},"id":1,"ok":false})"},
      {R"({"id":1,"ok":true,"x":[{"k":1,"k":2}]})", R"({"id":1,"ok":true})"},
      {R"({"id":1,"event":"e","":{"k":1,"k":2}})", R"({"event":"e","id":1})"},
      {R"({"id":1,"event":"e","error":{"k":1,"k":2}})", R"({"event":"e","id":1})"},
  };
  for (const auto& [line, want] : cases) {
    auto m = decode_server_msg(line);
    ASSERT_TRUE(m.has_value()) << line << ": " << m.error();
    EXPECT_EQ(encode_server_msg(*m), want + "\n") << line;
  }
}

TEST(DecodeServerMsg, LinesThatFitNeither) {
  for (const char* line : {
           R"({"id":1,"event":"closed","outcome":"saved"})",  // unknown outcome
           R"({"id":1,"ok":false,"error":{"code":"X","params":{"n":1}}})",  // non-string param
           R"({"id":1,"ok":false,"error":{"code":7}})",  // non-string code
           R"({"id":1,"ok":true,"id":2})",  // key given twice
           R"({"id":1,"ok":false,"error":{"code":"A","code":"B"}})",
           R"({"id":1,"data":{"a":[]},"id":2,"ok":true})",  // repeats after a closed container
           R"({"id":1,"ok":false,"error":{"params":{},"code":"A","code":"B"}})",
           R"({"id":1.0,"ok":true})", R"({"id":-1,"ok":true})", R"({"id":"1","ok":true})",
           R"({"id":18446744073709551616,"ok":true})", R"({"ok":true})", R"({"id":1})",
           R"({"id":1,"ok":"yes"})", "[1]", "7", "null",
       }) {
    auto m = decode_server_msg(line);
    ASSERT_FALSE(m) << line;
    EXPECT_EQ(m.error(), kNoVariantMessage) << line;
  }
}

TEST(DecodeServerMsg, Whitespace) {
  auto junk = decode_server_msg("{\"id\":1,\"ok\":true} x\n");
  ASSERT_FALSE(junk);
  EXPECT_NE(junk.error(), kNoVariantMessage);
  // A NUL byte is no end of the line: what follows it is junk too.
  auto nul = decode_server_msg(std::string("{\"id\":1,\"ok\":true,\"data\":{\"folder\":\"/x\"}}\0junk\n", 47));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error(), "parse error at line 1, column 42: syntax error while parsing value - unexpected NUL byte; "
                         "expected end of input");
  auto below = decode_server_msg(std::string("{\"id\":1,\n\"ok\":true}\n \0", 22));
  ASSERT_FALSE(below);
  EXPECT_TRUE(below.error().starts_with("parse error at line 3, column 2: ")) << below.error();
  auto empty = decode_server_msg("\n");
  ASSERT_FALSE(empty);
  EXPECT_NE(empty.error().find("unexpected end of input"), std::string::npos) << empty.error();
  EXPECT_EQ(empty.error().find("[json.exception"), std::string::npos);
}

TEST(DecodeServerMsg, DeepNestingIsRefusedNotACrash) {
  std::string deep = "{\"id\":1,\"ok\":true,\"data\":" + std::string(1'000'000, '[') + "}\n";
  auto m = decode_server_msg(deep);
  ASSERT_FALSE(m);
  EXPECT_NE(m.error().find("nesting"), std::string::npos);
  std::string fine = "{\"id\":1,\"ok\":true,\"data\":" + std::string(200, '[') + std::string(200, ']') + "}";
  EXPECT_TRUE(is_response(decode_server_msg(fine)));
}

}  // namespace
}  // namespace elmpad
