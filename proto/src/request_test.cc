#include "request.h"

#include <gtest/gtest.h>

#include "request_decode.h"

namespace elmpad {
namespace {

// Writes `request` byte for byte as `want`; the app decodes that line back
// to a request that writes the same line. One call a case: a table of
// requests makes g++ 12 at -O3 take their variants for uninitialized.
void round_trip(const Request& request, const std::string& want) {
  const std::string line = want + "\n";
  EXPECT_EQ(encode_request(request).value_or("<refused>"), line);
  auto decoded = decode_request(line);
  ASSERT_TRUE(decoded.has_value()) << line << " -> " << decoded.error().message;
  EXPECT_EQ(encode_request(*decoded).value_or("<refused>"), line);
}

TEST(EncodeRequest, EveryCommandInWireOrderAndBack) {
  round_trip({.cmd = cmd::Open{"/a.md", false, std::nullopt}},
             R"({"id":1,"proto":1,"cmd":"open","path":"/a.md","wait":false})");
  round_trip({.cmd = cmd::Open{"/a b.md", true, "git"}},
             R"({"id":1,"proto":1,"cmd":"open","path":"/a b.md","wait":true,"source":"git"})");
  round_trip({.id = 2, .cmd = cmd::Open{.path = "/b.md"}},
             R"({"id":2,"proto":1,"cmd":"open","path":"/b.md","wait":false})");
  round_trip({.cmd = cmd::OpenFolder{"/n"}},
             R"({"id":1,"proto":1,"cmd":"open_folder","path":"/n"})");
  round_trip({.cmd = cmd::Reveal{"/a.md", std::nullopt}},
             R"({"id":1,"proto":1,"cmd":"reveal","path":"/a.md"})");
  round_trip({.cmd = cmd::Reveal{"/a.md", ""}},
             R"({"id":1,"proto":1,"cmd":"reveal","path":"/a.md","heading":""})");
  round_trip({.cmd = cmd::Status{}},
             R"({"id":1,"proto":1,"cmd":"status"})");
  round_trip({.id = 18446744073709551615ull, .session = 18446744073709551615ull, .cmd = cmd::Status{}},
             R"({"id":18446744073709551615,"proto":1,"session":18446744073709551615,"cmd":"status"})");
  round_trip({.cmd = cmd::GetContext{}},
             R"({"id":1,"proto":1,"cmd":"get_context"})");
  round_trip({.cmd = cmd::ExecuteCommand{"file.save"}},
             R"({"id":1,"proto":1,"cmd":"execute_command","command":"file.save"})");
  round_trip({.cmd = cmd::ReadSection{"/a.md", "会议记录::行动项"}},
             R"({"id":1,"proto":1,"cmd":"read_section","path":"/a.md","heading":"会议记录::行动项"})");
  round_trip({.cmd = cmd::WriteSection{"/a.md", std::nullopt, "append", "x\n\"y\"", std::nullopt}},
             R"({"id":1,"proto":1,"cmd":"write_section","path":"/a.md","operation":"append","content":"x\n\"y\""})");
  round_trip({.cmd = cmd::WriteSection{"/a.md", "H\\#1", "replace", "", "abc"}},
             R"({"id":1,"proto":1,"cmd":"write_section","path":"/a.md","heading":"H\\#1","operation":"replace","content":"","base_hash":"abc"})");
  round_trip({.cmd = cmd::WaitForChange{"/a.md", "/w", "codex", 0}},
             R"({"id":1,"proto":1,"cmd":"wait_for_change","path":"/a.md","workspace":"/w","name":"codex","timeout_secs":0})");
  round_trip({.session = 3, .cmd = cmd::WaitForChange{std::nullopt, "/notes", std::nullopt, 18446744073709551615ull}},
             R"({"id":1,"proto":1,"session":3,"cmd":"wait_for_change","workspace":"/notes","timeout_secs":18446744073709551615})");
  round_trip({.session = 7, .cmd = cmd::WaitForChange{.workspace = "/notes"}},
             R"({"id":1,"proto":1,"session":7,"cmd":"wait_for_change","workspace":"/notes"})");
  round_trip({.cmd = cmd::PostMessage{"a\"b\\c\nd\x01 — 会议"}},
             R"({"id":1,"proto":1,"cmd":"post_message","text":"a\"b\\c\nd\u0001 — 会议"})");
  round_trip({.cmd = cmd::AttachSession{"/w", std::nullopt}},
             R"({"id":1,"proto":1,"cmd":"attach_session","cwd":"/w"})");
  round_trip({.cmd = cmd::AttachSession{"/w", "tok"}},
             R"({"id":1,"proto":1,"cmd":"attach_session","cwd":"/w","token":"tok"})");
}

TEST(EncodeRequest, InvalidUtf8IsAnErrorNotACrash) {
  auto encoded = encode_request(Request{.cmd = cmd::PostMessage{"bad \xff byte"}});
  ASSERT_FALSE(encoded.has_value());
  EXPECT_NE(encoded.error().find("UTF-8"), std::string::npos) << encoded.error();
}

}  // namespace
}  // namespace elmpad
