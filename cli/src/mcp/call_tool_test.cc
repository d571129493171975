#include "mcp/call_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "fake_app.h"
#include "temp_home.h"

namespace elmpad::mcp {
namespace {

std::string outcome_text(const ToolOutcome& outcome) {
  if (auto* error = std::get_if<ProtocolError>(&outcome)) {
    return "protocol error " + std::to_string(error->code) + ": " + error->message;
  }
  return std::get<ToolResult>(outcome).text();
}

TEST(ToolResult, Shapes) {
  EXPECT_EQ(tool_ok(json{{"z", 1}, {"a", "—"}}).text(),
            R"({"content":[{"text":"{\"a\":\"—\",\"z\":1}","type":"text"}]})");
  EXPECT_EQ(tool_ok(json("plain")).text(), R"({"content":[{"text":"\"plain\"","type":"text"}]})");
  EXPECT_EQ(tool_err(RunErr{"NOT_RUNNING", "a \"b\""}).text(),
            R"({"content":[{"text":"{\"error\":{\"code\":\"NOT_RUNNING\",\"params\":{\"detail\":\"a \\\"b\\\"\"}},\"ok\":false}","type":"text"}],"isError":true})");
}

TEST(RemoteErr, AppCodeAndErrorTextOrTheFallback) {
  EXPECT_EQ(remote_err(std::nullopt, "READ_FAILED"), (RunErr{"READ_FAILED", "request failed"}));
  EXPECT_EQ(remote_err(json{{"code", "NO_WINDOW"}, {"params", json::object()}}, "EXECUTE_FAILED"),
            (RunErr{"NO_WINDOW", R"({"code":"NO_WINDOW","params":{}})"}));
  EXPECT_EQ(remote_err(json{{"code", ""}, {"params", {{"b", "2"}, {"a", "1"}}}}, "X"),
            (RunErr{"", R"({"code":"","params":{"a":"1","b":"2"}})"}));
  EXPECT_EQ(tool_err(remote_err(json{{"code", "NO_WINDOW"}, {"params", json::object()}}, "EXECUTE_FAILED")).text(),
            R"({"content":[{"text":"{\"error\":{\"code\":\"NO_WINDOW\",\"params\":{\"detail\":\"{\\\"code\\\":\\\"NO_WINDOW\\\",\\\"params\\\":{}}\"}},\"ok\":false}","type":"text"}],"isError":true})");
}

TEST(Resolve, JoinsRelativePathsWithoutNormalising) {
  EXPECT_EQ(*resolve("/a/../b.md"), "/a/../b.md");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(*resolve("notes/../a.md"), std::string(cwd) + "/notes/../a.md");
  EXPECT_EQ(*resolve("./a.md"), std::string(cwd) + "/./a.md");
}

class CallTool : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("HOME", home_.path().c_str(), 1); }
  testing::TempHome home_;
};

TEST_F(CallTool, ArgumentErrorsComeBeforeAnyConnection) {
  testing::FakeApp app(home_.path());
  std::string dir = home_.make_dir("folder");
  const std::tuple<const char*, json, const char*> cases[] = {
      {"", json::object(), "unknown tool: "},
      {"Open_file", json::object(), "unknown tool: Open_file"},
      {"open_file", json::object(), "missing required argument: path"},
      {"open_file", json{{"path", ""}}, "missing required argument: path"},
      {"open_file", json{{"path", 5}}, "missing required argument: path"},
      {"open_file", json::array({"path"}), "missing required argument: path"},
      {"reveal", json{{"heading", "h"}}, "missing required argument: path"},
      {"open_folder", json(nullptr), "missing required argument: path"},
      {"execute_command", json{{"command", "x"}}, "missing required argument: id"},
      {"read_section", json{{"path", nullptr}}, "missing required argument: path"},
      {"write_section", json{{"operation", "append"}, {"content", "x"}}, "missing required argument: path"},
      // The path is a directory, yet the missing argument is what is reported.
      {"write_section", json{{"path", dir}, {"content", "x"}}, "missing required argument: operation"},
      {"write_section", json{{"path", dir}, {"operation", ""}, {"content", "x"}}, "missing required argument: operation"},
      {"write_section", json{{"path", dir}, {"operation", "append"}}, "missing required argument: content"},
      {"write_section", json{{"path", dir}, {"operation", "append"}, {"content", 1}}, "missing required argument: content"},
      {"wait_for_change", json::object(), "wait_for_change needs at least one of: path, workspace"},
      {"wait_for_change", json{{"path", ""}, {"workspace", ""}, {"name", "n"}}, "wait_for_change needs at least one of: path, workspace"},
      {"wait_for_change", json{{"path", 1}, {"workspace", false}}, "wait_for_change needs at least one of: path, workspace"},
      {"post_message", json{{"text", ""}}, "missing required argument: text"},
  };
  for (const auto& [name, arguments, message] : cases) {
    EXPECT_EQ(outcome_text(call_tool(name, arguments)), std::string("protocol error -32602: ") + message)
        << name << " " << arguments.dump();
  }
  // Each call tried to attach the session (the fake grants none) and did
  // nothing else.
  auto received = app.received();
  EXPECT_EQ(received.size(), std::size(cases));
  for (const auto& line : received) EXPECT_TRUE(line.find("\"cmd\":\"attach_session\"") != std::string::npos) << line;
}

TEST_F(CallTool, WriteSectionAcceptsEmptyContent) {
  testing::FakeApp app(home_.path());
  std::string file = home_.write_file("n.md", "# a\n");
  auto outcome = call_tool("write_section", json{{"path", file}, {"operation", "append"}, {"content", ""}, {"heading", 3}});
  EXPECT_EQ(outcome_text(outcome), R"({"content":[{"text":"{\"ok\":true}","type":"text"}]})");
  auto received = app.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1], R"({"id":1,"proto":1,"cmd":"write_section","path":")" + file +
                             R"(","operation":"append","content":""})" "\n");
}

TEST_F(CallTool, TimeoutIsSentOnlyAsAPlainNonNegativeInteger) {
  testing::FakeApp app(home_.path());
  std::string file = home_.write_file("n.md", "");
  const std::pair<const char*, const char*> cases[] = {
      {"30", ",\"timeout_secs\":30"}, {"0", ",\"timeout_secs\":0"},
      {"18446744073709551615", ",\"timeout_secs\":18446744073709551615"},
      {"-5", ""}, {"2.5", ""}, {"30.0", ""}, {"1e2", ""}, {"\"30\"", ""}, {"null", ""},
      {"18446744073709551616", ""}, {"-0", ""},
  };
  for (const auto& [timeout, sent] : cases) {
    auto args = *parse_json(std::string(R"({"path":")") + file + R"(","timeout_seconds":)" + timeout + "}");
    auto outcome = call_tool("wait_for_change", args);
    EXPECT_EQ(outcome_text(outcome), R"({"content":[{"text":"{\"changed\":false,\"timedOut\":true}","type":"text"}]})");
    auto received = app.received();
    EXPECT_EQ(received.back(),
              R"({"id":1,"proto":1,"cmd":"wait_for_change","path":")" + file + "\"" + sent + "}\n")
        << timeout;
  }
}

}  // namespace
}  // namespace elmpad::mcp
