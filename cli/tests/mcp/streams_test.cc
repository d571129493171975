// What a transcript cannot hold: lines and answers of megabytes, and a
// client that stops reading.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fake_app.h"
#include "json_text.h"
#include "run_elmpad.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

// Answers of a megabyte pass through exactly as the parsed data would print
// (keys sorted at every depth, escapes and numbers respelled), across every
// piece the reply is written in; the next answer is not spoiled by it.
TEST(McpStreams, LargeAnswersPassThroughExactly) {
  TempHome home;
  FakeApp app(home.path());
  std::string content;
  for (int i = 0; content.size() < (1 << 20); ++i) {
    content += "## Überblick " + std::to_string(i) + R"( — \"Plan\" \\ C:\\x\t会议 \u00e9\ud83d\ude00 \/ \u001f\n)";
  }
  std::string data = R"({"start":1,"content":")" + content +
                     R"(","z":[1.50,-0,1E2,18446744073709551615],"baseHash":"9f","nested":{"b":{"y":1,"x":2},"a":null}})";
  app.reply("read_section", {R"({"ok":true,"data":)" + data + R"(,"id":1})"});
  app.reply("read_section", {R"({"id":1,"ok":true,"data":{"b":"small","a":"\""}})"});
  Child server({.args = {"mcp"}, .home = home.path()});
  auto reply = [](int id, const std::string& payload) {
    return R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","result":{"content":[{"text":)" +
           compact(json(payload)) + R"(,"type":"text"}]}})";
  };
  for (int id : {1, 2}) {
    server.write(R"({"id":)" + std::to_string(id) + R"(,"method":"tools/call","params":{"name":"read_section",)"
                 R"("arguments":{"path":"/n.md"}}})" "\n");
  }
  EXPECT_EQ(server.read_line(), reply(1, compact(*parse_json(data))));
  EXPECT_EQ(server.read_line(), reply(2, R"({"a":"\"","b":"small"})"));
}

TEST(McpStreams, VeryLongLinesAreReadWhole) {
  TempHome home;
  Child server({.args = {"mcp"}, .home = home.path()});
  std::string big(6 << 20, 'x');
  server.write(R"({"id":1,"method":")" + big + "\"}\n");
  EXPECT_EQ(server.read_line(),
            R"({"error":{"code":-32601,"message":"method not found: )" + big + R"("},"id":1,"jsonrpc":"2.0"})");
  std::string escaped;
  for (int i = 0; i < 200000; ++i) escaped += "\\u00e9\\n";
  server.write(R"({"id":2,"method":"ping","params":{"note":")" + escaped + "\"}}\n");
  EXPECT_EQ(server.read_line(), R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

// In the revision without a handshake, a wait cancelled in the very write
// that asked for it gives no reply and no progress, whether the cancellation
// is read before the wait runs or before it connects, and the next request
// is answered at once.
TEST(McpStreams, AWaitCancelledInItsOwnWriteIsSilent) {
  TempHome home;
  home.write_file("notes.md", "# a\n");
  FakeApp app(home.path());
  app.hold("wait_for_change");
  Child server({.args = {"mcp"}, .home = home.path(), .env = {{"ELMPAD_PROGRESS_INTERVAL_MS", "5"}}});
  const std::string meta = R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28","progressToken":"p"})";
  server.write(R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"wait_for_change","arguments":{"path":")" +
               home.path() + R"(/notes.md"},)" + meta + "}}\n" +
               R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":9}})" "\n" +
               R"({"jsonrpc":"2.0","id":10,"method":"tools/call","params":{"name":"get_context","arguments":{},)" + meta +
               "}}\n");
  auto reply = server.read_line();
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->starts_with(R"({"id":10,"jsonrpc":"2.0","result":)")) << *reply;
  server.close_stdin();
  EXPECT_EQ(server.wait(), 0);
  EXPECT_EQ(server.rest_of_out(), "");
}

// A client that stops reading replies can still end the server by closing
// its input: replies that no longer fit in the pipe must not keep the server
// from reading on (Child is no use here: it always drains output).
TEST(McpStreams, AClientThatStopsReadingCanStillEndTheServer) {
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

  // Far more reply bytes than a pipe holds: small replies, then large ones.
  std::string input;
  for (int i = 0; i < 3000; ++i) input += R"({"id":1,"method":"ping"})" "\n";
  for (int i = 0; i < 20; ++i) input += R"({"id":1,"method":"tools/list"})" "\n";
  ::fcntl(in[1], F_SETFL, O_NONBLOCK);
  std::string_view rest = input;
  bool all_read = eventually([&] {
    ssize_t n = ::write(in[1], rest.data(), rest.size());
    if (n > 0) rest.remove_prefix(static_cast<std::size_t>(n));
    return rest.empty();
  });
  EXPECT_TRUE(all_read) << "the server stopped reading its input";
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
