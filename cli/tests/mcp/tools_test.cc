// Every tool end to end: the exact request each sends, and the reply for
// each kind of answer, for an absent app and for a launch.
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "fake_app.h"
#include "mcp_client.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

std::string as_json(const std::string& text) { return compact(json(text)); }

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct ToolCase {
  std::string tool;
  json arguments;
  std::vector<std::string> app_answer;  // empty: the fake's plain {"id":1,"ok":true}
  std::string request;                  // after {"id":1,"proto":1,"session":42,
  std::string reply;
};

class McpTools : public ::testing::Test {
 protected:
  McpTools()
      : file_(home_.write_file("notes.md", "# a\n")),
        dir_(home_.make_dir("folder")),
        missing_(home_.path() + "/missing.md") {}

  std::unique_ptr<McpClient> start(std::map<std::string, std::optional<std::string>> env = {}) {
    return std::make_unique<McpClient>(RunOptions{.home = home_.path(), .env = std::move(env), .cwd = home_.path()});
  }

  TempHome home_;
  std::string file_, dir_, missing_;
};

TEST_F(McpTools, EveryToolWithTheAppRunning) {
  FakeApp app(home_.path());
  app.reply("attach_session", {R"({"id":1,"ok":true,"data":{"session":42}})"});
  auto client = start();
  ASSERT_TRUE(wait_for_cmd(app, "attach_session"));
  const std::string F = as_json(file_), D = as_json(dir_), M = as_json(missing_);
  const std::string refused = R"({"id":1,"ok":false})";
  const ToolCase cases[] = {
      // open_file
      {"open_file", {{"path", file_}}, {}, R"("cmd":"open","path":)" + F + R"(,"wait":false})",
       ok_reply(R"({"ok":true,"opened":)" + F + "}")},
      {"open_file", {{"path", "missing.md"}}, {}, R"("cmd":"open","path":)" + M + R"(,"wait":false})",
       ok_reply(R"({"ok":true,"opened":)" + M + "}")},
      {"open_file", {{"path", "folder/../notes.md"}, {"heading", "x"}},
       {R"({"id":1,"event":"closed"})", R"({"id":2,"ok":false})", R"({"id":1,"ok":true,"data":{"x":1}})"},
       R"("cmd":"open","path":)" + as_json(home_.path() + "/folder/../notes.md") + R"(,"wait":false})",
       ok_reply(R"({"ok":true,"opened":)" + as_json(home_.path() + "/folder/../notes.md") + "}")},
      {"open_file", {{"path", file_}}, {refused}, R"("cmd":"open","path":)" + F + R"(,"wait":false})",
       err_reply("OPEN_FAILED", "request failed")},
      {"open_file", {{"path", file_}},
       {R"({"id":1,"ok":false,"error":{"code":"NOT_FOUND","params":{"path":"x","a":"—"}},"data":{"a":1}})"},
       R"("cmd":"open","path":)" + F + R"(,"wait":false})",
       err_reply("NOT_FOUND", R"({"code":"NOT_FOUND","params":{"a":"—","path":"x"}})")},
      // reveal
      {"reveal", {{"path", file_}, {"heading", "Intro::Sub"}}, {},
       R"("cmd":"reveal","path":)" + F + R"(,"heading":"Intro::Sub"})",
       ok_reply(R"({"heading":"Intro::Sub","ok":true,"revealed":)" + F + "}")},
      {"reveal", {{"path", file_}}, {}, R"("cmd":"reveal","path":)" + F + "}",
       ok_reply(R"({"heading":null,"ok":true,"revealed":)" + F + "}")},
      {"reveal", {{"path", file_}, {"heading", ""}}, {}, R"("cmd":"reveal","path":)" + F + R"(,"heading":""})",
       ok_reply(R"({"heading":"","ok":true,"revealed":)" + F + "}")},
      {"reveal", {{"path", file_}, {"heading", 5}}, {}, R"("cmd":"reveal","path":)" + F + "}",
       ok_reply(R"({"heading":null,"ok":true,"revealed":)" + F + "}")},
      {"reveal", {{"path", file_}, {"heading", "Nope"}}, {R"({"id":1,"ok":false,"error":{"code":"HEADING_NOT_FOUND"}})"},
       R"("cmd":"reveal","path":)" + F + R"(,"heading":"Nope"})",
       err_reply("HEADING_NOT_FOUND", R"({"code":"HEADING_NOT_FOUND","params":{}})")},
      {"reveal", {{"path", file_}}, {refused}, R"("cmd":"reveal","path":)" + F + "}",
       err_reply("REVEAL_FAILED", "request failed")},
      // open_folder
      {"open_folder", {{"path", dir_}}, {}, R"("cmd":"open_folder","path":)" + D + "}",
       ok_reply(R"({"folder":)" + D + R"(,"ok":true})")},
      {"open_folder", {{"path", "folder"}}, {refused}, R"("cmd":"open_folder","path":)" + D + "}",
       err_reply("OPEN_FOLDER_FAILED", "request failed")},
      // get_context
      {"get_context", json::object(),
       {R"({"id":1,"ok":true,"data":{"version":"1.2","tabs":["a — b"],"active":"a","visibleHeading":"会议"}})"},
       R"("cmd":"get_context"})",
       ok_reply(R"({"active":"a","tabs":["a — b"],"version":"0.15.6","visibleHeading":"会议"})")},
      {"get_context", json::object(), {}, R"("cmd":"get_context"})", ok_reply(R"({"running":true,"version":"0.15.6"})")},
      {"get_context", json::object(), {R"({"id":1,"ok":true,"data":[1,"x"]})"}, R"("cmd":"get_context"})",
       ok_reply(R"([1,"x"])")},
      {"get_context", json::object(), {R"({"id":1,"ok":true,"data":{"degraded":true}})"}, R"("cmd":"get_context"})",
       ok_reply(R"({"degraded":true,"version":"0.15.6"})")},
      {"get_context", json::object(), {refused}, R"("cmd":"get_context"})", err_reply("CONTEXT_FAILED", "request failed")},
      // execute_command
      {"execute_command", {{"id", "file.openTodayNote"}}, {R"({"id":1,"ok":true,"data":{"z":0,"opened":"t.md"}})"},
       R"("cmd":"execute_command","command":"file.openTodayNote"})", ok_reply(R"({"opened":"t.md","z":0})")},
      {"execute_command", {{"id", "x"}}, {}, R"("cmd":"execute_command","command":"x"})", ok_reply(R"({"ran":true})")},
      {"execute_command", {{"id", "x"}}, {R"({"id":1,"ok":false,"error":{"code":"NO_WINDOW"}})"},
       R"("cmd":"execute_command","command":"x"})", err_reply("NO_WINDOW", R"({"code":"NO_WINDOW","params":{}})")},
      {"execute_command", {{"id", "x"}}, {refused}, R"("cmd":"execute_command","command":"x"})",
       err_reply("EXECUTE_FAILED", "request failed")},
      // read_section
      {"read_section", {{"path", file_}, {"heading", "会议记录::行动项"}},
       {R"({"id":1,"ok":true,"data":{"lines":[3,9],"baseHash":"h1","content":"c"}})"},
       R"("cmd":"read_section","path":)" + F + R"(,"heading":"会议记录::行动项"})",
       ok_reply(R"({"baseHash":"h1","content":"c","lines":[3,9]})")},
      {"read_section", {{"path", "notes.md"}, {"heading", 7}}, {}, R"("cmd":"read_section","path":)" + F + "}",
       ok_reply(R"({"ok":true})")},
      {"read_section", {{"path", file_}, {"heading", ""}}, {}, R"("cmd":"read_section","path":)" + F + R"(,"heading":""})",
       ok_reply(R"({"ok":true})")},
      {"read_section", {{"path", missing_}}, {R"({"id":1,"ok":false,"error":{"code":"NOT_FOUND","params":{}}})"},
       R"("cmd":"read_section","path":)" + M + "}", err_reply("NOT_FOUND", R"({"code":"NOT_FOUND","params":{}})")},
      {"read_section", {{"path", file_}}, {refused}, R"("cmd":"read_section","path":)" + F + "}",
       err_reply("READ_FAILED", "request failed")},
      // write_section
      {"write_section",
       {{"path", file_}, {"heading", "H"}, {"operation", "replace"}, {"content", "new — text\n"}, {"baseHash", "abc"}},
       {R"({"id":1,"ok":true,"data":{"baseHash":"def"}})"},
       R"("cmd":"write_section","path":)" + F +
           R"(,"heading":"H","operation":"replace","content":"new — text\n","base_hash":"abc"})",
       ok_reply(R"({"baseHash":"def"})")},
      {"write_section", {{"path", file_}, {"operation", "replace"}, {"content", "x"}},
       {R"({"id":1,"ok":false,"error":{"code":"CONFLICT","params":{"content":"cur","baseHash":"n"}},"data":{"x":1}})"},
       R"("cmd":"write_section","path":)" + F + R"(,"operation":"replace","content":"x"})",
       err_reply("CONFLICT", R"({"code":"CONFLICT","params":{"baseHash":"n","content":"cur"}})")},
      {"write_section", {{"path", file_}, {"heading", ""}, {"operation", "bogus"}, {"content", ""}, {"baseHash", ""}}, {},
       R"("cmd":"write_section","path":)" + F + R"(,"heading":"","operation":"bogus","content":"","base_hash":""})",
       ok_reply(R"({"ok":true})")},
      {"write_section", {{"path", file_}, {"operation", "append"}, {"content", "x"}, {"baseHash", 3}}, {refused},
       R"("cmd":"write_section","path":)" + F + R"(,"operation":"append","content":"x"})",
       err_reply("WRITE_FAILED", "request failed")},
      // wait_for_change
      {"wait_for_change", {{"path", file_}}, {R"({"id":1,"ok":true,"data":{"exists":false,"changed":true}})"},
       R"("cmd":"wait_for_change","path":)" + F + "}", ok_reply(R"({"changed":true,"exists":false})")},
      {"wait_for_change", {{"path", ""}, {"workspace", "folder"}, {"name", "codex"}, {"timeout_seconds", 30}},
       {R"({"id":1,"ok":true,"data":{"source":"message","messages":[{"text":"hi","context":{"path":"a"}}]}})"},
       R"("cmd":"wait_for_change","workspace":)" + D + R"(,"name":"codex","timeout_secs":30})",
       ok_reply(R"({"messages":[{"context":{"path":"a"},"text":"hi"}],"source":"message"})")},
      {"wait_for_change", {{"path", missing_}, {"workspace", dir_}, {"name", ""}, {"timeout_seconds", -5}}, {},
       R"("cmd":"wait_for_change","path":)" + M + R"(,"workspace":)" + D + "}",
       ok_reply(R"({"changed":false,"timedOut":true})")},
      {"wait_for_change", {{"workspace", dir_}, {"timeout_seconds", 0}}, {},
       R"("cmd":"wait_for_change","workspace":)" + D + R"(,"timeout_secs":0})",
       ok_reply(R"({"changed":false,"timedOut":true})")},
      {"wait_for_change", {{"path", file_}, {"timeout_seconds", 2.5}}, {R"({"id":1,"ok":false,"error":{"code":"NOT_FOUND","params":{"path":"p"}}})"},
       R"("cmd":"wait_for_change","path":)" + F + "}", err_reply("NOT_FOUND", R"({"code":"NOT_FOUND","params":{"path":"p"}})")},
      {"wait_for_change", {{"path", file_}, {"timeout_seconds", "30"}}, {refused},
       R"("cmd":"wait_for_change","path":)" + F + "}", err_reply("WAIT_FAILED", "request failed")},
      // post_message
      {"post_message", {{"text", "done — the third item needs your call"}}, {},
       R"("cmd":"post_message","text":"done — the third item needs your call"})",
       ok_reply(R"({"delivered":true,"ok":true})")},
      {"post_message", {{"text", "hi"}}, {R"({"id":1,"ok":true,"data":{"shown":1}})"},
       R"("cmd":"post_message","text":"hi"})", ok_reply(R"({"shown":1})")},
      {"post_message", {{"text", "hi"}}, {R"({"id":1,"ok":false,"error":{"code":"NO_SIDEBAR"}})"},
       R"("cmd":"post_message","text":"hi"})", ok_reply(R"({"delivered":false,"ok":true})")},
      {"post_message", {{"text", "hi"}}, {refused}, R"("cmd":"post_message","text":"hi"})",
       ok_reply(R"({"delivered":false,"ok":true})")},
  };
  const std::map<std::string, std::string> socket_cmd = {
      {"open_file", "open"}, {"reveal", "reveal"}, {"open_folder", "open_folder"}, {"get_context", "get_context"},
      {"execute_command", "execute_command"}, {"read_section", "read_section"}, {"write_section", "write_section"},
      {"wait_for_change", "wait_for_change"}, {"post_message", "post_message"}};
  for (const auto& c : cases) {
    if (!c.app_answer.empty()) app.reply(socket_cmd.at(c.tool), c.app_answer);
    EXPECT_EQ(client->call(c.tool, c.arguments), c.reply) << c.tool << " " << c.arguments.dump();
    EXPECT_EQ(app.received().back(), R"({"id":1,"proto":1,"session":42,)" + c.request + "\n")
        << c.tool << " " << c.arguments.dump();
  }
  EXPECT_EQ(app.received().size(), std::size(cases) + 1);  // one attach only
  EXPECT_FALSE(exists(home_.path() + "/open.log"));         // never launched
  EXPECT_EQ(client->child().err(), "");
}

// Answers of several megabytes pass through exactly as the parsed data would
// print: keys sorted at every depth, escapes respelled, numbers as the
// library prints them, across every piece the reply is written in; and the
// next answer after a large one is not spoiled by it.
TEST_F(McpTools, LargeAnswersPassThroughExactly) {
  FakeApp app(home_.path());
  auto client = start();
  std::string content;
  for (int i = 0; content.size() < (1 << 20); ++i) {
    content += "## Überblick " + std::to_string(i) + R"( — \"Plan\" \\ C:\\x\t会议 \u00e9\ud83d\ude00 \/ \u001f\n)";
  }
  std::string data = R"({"start":1,"content":")" + content +
                     R"(","z":[1.50,-0,1E2,18446744073709551615],"baseHash":"9f","nested":{"b":{"y":1,"x":2},"a":null}})";
  app.reply("read_section", {R"({"ok":true,"data":)" + data + R"(,"id":1})"});
  app.reply("read_section", {R"({"id":1,"ok":true,"data":{"b":"small","a":"\""}})"});
  auto want = parse_json(data);
  ASSERT_TRUE(want) << want.error();
  EXPECT_EQ(client->call("read_section", {{"path", file_}}), ok_reply(compact(*want)));
  EXPECT_EQ(client->call("read_section", {{"path", file_}}), ok_reply(R"({"a":"\"","b":"small"})"));
}

TEST_F(McpTools, BrokenAnswersAreToolErrors) {
  FakeApp app(home_.path());
  auto client = start();
  app.hang_up_on("read_section");
  EXPECT_EQ(client->call("read_section", {{"path", file_}}), err_reply("CHANNEL_CLOSED", "connection closed by app"));
  app.reply("post_message", {"\xFF\xFE"});
  EXPECT_EQ(client->call("post_message", {{"text", "x"}}),
            err_reply("SOCKET_ERROR", "stream did not contain valid UTF-8"));
  app.hang_up_on("post_message");
  EXPECT_EQ(client->call("post_message", {{"text", "x"}}), err_reply("CHANNEL_CLOSED", "connection closed by app"));
  app.reply("get_context", {""});
  std::string reply = client->call("get_context", json::object());
  EXPECT_TRUE(reply.find(R"(\"code\":\"PROTO_ERROR\")") != std::string::npos) << reply;
  EXPECT_EQ(client->ask(R"({"id":2,"method":"ping"})"), R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

TEST_F(McpTools, WithTheAppAbsentNothingLaunchesAndLocalChecksComeFirst) {
  const std::string not_running_section =
      "Elmwrite is not running — the live buffer only exists app-side; edit the file with your own tools instead";
  const std::string not_running_wait =
      "Elmwrite is not running — wait_for_change needs the app's file watcher and sidebar; poll with your own tools instead";
  const std::tuple<std::string, json, std::string> cases[] = {
      {"get_context", json::object(), ok_reply(R"({"running":false,"version":"0.15.6"})")},
      {"execute_command", {{"id", "x"}}, err_reply("NOT_RUNNING", "Elmwrite is not running — execute_command needs a live window")},
      {"read_section", {{"path", file_}}, err_reply("NOT_RUNNING", not_running_section)},
      {"write_section", {{"path", missing_}, {"operation", "append"}, {"content", ""}}, err_reply("NOT_RUNNING", not_running_section)},
      {"wait_for_change", {{"path", missing_}, {"workspace", dir_}}, err_reply("NOT_RUNNING", not_running_wait)},
      {"post_message", {{"text", "hi"}}, ok_reply(R"({"delivered":false,"ok":true})")},
      // Checked before any connection, even one that could launch the app.
      {"open_file", {{"path", dir_}}, err_reply("PATH_IS_DIRECTORY", dir_)},
      {"reveal", {{"path", "folder"}, {"heading", "h"}}, err_reply("PATH_IS_DIRECTORY", dir_)},
      {"open_folder", {{"path", file_}}, err_reply("NOT_A_DIRECTORY", file_)},
      {"open_folder", {{"path", "missing.md"}}, err_reply("NOT_A_DIRECTORY", missing_)},
      {"read_section", {{"path", dir_}}, err_reply("PATH_IS_DIRECTORY", dir_)},
      {"write_section", {{"path", "folder/"}, {"operation", "x"}, {"content", "y"}}, err_reply("PATH_IS_DIRECTORY", dir_ + "/")},
      {"wait_for_change", {{"path", dir_}, {"workspace", file_}}, err_reply("PATH_IS_DIRECTORY", dir_)},
      {"wait_for_change", {{"workspace", file_}}, err_reply("NOT_A_DIRECTORY", file_)},
      {"wait_for_change", {{"path", file_}, {"workspace", "missing.md"}}, err_reply("NOT_A_DIRECTORY", missing_)},
  };
  for (bool stale : {false, true}) {
    if (stale) make_stale_socket(home_.socket_path());  // a socket file nobody serves
    auto client = start({{"FAKE_OPEN_MODE", "start"}});
    for (const auto& [tool, arguments, reply] : cases) {
      EXPECT_EQ(client->call(tool, arguments), reply) << tool << " " << arguments.dump();
    }
    client->child().close_stdin();
    EXPECT_EQ(client->child().wait(), 0);
    EXPECT_EQ(client->child().rest_of_out(), "");
    EXPECT_EQ(client->child().err(), "");
    EXPECT_FALSE(exists(home_.path() + "/open.log"));
  }
}

TEST_F(McpTools, OpeningToolsLaunchTheApp) {
  // The fake `open` also prints and reads a line: neither may touch the
  // protocol streams.
  auto client = start({{"FAKE_OPEN_MODE", "start"}, {"FAKE_OPEN_CHATTY", "1"}});
  const std::string log = home_.path() + "/fake_app.log";
  const std::tuple<std::string, json, std::string, std::string> cases[] = {
      {"open_file", {{"path", "notes.md"}}, R"({"id":1,"proto":1,"cmd":"open","path":)" + as_json(file_) + R"(,"wait":false})",
       ok_reply(R"({"ok":true,"opened":)" + as_json(file_) + "}")},
      {"reveal", {{"path", file_}, {"heading", "a"}}, R"({"id":1,"proto":1,"cmd":"reveal","path":)" + as_json(file_) + R"(,"heading":"a"})",
       ok_reply(R"({"heading":"a","ok":true,"revealed":)" + as_json(file_) + "}")},
      {"open_folder", {{"path", dir_}}, R"({"id":1,"proto":1,"cmd":"open_folder","path":)" + as_json(dir_) + "}",
       ok_reply(R"({"folder":)" + as_json(dir_) + R"(,"ok":true})")},
  };
  int launches = 0;
  for (const auto& [tool, arguments, request, reply] : cases) {
    EXPECT_EQ(client->call(tool, arguments), reply) << tool;
    ++launches;
    ASSERT_TRUE(eventually([&] { return read_file(log).find(request) != std::string::npos; })) << read_file(log);
    // Stop the launched app, so that the next tool launches it again.
    int pid = std::stoi(read_file(home_.path() + "/fake_app.pid"));
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(eventually([&] { return !exists(home_.socket_path()); }));
    ::unlink((home_.path() + "/fake_app.pid").c_str());
    ::unlink(log.c_str());
  }
  EXPECT_EQ(client->ask(R"({"id":2,"method":"ping"})"), R"({"id":2,"jsonrpc":"2.0","result":{}})");
  client->child().close_stdin();
  EXPECT_EQ(client->child().wait(), 0);
  EXPECT_EQ(client->child().rest_of_out(), "");
  std::string notices;
  for (int i = 0; i < launches; ++i) notices += "elmpad: launching Elmwrite…\nopen: chatter\n";
  EXPECT_EQ(client->child().err(), notices);
  EXPECT_EQ(read_file(home_.path() + "/open.log"), "-a Elmwrite\n-a Elmwrite\n-a Elmwrite\n");
}

TEST_F(McpTools, RelativePathsNeedAWorkingDirectory) {
  std::string gone = home_.make_dir("gone");
  McpClient client({.home = home_.path(), .env = {{"FAKE_OPEN_MODE", "start"}}, .cwd = gone});
  EXPECT_EQ(client.ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  ASSERT_EQ(::rmdir(gone.c_str()), 0);
  const std::string no_cwd = err_reply("NO_CWD", "No such file or directory (os error 2)");
  for (const auto& [tool, arguments] : std::vector<std::pair<std::string, json>>{
           {"open_file", {{"path", "a.md"}}},
           {"reveal", {{"path", "a.md"}}},
           {"open_folder", {{"path", "."}}},
           {"read_section", {{"path", "a.md"}}},
           {"write_section", {{"path", "a.md"}, {"operation", "append"}, {"content", "x"}}},
           {"wait_for_change", {{"path", "a.md"}}},
           {"wait_for_change", {{"path", file_}, {"workspace", "w"}}}}) {
    EXPECT_EQ(client.call(tool, arguments), no_cwd) << tool;
  }
  // Absolute paths need no working directory.
  EXPECT_EQ(client.call("read_section", {{"path", file_}}),
            err_reply("NOT_RUNNING", "Elmwrite is not running — the live buffer only exists app-side; edit the file with your own tools instead"));
  EXPECT_FALSE(exists(home_.path() + "/open.log"));
}

TEST_F(McpTools, AFailedLaunchIsAToolError) {
  auto client = start({{"FAKE_OPEN_MODE", "fail"}});
  EXPECT_EQ(client->call("open_file", {{"path", file_}}),
            err_reply("LAUNCH_FAILED", "`open -a Elmwrite` failed — is the app installed?"));
  client->child().close_stdin();
  EXPECT_EQ(client->child().wait(), 0);
  EXPECT_EQ(client->child().err(), "elmpad: launching Elmwrite…\n");
  EXPECT_EQ(client->child().rest_of_out(), "");
}

}  // namespace
}  // namespace elmpad::testing
