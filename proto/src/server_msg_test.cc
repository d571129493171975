#include "server_msg.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

const Response* response(const std::expected<ServerMsg, std::string>& m) {
  return m ? std::get_if<Response>(&*m) : nullptr;
}
const Event* event(const std::expected<ServerMsg, std::string>& m) {
  return m ? std::get_if<Event>(&*m) : nullptr;
}

TEST(DecodeServerMsg, Responses) {
  auto plain = decode_server_msg("{\"id\":1,\"ok\":true}\n");
  ASSERT_TRUE(response(plain));
  EXPECT_TRUE(response(plain)->ok);
  EXPECT_FALSE(response(plain)->data);
  EXPECT_FALSE(response(plain)->error);

  auto null_error = decode_server_msg(R"({"id":1,"ok":false,"error":null})");
  ASSERT_TRUE(response(null_error));
  EXPECT_FALSE(response(null_error)->ok);
  EXPECT_FALSE(response(null_error)->error);

  auto null_data = decode_server_msg(R"({"id":1,"ok":true,"data":null})");
  ASSERT_TRUE(response(null_data));
  EXPECT_FALSE(response(null_data)->data);

  auto full = decode_server_msg(R"({"ok":false,"id":9,"error":{"code":"X","params":{"b":"2","a":"1"}},"extra":[]})");
  ASSERT_TRUE(response(full));
  EXPECT_EQ(response(full)->id, 9u);
  EXPECT_EQ(compact(error_body_json(*response(full)->error)), R"({"code":"X","params":{"a":"1","b":"2"}})");

  // id, ok and event together: a Response.
  EXPECT_TRUE(response(decode_server_msg(R"({"id":1,"ok":true,"event":"closed"})")));
}

TEST(DecodeServerMsg, Events) {
  auto bare = decode_server_msg(R"({"id":1,"event":"anything"})");
  ASSERT_TRUE(event(bare));
  EXPECT_FALSE(event(bare)->outcome);
  auto discarded = decode_server_msg(R"({"id":1,"event":"closed","outcome":"discarded"})");
  ASSERT_TRUE(event(discarded));
  EXPECT_EQ(event(discarded)->outcome, Outcome::kDiscarded);
  auto null_outcome = decode_server_msg(R"({"id":1,"event":"closed","outcome":null})");
  ASSERT_TRUE(event(null_outcome));
  EXPECT_FALSE(event(null_outcome)->outcome);
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

TEST(DecodeServerMsg, RepeatedKeysInsideParamsAndDataKeepTheLast) {
  auto m = decode_server_msg(R"({"id":1,"ok":false,"error":{"code":"X","params":{"a":"1","a":"2"}}})");
  ASSERT_TRUE(response(m));
  EXPECT_EQ(response(m)->error->params.at("a"), "2");
  EXPECT_TRUE(response(decode_server_msg(R"({"id":1,"ok":true,"data":{"k":1,"k":2}})")));
}

// Repeats below the top level, however their keys are named, are no repeats
// of the record's own keys or of the error body's.
TEST(DecodeServerMsg, RepeatedKeysFurtherDownAreNotMistakenForTheRecords) {
  for (const char* line : {
           R"({"id":1,"ok":true,"":{"k":1,"k":2}})",
           R"({"id":1,"ok":false,"error":{"code":"X"},"":{"error":{"k":1,"k":2}}})",
           R"({"id":1,"ok":false,"error":{"code":"X"},"data":{"error":{"code":"A","code":"B"}}})",
           R"({"id":1,"ok":true,"x":[{"k":1,"k":2}]})",
       }) {
    EXPECT_TRUE(response(decode_server_msg(line))) << line;
  }
  EXPECT_TRUE(event(decode_server_msg(R"({"id":1,"event":"e","":{"k":1,"k":2}})")));
  EXPECT_TRUE(event(decode_server_msg(R"({"id":1,"event":"e","error":{"k":1,"k":2}})")));
}

TEST(DecodeServerMsg, Whitespace) {
  EXPECT_TRUE(response(decode_server_msg(" \t{\"id\":1,\"ok\":true}  \r\n")));
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
  EXPECT_TRUE(response(decode_server_msg(fine)));
}

TEST(EncodeServerMsg, RoundTrips) {
  ServerMsg r = Response{4, false, json{{"x", 1}}, ErrorBody{"CONFLICT", {{"hash", "h"}}}};
  EXPECT_EQ(encode_server_msg(r), R"({"data":{"x":1},"error":{"code":"CONFLICT","params":{"hash":"h"}},"id":4,"ok":false})"
                                  "\n");
  EXPECT_EQ(encode_server_msg(Event{1, "closed", Outcome::kDone}), "{\"event\":\"closed\",\"id\":1,\"outcome\":\"done\"}\n");
  EXPECT_TRUE(event(decode_server_msg(encode_server_msg(Event{1, "closed", Outcome::kDone}))));
}

}  // namespace
}  // namespace elmpad
