// The official MCP TypeScript SDK as the client (tests/interop): it spawns
// `elmpad mcp`, lists tools, reads and writes a section through the fake
// app, and aborts a wait. Skipped when Node.js or the SDK is not installed.
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

}  // namespace
}  // namespace elmpad::testing
