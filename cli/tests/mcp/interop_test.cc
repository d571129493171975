// The official MCP TypeScript SDK as the client (tests/interop): it spawns
// `elmpad mcp`, lists tools, reads and writes a section through the fake
// app, and aborts a wait; the v2 client also in each of its negotiation
// modes, and through a wait that outlives its own request timeout on
// progress (that case takes about 15 s). Skipped when Node.js or the SDK is
// not installed.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app_client/version.h"
#include "fake_app.h"
#include "json_text.h"
#include "run_elmpad.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

std::string find_node() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = dir + "/node";
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

TEST(McpInterop, OfficialSdkClient) {
  std::string node = find_node();
  struct stat st {};
  if (node.empty() || ::stat(INTEROP_DIR "/node_modules/@modelcontextprotocol/sdk", &st) != 0) {
    GTEST_SKIP() << "needs node and `npm ci --prefix cli/tests/interop`";
  }
  TempHome home;
  std::string note = home.write_file("plan.md", "# Plan\nold\n");
  FakeApp app(home.path());
  app.reply("read_section", {R"({"id":1,"ok":true,"data":{"content":"old\n","baseHash":"h1"}})"});
  app.reply("write_section", {R"({"id":1,"ok":true,"data":{"baseHash":"h2"}})"});
  app.hold("wait_for_change");

  Child client(RunOptions{.args = {INTEROP_DIR "/client.mjs", ELMPAD_BIN, note}, .home = home.path(), .program = node});
  const std::string json_note = compact(json(note));
  EXPECT_EQ(client.read_line(), std::string("server \"elmpad ") + kVersion + "\"");
  EXPECT_EQ(client.read_line(),
            R"(tools ["open_file","open_folder","reveal","get_context","execute_command","read_section","write_section","wait_for_change","post_message"])");
  EXPECT_EQ(client.read_line(), R"(read {"text":"{\"baseHash\":\"h1\",\"content\":\"old\\n\"}","isError":false})");
  EXPECT_EQ(client.read_line(), R"(write {"text":"{\"baseHash\":\"h2\"}","isError":false})");
  EXPECT_EQ(client.read_line(), "waiting true");
  ASSERT_TRUE(eventually([&] {
    auto lines = app.received();
    return !lines.empty() && lines.back().find(R"("cmd":"wait_for_change")") != std::string::npos;
  }));
  client.write("go\n");
  EXPECT_EQ(client.read_line(), R"(wait ["rejected","MCP error -32001: user interrupt"])");
  EXPECT_EQ(client.read_line(), "ping {}");
  // The server's answer to the aborted call: the cancelled payload.
  EXPECT_EQ(client.read_line(),
            R"(late ["Received a response for an unknown message ID: {\"jsonrpc\":\"2.0\",\"id\":4,\"result\":{\"content\":[{\"text\":\"{\\\"cancelled\\\":true,\\\"changed\\\":false,\\\"source\\\":\\\"cancelled\\\"}\",\"type\":\"text\"}]}}"])");
  EXPECT_EQ(client.wait(), 0);
  EXPECT_EQ(client.err(), "");

  // No session is granted, so every call also tried to attach.
  std::vector<std::string> tool_requests;
  for (const auto& line : app.received()) {
    if (line.find(R"("cmd":"attach_session")") == std::string::npos) tool_requests.push_back(line);
  }
  EXPECT_EQ(tool_requests,
            (std::vector<std::string>{
                R"({"id":1,"proto":1,"cmd":"read_section","path":)" + json_note + R"(,"heading":"Plan"})" "\n",
                R"({"id":1,"proto":1,"cmd":"write_section","path":)" + json_note +
                    R"(,"heading":"Plan","operation":"replace","content":"new — body\n","base_hash":"h1"})" "\n",
                R"({"id":1,"proto":1,"cmd":"wait_for_change","path":)" + json_note + "}\n"}));
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 0; }));
}

// The v2 client in one negotiation mode: "legacy", "auto" (which picks the
// revision without a handshake when offered) or a pinned revision.
class McpInteropV2 : public ::testing::TestWithParam<std::string> {};

TEST_P(McpInteropV2, OfficialClient) {
  std::string node = find_node();
  struct stat st {};
  if (node.empty() || ::stat(INTEROP_DIR "/node_modules/@modelcontextprotocol/client", &st) != 0) {
    GTEST_SKIP() << "needs node and `npm ci --prefix cli/tests/interop`";
  }
  const std::string& mode = GetParam();
  TempHome home;
  std::string note = home.write_file("plan.md", "# Plan\nold\n");
  FakeApp app(home.path());
  app.reply("get_context", {R"({"id":1,"ok":true,"data":{"active":"plan"}})"});
  app.reply("get_context", {R"({"id":1,"ok":false,"error":{"code":"NO_WINDOW"}})"});  // for the error of every tool
  app.reply("read_section", {R"({"id":1,"ok":true,"data":{"content":"old\n","baseHash":"h1"}})"});
  app.reply("write_section", {R"({"id":1,"ok":false,"error":{"code":"CONFLICT","params":{"content":"old\n","baseHash":"h1"}}})"});
  app.hold("wait_for_change");
  app.on("wait_for_change", Action{.lines = {R"({"id":1,"ok":true,"data":{"changed":false,"timedOut":true}})"},
                                    .hold = true});

  Child client(RunOptions{.args = {INTEROP_DIR "/client2.mjs", ELMPAD_BIN, note, mode}, .home = home.path(),
                          .program = node});
  EXPECT_EQ(client.read_line(), mode == "legacy" ? R"(era "handshake")" : R"(era "2026-07-28")");
  EXPECT_EQ(client.read_line(), std::string("server \"elmpad ") + kVersion + "\"");
  EXPECT_EQ(client.read_line(),
            R"(tools ["open_file","open_folder","reveal","get_context","execute_command","read_section","write_section","wait_for_change","post_message"])");
  if (mode != "legacy") {
    EXPECT_EQ(client.read_line(),
              R"(hints [["Open file",false,false,true,false],["Open folder",false,false,true,false],)"
              R"(["Reveal heading",false,false,true,false],["Get context",true,false,true,false],)"
              R"(["Run app command",false,true,false,false],["Read section",true,false,true,false],)"
              R"(["Write section",false,true,false,false],["Wait for change",true,false,true,false],)"
              R"(["Post sidebar message",false,false,false,false]])");
  }
  EXPECT_EQ(client.read_line(), std::string(R"(context {"text":"{\"active\":\"plan\",\"version\":\")") + kVersion +
                                    R"(\"}","isError":false})");
  EXPECT_EQ(client.read_line(), R"(read {"text":"{\"baseHash\":\"h1\",\"content\":\"old\\n\"}","isError":false})");
  auto write = client.read_line();
  ASSERT_TRUE(write.has_value());
  EXPECT_TRUE(write->starts_with(R"(write {"text":"{\"error\":{\"code\":\"CONFLICT\")")) << *write;
  EXPECT_TRUE(write->ends_with(R"("isError":true})")) << *write;
  EXPECT_EQ(client.read_line(), "waiting true");
  ASSERT_TRUE(eventually([&] {
    auto lines = app.received();
    return !lines.empty() && lines.back().find(R"("cmd":"wait_for_change")") != std::string::npos;
  }));
  client.write("go\n");
  EXPECT_EQ(client.read_line(), R"(wait ["rejected","user interrupt"])");
  // The long wait has outlived the client's own timeout: the app answers now.
  EXPECT_EQ(client.read_line(), "overdue true");
  app.release();
  EXPECT_EQ(client.read_line(), R"(long ["resolved",{"text":"{\"changed\":false,\"timedOut\":true}","isError":false}])");
  EXPECT_EQ(client.read_line(), "outlived true");
  if (mode != "legacy") {
    // Every tool's error and success pass the client's check against the
    // tool's output schema.
    std::string every = R"(every [)";
    for (const char* shape : {"error", "ok"}) {
      for (const char* tool : {"open_file", "open_folder", "reveal", "get_context", "execute_command", "read_section",
                               "write_section", "wait_for_change", "post_message"}) {
        every += std::string(every.size() > 7 ? "," : "") + R"([")" + tool + R"(",")" + shape + R"("])";
      }
    }
    EXPECT_EQ(client.read_line(), every + "]");
  }
  EXPECT_EQ(client.wait(), 0);
  EXPECT_EQ(client.err(), "");
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Modes, McpInteropV2, ::testing::Values("legacy", "auto", "2026-07-28"),
                         [](const auto& info) {
                           return info.param == "legacy" ? std::string("Legacy")
                                  : info.param == "auto" ? std::string("Auto")
                                                         : std::string("Pinned20260728");
                         });

// The official Tasks package on the v2 client pinned to 2026-07-28
// (client_tasks.mjs): a wait becomes a task, another tool is answered while
// it waits, it settles to the app's answer, and a second one ends when the
// package cancels it.
TEST(McpInterop, OfficialTasksPackage) {
  std::string node = find_node();
  struct stat st {};
  if (node.empty() || ::stat(INTEROP_DIR "/node_modules/@modelcontextprotocol/client", &st) != 0 ||
      ::stat(INTEROP_DIR "/node_modules/@modelcontextprotocol/ext-tasks", &st) != 0) {
    GTEST_SKIP() << "needs node and `npm ci --prefix cli/tests/interop`";
  }
  TempHome home;
  std::string note = home.write_file("plan.md", "# Plan\nold\n");
  FakeApp app(home.path());
  // A granted session, so that a task's wait runs on a connection of its own
  // beside the session's. The client probes with server/discover on a
  // process of its own before it starts the one it keeps: each attaches once.
  for (int i = 0; i < 2; ++i) app.reply("attach_session", {R"({"id":1,"ok":true,"data":{"session":42}})"});
  app.reply("get_context", {R"({"id":1,"ok":true,"data":{"active":"plan"}})"});
  app.reply("read_section", {R"({"id":1,"ok":true,"data":{"content":"old\n","baseHash":"h1"}})"});
  app.on("wait_for_change", Action{.lines = {R"({"id":1,"ok":true,"data":{"changed":true,"exists":true}})"},
                                    .hold = true});
  // Never answered: only the cancel ends the second wait.
  app.on("wait_for_change", Action{});
  auto waits = [&] {
    std::size_t n = 0;
    for (const auto& line : app.received()) n += line.find(R"("cmd":"wait_for_change")") != std::string::npos;
    return n;
  };

  Child client(RunOptions{.args = {INTEROP_DIR "/client_tasks.mjs", ELMPAD_BIN, note}, .home = home.path(),
                          .program = node});
  EXPECT_EQ(client.read_line(), R"(era "2026-07-28")");
  // Discovery names the extension, so the package takes the server for a
  // 2026-07-28 Tasks server (and needs the script's raw request path).
  EXPECT_EQ(client.read_line(), "extension {}");
  EXPECT_EQ(client.read_line(), R"(session {"inventory":"known-handles","execution":true,"cancellation":true,)"
                                R"("inputResponses":true,"requestedRetention":false})");
  EXPECT_EQ(client.read_line(), R"(task ["task","tools/call",true])");
  // Through tasks/get; the script blanks the seconds waited so far.
  EXPECT_EQ(client.read_line(), R"(snapshot {"status":"working","statusMessage":"waiting for a change: N of 120 s",)"
                                R"("retentionMs":3600000,"suggestedPollIntervalMs":1000})");
  // Answered while the wait holds: through the package, then the client.
  EXPECT_EQ(client.read_line(),
            std::string(R"(context ["immediate","completed",{"text":"{\"active\":\"plan\",\"version\":\")") + kVersion +
                R"(\"}","isError":false}])");
  EXPECT_EQ(client.read_line(), R"(read {"text":"{\"baseHash\":\"h1\",\"content\":\"old\\n\"}","isError":false})");
  EXPECT_EQ(client.read_line(), "waiting true");
  ASSERT_TRUE(eventually([&] { return waits() == 1; }));
  // The user saves: the app answers the wait, and the client settles the task.
  app.release();
  client.write("go\n");
  EXPECT_EQ(client.read_line(),
            R"(settled ["completed",{"text":"{\"changed\":true,\"exists\":true}","isError":false,)"
            R"("structuredContent":{"changed":true,"exists":true}},)"
            R"({"status":"completed","retentionMs":3600000,"suggestedPollIntervalMs":1000}])");
  EXPECT_EQ(client.read_line(), R"(second ["task",true])");
  EXPECT_EQ(client.read_line(), "waiting true");
  ASSERT_TRUE(eventually([&] { return waits() == 2; }));
  // The session's connection and the second wait's.
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 2; })) << app.connections_open();
  client.write("go\n");
  EXPECT_EQ(client.read_line(), R"(cancel "acknowledged")");
  EXPECT_EQ(client.read_line(), R"(ended "cancelled")");
  // The server's own account, read back through tasks/get.
  EXPECT_EQ(client.read_line(),
            R"(after {"status":"cancelled","retentionMs":3600000,"suggestedPollIntervalMs":1000})");
  EXPECT_EQ(client.read_line(), "idle true");
  // The cancelled wait's connection is closed; the session's stays.
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 1; })) << app.connections_open();
  client.write("done\n");
  EXPECT_EQ(client.wait(), 0);
  EXPECT_EQ(client.err(), "");
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 0; }));

  // Every tool request named the session; the waits and the calls made
  // meanwhile go over separate connections, so only their set is certain.
  std::vector<std::string> tool_requests;
  for (const auto& line : app.received()) {
    if (line.find(R"("cmd":"attach_session")") == std::string::npos) tool_requests.push_back(line);
  }
  std::ranges::sort(tool_requests);
  const std::string json_note = compact(json(note));
  EXPECT_EQ(tool_requests,
            (std::vector<std::string>{
                R"({"id":1,"proto":1,"session":42,"cmd":"get_context"})" "\n",
                R"({"id":1,"proto":1,"session":42,"cmd":"read_section","path":)" + json_note +
                    R"(,"heading":"Plan"})" "\n",
                R"({"id":1,"proto":1,"session":42,"cmd":"wait_for_change","path":)" + json_note +
                    R"(,"timeout_secs":600})" "\n",
                R"({"id":1,"proto":1,"session":42,"cmd":"wait_for_change","path":)" + json_note + "}\n"}));
}

}  // namespace
}  // namespace elmpad::testing
