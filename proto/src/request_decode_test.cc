#include "request_decode.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

TEST(DecodeRequest, IgnoresUnknownKeysAndNullOptionals) {
  auto r = decode_request(R"( {"id":3,"proto":1,"cmd":"reveal","path":"/a","heading":null,"extra":[1]} )" "\r\n");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->id, 3u);
  const auto& reveal = std::get<cmd::Reveal>(r->cmd);
  EXPECT_EQ(reveal.path, "/a");
  EXPECT_FALSE(reveal.heading.has_value());
}

TEST(DecodeRequest, RefusalsNameTheFaultAndKeepAUsableId) {
  struct Case {
    std::string line;
    std::optional<std::uint64_t> id;
    std::string message;
  };
  const Case cases[] = {
      {"[1]", std::nullopt, "a request must be a JSON object"},
      {R"({"proto":1,"cmd":"status"})", std::nullopt, "missing or invalid `id` (a non-negative integer)"},
      {R"({"id":-1,"proto":1,"cmd":"status"})", std::nullopt, "missing or invalid `id` (a non-negative integer)"},
      {R"({"id":1.5,"proto":1,"cmd":"status"})", std::nullopt, "missing or invalid `id` (a non-negative integer)"},
      {R"({"id":4,"cmd":"status"})", 4, "missing or invalid `proto`"},
      {R"({"id":4,"proto":2,"cmd":"status"})", 4, "unsupported protocol version 2 (this application speaks 1)"},
      {R"({"id":4,"proto":1,"session":"7","cmd":"status"})", 4, "`session` must be a non-negative integer"},
      {R"({"id":4,"proto":1})", 4, "missing or invalid `cmd`"},
      {R"({"id":4,"proto":1,"cmd":"fly"})", 4, "unknown command `fly`"},
      {R"({"id":4,"proto":1,"cmd":"read_section"})", 4, "missing field `path` for read_section"},
      {R"({"id":4,"proto":1,"cmd":"read_section","path":5})", 4, "field `path` must be a string for read_section"},
      {R"({"id":4,"proto":1,"cmd":"open","path":"/a"})", 4, "missing field `wait` for open"},
      {R"({"id":4,"proto":1,"cmd":"open","path":"/a","wait":"yes"})", 4, "field `wait` must be true or false for open"},
      {R"({"id":4,"proto":1,"cmd":"write_section","path":"/a","operation":"append"})", 4,
       "missing field `content` for write_section"},
      {R"({"id":4,"proto":1,"cmd":"wait_for_change","timeout_secs":-5})", 4,
       "field `timeout_secs` must be a non-negative integer for wait_for_change"},
      {R"({"id":4,"proto":1,"cmd":"status","cmd":"status"})", 4, "a key is given twice"},
      {R"({"id":4,"proto":1,"cmd":"status","x":[{}],"cmd":"status"})", 4, "a key is given twice"},
      {R"({"id":4,"proto":1,"cmd":"open","path":"/w/a.md\u0000.png","wait":false})", 4,
       "field `path` must not contain a NUL byte for open"},
      {R"({"id":4,"proto":1,"cmd":"open_folder","path":"/w\u0000"})", 4,
       "field `path` must not contain a NUL byte for open_folder"},
      {R"({"id":4,"proto":1,"cmd":"write_section","path":"/a\u0000b","operation":"append","content":"x"})", 4,
       "field `path` must not contain a NUL byte for write_section"},
      {R"({"id":4,"proto":1,"cmd":"wait_for_change","workspace":"/w\u0000/x"})", 4,
       "field `workspace` must not contain a NUL byte for wait_for_change"},
      {R"({"id":4,"proto":1,"cmd":"attach_session","cwd":"\u0000"})", 4,
       "field `cwd` must not contain a NUL byte for attach_session"},
  };
  for (const auto& c : cases) {
    auto r = decode_request(c.line);
    ASSERT_FALSE(r.has_value()) << c.line;
    EXPECT_EQ(r.error().id, c.id) << c.line;
    EXPECT_EQ(r.error().message, c.message) << c.line;
  }
}

TEST(DecodeRequest, BadJsonAndDeepNestingAreRefusedNotFatal) {
  for (std::string line : {std::string("{\"id\":1,"), std::string("x"), std::string(""),
                           std::string("{\"id\":1,\"proto\":1,\"cmd\":\"status\"}\n\0", 35),
                           std::string(100000, '[') + std::string(100000, ']')}) {
    auto r = decode_request(line);
    ASSERT_FALSE(r.has_value());
    EXPECT_FALSE(r.error().id.has_value());
    EXPECT_TRUE(r.error().message.starts_with("not JSON: ")) << r.error().message;
  }
}

}  // namespace
}  // namespace elmpad
