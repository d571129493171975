#include "request.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

std::string line(Request r) {
  auto encoded = encode_request(r);
  EXPECT_TRUE(encoded.has_value());
  return encoded.value_or("");
}

TEST(EncodeRequest, EveryCommandInWireOrder) {
  struct Case {
    Cmd cmd;
    std::string want;
  };
  const Case cases[] = {
      {cmd::Open{"/a.md", false, std::nullopt}, R"({"id":1,"proto":1,"cmd":"open","path":"/a.md","wait":false})"},
      {cmd::Open{"/a.md", true, "git"}, R"({"id":1,"proto":1,"cmd":"open","path":"/a.md","wait":true,"source":"git"})"},
      {cmd::OpenFolder{"/n"}, R"({"id":1,"proto":1,"cmd":"open_folder","path":"/n"})"},
      {cmd::Reveal{"/a.md", std::nullopt}, R"({"id":1,"proto":1,"cmd":"reveal","path":"/a.md"})"},
      {cmd::Reveal{"/a.md", ""}, R"({"id":1,"proto":1,"cmd":"reveal","path":"/a.md","heading":""})"},
      {cmd::Status{}, R"({"id":1,"proto":1,"cmd":"status"})"},
      {cmd::GetContext{}, R"({"id":1,"proto":1,"cmd":"get_context"})"},
      {cmd::ExecuteCommand{"file.save"}, R"({"id":1,"proto":1,"cmd":"execute_command","command":"file.save"})"},
      {cmd::ReadSection{"/a.md", "A::B"}, R"({"id":1,"proto":1,"cmd":"read_section","path":"/a.md","heading":"A::B"})"},
      {cmd::WriteSection{"/a.md", std::nullopt, "append", "x", std::nullopt},
       R"({"id":1,"proto":1,"cmd":"write_section","path":"/a.md","operation":"append","content":"x"})"},
      {cmd::WriteSection{"/a.md", "H", "replace", "", "abc"},
       R"({"id":1,"proto":1,"cmd":"write_section","path":"/a.md","heading":"H","operation":"replace","content":"","base_hash":"abc"})"},
      {cmd::WaitForChange{"/a.md", "/w", "codex", 0},
       R"({"id":1,"proto":1,"cmd":"wait_for_change","path":"/a.md","workspace":"/w","name":"codex","timeout_secs":0})"},
      {cmd::PostMessage{"done"}, R"({"id":1,"proto":1,"cmd":"post_message","text":"done"})"},
      {cmd::AttachSession{"/w", std::nullopt}, R"({"id":1,"proto":1,"cmd":"attach_session","cwd":"/w"})"},
      {cmd::AttachSession{"/w", "tok"}, R"({"id":1,"proto":1,"cmd":"attach_session","cwd":"/w","token":"tok"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(line(Request{.cmd = c.cmd}), c.want + "\n");
}

TEST(EncodeRequest, SessionSitsBetweenProtoAndCmd) {
  EXPECT_EQ(line(Request{.session = 3, .cmd = cmd::WaitForChange{.workspace = "/notes"}}),
            "{\"id\":1,\"proto\":1,\"session\":3,\"cmd\":\"wait_for_change\",\"workspace\":\"/notes\"}\n");
  EXPECT_EQ(line(Request{.id = 2, .cmd = cmd::Open{.path = "/b.md"}}),
            "{\"id\":2,\"proto\":1,\"cmd\":\"open\",\"path\":\"/b.md\",\"wait\":false}\n");
  EXPECT_EQ(line(Request{.id = 18446744073709551615ull, .session = 18446744073709551615ull, .cmd = cmd::Status{}}),
            "{\"id\":18446744073709551615,\"proto\":1,\"session\":18446744073709551615,\"cmd\":\"status\"}\n");
}

TEST(EncodeRequest, EscapesControlsAndKeepsUnicode) {
  EXPECT_EQ(line(Request{.cmd = cmd::PostMessage{"a\"b\\c\nd\x01 — 会议"}}),
            "{\"id\":1,\"proto\":1,\"cmd\":\"post_message\",\"text\":\"a\\\"b\\\\c\\nd\\u0001 — 会议\"}\n");
}

TEST(EncodeRequest, InvalidUtf8IsAnErrorNotACrash) {
  auto encoded = encode_request(Request{.cmd = cmd::PostMessage{"bad \xff byte"}});
  ASSERT_FALSE(encoded.has_value());
  EXPECT_NE(encoded.error().find("UTF-8"), std::string::npos) << encoded.error();
}

}  // namespace
}  // namespace elmpad
