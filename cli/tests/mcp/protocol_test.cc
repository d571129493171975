// `elmpad mcp` driven through its standard streams: framing, methods, errors
// and how the server ends.
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "fake_app.h"
#include "mcp_client.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

std::string expected_tools_list() {
  std::ifstream file(TEST_DATA_DIR "/tools_list_reply.txt", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::string line = text.str();
  if (line.ends_with('\n')) line.pop_back();
  return line;
}

class McpProtocol : public ::testing::Test {
 protected:
  TempHome home_;
  McpClient client_{{.home = home_.path()}};
};

TEST_F(McpProtocol, TranscriptAnsweredInArrivalOrder) {
  // Everything is written at once; replies must come one per request, in
  // order, and nothing for blank lines and notifications.
  const std::pair<std::string, std::string> transcript[] = {
      {"", ""},
      {" \t", ""},
      {"\xC2\xA0\xE3\x80\x80", ""},  // no-break space, ideographic space
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", ""},
      {R"({"jsonrpc":"2.0","method":"ping"})", ""},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"id":1,"jsonrpc":"2.0","result":{}})"},
      {R"({"jsonrpc":"2.0","id":"init","method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{}}})",
       R"({"id":"init","jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2024-11-05","serverInfo":{"name":"elmpad","version":"0.15.6"}}})"},
      {R"({"id":2,"method":"initialize"})",
       R"({"id":2,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2025-06-18","serverInfo":{"name":"elmpad","version":"0.15.6"}}})"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", expected_tools_list()},
      {R"({"id":null,"method":"ping"})", R"({"id":null,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":{"b":[1.5,-2],"a":"é"},"method":"ping"})", R"({"id":{"a":"é","b":[1.5,-2]},"jsonrpc":"2.0","result":{}})"},
      {R"({"id":[],"method":"ping"})", R"({"id":[],"jsonrpc":"2.0","result":{}})"},
      {R"({"id":true,"method":"ping"})", R"({"id":true,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":-7,"method":"ping"})", R"({"id":-7,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":"a","method":"foo"})", R"({"error":{"code":-32601,"message":"method not found: foo"},"id":"a","jsonrpc":"2.0"})"},
      {R"({"id":2})", R"({"error":{"code":-32601,"message":"method not found: "},"id":2,"jsonrpc":"2.0"})"},
      {R"([{"id":3,"method":"ping"}])", ""},
      {"17", ""},
      {R"({"id":4,"method":"tools/call","params":{"name":"nope"}})",
       R"({"error":{"code":-32602,"message":"unknown tool: nope"},"id":4,"jsonrpc":"2.0"})"},
      {R"({"id":5,"method":"tools/call","params":{"name":"get_context"}})", ok_reply(R"({"running":false,"version":"0.15.6"})", "5")},
      {R"({"id":6,"method":"ping"})" "\r", R"({"id":6,"jsonrpc":"2.0","result":{}})"},
  };
  std::string input;
  std::vector<std::string> want;
  for (const auto& [line, reply] : transcript) {
    input += line + "\n";
    if (!reply.empty()) want.push_back(reply);
  }
  client_.child().write(input);
  for (const auto& reply : want) EXPECT_EQ(client_.next(), reply);
  // Closing standard input ends the server at once, with status 0.
  client_.child().close_stdin();
  EXPECT_EQ(client_.child().wait(), 0);
  EXPECT_EQ(client_.child().rest_of_out(), "");
  EXPECT_EQ(client_.child().err(), "");
}

TEST_F(McpProtocol, MalformedLinesAreAnsweredAndTheServerGoesOn) {
  const std::string lines[] = {
      "not json",
      R"({"id":1,"method":"ping"} trailing)",
      // A carriage return alone does not end a line.
      std::string(R"({"id":1,"method":"ping"})") + "\r" + R"({"id":2,"method":"ping"})",
      std::string(1'000'000, '['),
      std::string(5000, '{') + "\"a\":1" + std::string(5000, '}'),
  };
  for (const auto& line : lines) {
    std::string reply = client_.ask(line);
    EXPECT_TRUE(reply.starts_with(R"({"error":{"code":-32700,"message":"parse error: )")) << reply.substr(0, 200);
    EXPECT_TRUE(reply.ends_with(R"("},"id":null,"jsonrpc":"2.0"})")) << reply.substr(0, 200);
    EXPECT_LT(reply.size(), 1000u);  // the line is not echoed
  }
  EXPECT_EQ(client_.ask(R"({"id":9,"method":"ping"})"), R"({"id":9,"jsonrpc":"2.0","result":{}})");
}

TEST_F(McpProtocol, VeryLongLinesAreReadWhole) {
  std::string big(6 << 20, 'x');
  EXPECT_EQ(client_.ask(R"({"id":1,"method":")" + big + "\"}"),
            R"({"error":{"code":-32601,"message":"method not found: )" + big + R"("},"id":1,"jsonrpc":"2.0"})");
  std::string escaped;
  for (int i = 0; i < 200000; ++i) escaped += "\\u00e9\\n";
  EXPECT_EQ(client_.ask(R"({"id":2,"method":"ping","params":{"note":")" + escaped + "\"}}"),
            R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

TEST_F(McpProtocol, InvalidUtf8EndsTheServer) {
  EXPECT_EQ(client_.ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  client_.send("{\"id\":2,\"method\":\"\xFF\"}");
  client_.send(R"({"id":3,"method":"ping"})");
  EXPECT_EQ(client_.child().wait(), 0);
  EXPECT_EQ(client_.child().rest_of_out(), "");
  EXPECT_EQ(client_.child().err(), "");
}

TEST_F(McpProtocol, ClosingStdinDuringACallEndsTheServer) {
  FakeApp app(home_.path());
  std::string file = home_.write_file("n.md", "");
  app.hold("wait_for_change");
  client_.send(McpClient::call_line("1", "wait_for_change", {{"path", file}}));
  client_.send(R"({"id":2,"method":"ping"})");
  ASSERT_TRUE(wait_for_cmd(app, "wait_for_change"));
  client_.child().close_stdin();
  EXPECT_EQ(client_.child().wait(), 0);
  EXPECT_EQ(client_.child().rest_of_out(), "");
  EXPECT_EQ(client_.child().err(), "");
  app.release();
}

TEST_F(McpProtocol, AClosedStandardOutputEndsTheServer) {
  EXPECT_EQ(client_.ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  client_.child().close_stdout();
  client_.send(R"({"id":2,"method":"ping"})");
  EXPECT_EQ(client_.child().wait(), 0);
  EXPECT_EQ(client_.child().err(), "");
}

TEST_F(McpProtocol, EmptyInputEndsAtOnce) {
  client_.child().close_stdin();
  EXPECT_EQ(client_.child().wait(), 0);
  EXPECT_EQ(client_.child().rest_of_out(), "");
  EXPECT_EQ(client_.child().err(), "");
}

TEST_F(McpProtocol, ALastLineWithoutLineFeedIsRead) {
  // The reply is not promised (the server ends with its input), but the
  // server must neither hang nor fail.
  client_.child().write(R"({"id":1,"method":"ping"})");
  client_.child().close_stdin();
  EXPECT_EQ(client_.child().wait(), 0);
  std::string out = client_.child().rest_of_out();
  EXPECT_TRUE(out.empty() || out == "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n") << out;
}

// A client that stops reading replies can still end the server by closing
// standard input: replies that no longer fit in the pipe must not keep the
// server from reading on (Child is no use here: it always drains output).
TEST(McpOutput, AClientThatStopsReadingCanStillEndTheServer) {
  TempHome home;
  int in[2], out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  auto env = child_environment({.home = home.path()});
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char bin[] = ELMPAD_BIN, mcp[] = "mcp";
  char* argv[] = {bin, mcp, nullptr};
  pid_t pid = -1;
  ASSERT_EQ(::posix_spawn(&pid, bin, &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);

  // Far more reply bytes than a pipe holds: small replies first, then large
  // ones.
  std::string input;
  for (int i = 0; i < 3000; ++i) input += R"({"id":1,"method":"ping"})" "\n";
  for (int i = 0; i < 20; ++i) input += R"({"id":1,"method":"tools/list"})" "\n";
  ::fcntl(in[1], F_SETFL, O_NONBLOCK);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string_view rest = input;
  while (!rest.empty() && std::chrono::steady_clock::now() < deadline) {
    ssize_t n = ::write(in[1], rest.data(), rest.size());
    if (n > 0) rest.remove_prefix(static_cast<std::size_t>(n));
    pollfd room{in[1], POLLOUT, 0};
    if (!rest.empty()) ::poll(&room, 1, 100);
  }
  EXPECT_TRUE(rest.empty()) << "the server stopped reading its input";
  ::close(in[1]);
  int status = -1;
  bool exited = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
  if (!exited) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(exited) << "the server did not end with its input";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(out[0]);
}

}  // namespace
}  // namespace elmpad::testing
