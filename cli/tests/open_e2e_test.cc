// Opening files and folders, and --wait, as a user or another program runs
// them, against the fake application.
#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

#include "descendants.h"
#include "fake_app.h"
#include "inherited_fds.h"
#include "requests.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

using namespace std::chrono_literals;

const std::string kOk = R"({"id":{id},"ok":true})";
const std::string kNotice = "elmpad: launching Elmwrite\u2026\n";

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adopt_orphans();
    keep_descriptors_from_children();
    home_.write_file("w/a.md", "# A\n");
    home_.write_file("w/b.md", "# B\n");
    home_.write_file("w/c.md", "# C\n");
    home_.make_dir("w/sub");
  }

  RunResult run(std::vector<std::string> args, std::map<std::string, std::optional<std::string>> env = {}) {
    return run_elmpad({.args = std::move(args), .home = home_.path(), .env = std::move(env), .cwd = work_});
  }
  /// Once every `open` the tool started has finished: what they were asked.
  std::string open_log() {
    EXPECT_TRUE(reap_all_children());
    return home_.read_file("open.log");
  }
  void clear_logs() {
    EXPECT_TRUE(reap_all_children());
    for (const char* log : {"open.log", "ps.log", "open.fds"}) ::unlink((home_.path() + "/" + log).c_str());
  }

  TempHome home_;
  const std::string work_ = home_.path() + "/w";
};

TEST_F(OpenTest, OneFileThenActivation) {
  FakeApp app(home_.path());
  auto r = run({"a.md"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(app.received(), std::vector<std::string>{open_request(1, work_ + "/a.md", false)});
  EXPECT_EQ(open_log(), "-a Elmwrite\n");
  // `open` ran while the connection was still open, and saw none of it.
  const std::string fds = home_.read_file("open.fds");
  EXPECT_NE(fds, "");
  EXPECT_EQ(fds.find("socket:"), std::string::npos) << fds;
}

TEST_F(OpenTest, FilesInArgumentOrderAsTyped) {
  FakeApp app(home_.path());
  auto r = run({"--json", "./a.md", "../w/b.md", "sub//c.md", "/abs/x.md", "new.md", "open"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> paths = {work_ + "/./a.md", work_ + "/../w/b.md", work_ + "/sub//c.md",
                                          "/abs/x.md", work_ + "/new.md", work_ + "/open"};
  std::vector<std::string> expected;
  std::string listed;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    expected.push_back(open_request(static_cast<int>(i + 1), paths[i], false));
    listed += i ? "," : "";
    listed += quoted(paths[i]);
  }
  EXPECT_EQ(app.received(), expected);
  EXPECT_EQ(r.out, success_line("{\"opened\":[" + listed + "]}"));
  EXPECT_EQ(open_log(), "-a Elmwrite\n");  // once, after the last answer
}

// Subcommand words count only in first place; later they are file names.
TEST_F(OpenTest, SubcommandWordsLaterAreFiles) {
  FakeApp app(home_.path());
  for (const std::string word : {"status", "reveal", "mcp"}) {
    auto r = run({"--json", word});
    EXPECT_EQ(r.status, 0) << word;
    EXPECT_EQ(r.out, success_line("{\"opened\":[" + quoted(work_ + "/" + word) + "]}"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(app.received().back(), open_request(1, work_ + "/" + word, false));
  }
}

TEST_F(OpenTest, SourceGoesWithEveryFileButNotWithAFolder) {
  FakeApp app(home_.path());
  EXPECT_EQ(run({"--source", "cli", "a.md", "--source", "tool", "b.md"}).status, 0);
  EXPECT_EQ(run({"--source", "cli", "sub"}).status, 0);
  EXPECT_EQ(app.received(), (std::vector<std::string>{open_request(1, work_ + "/a.md", false, "tool"),
                                                      open_request(2, work_ + "/b.md", false, "tool"),
                                                      folder_request(work_ + "/sub")}));
  EXPECT_EQ(home_.read_file("ps.log"), "");
}

TEST_F(OpenTest, Folders) {
  FakeApp app(home_.path());
  const std::pair<std::string, std::string> cases[] = {
      {".", work_ + "/."},
      {"", work_ + "/"},
      {"sub", work_ + "/sub"},
      {"sub/", work_ + "/sub/"},
      {"./sub/..", work_ + "/./sub/.."},
      {home_.path(), home_.path()},
  };
  for (const auto& [arg, path] : cases) {
    clear_logs();
    auto r = run({arg});
    EXPECT_EQ(r.status, 0) << arg;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(app.received().back(), folder_request(path));
    EXPECT_EQ(open_log(), "-a Elmwrite\n");
  }
  auto j = run({"open", "--json", "sub"});
  EXPECT_EQ(j.status, 0);
  EXPECT_EQ(j.out, success_line("{\"folder\":" + quoted(work_ + "/sub") + "}"));
  EXPECT_EQ(j.err, "");
  EXPECT_EQ(app.received().size(), std::size(cases) + 1);
}

TEST_F(OpenTest, FolderRulesRefuseBeforeConnecting) {
  FakeApp app(home_.path());
  home_.write_file("w/pic.PNG", "");
  const std::string alongside = "elmpad: a folder must be opened on its own, not alongside files\n";
  const std::string wait_folder = "elmpad: --wait does not apply to a folder\n";
  const std::string wait_image = "elmpad: --wait does not apply to an image (it opens read-only in the viewer)\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"a.md", "sub"}, alongside},
      {{"sub", "a.md"}, alongside},
      {{"a.md", "newdir/"}, alongside},
      {{"--json", "sub", "gone.md"}, alongside},
      {{"--wait", "sub"}, wait_folder},
      {{"--wait", "newdir/"}, wait_folder},
      {{"--json", "--wait", "."}, wait_folder},
      {{"--wait", "pic.PNG"}, wait_image},
      {{"--wait", "--json", "img/photo.jpeg"}, wait_image},
      {{"--wait", "--source", "x", "diagram.Svg"}, wait_image},
  };
  for (const auto& [args, message] : cases) {
    auto r = run(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, message);
  }
  EXPECT_EQ(app.connections_accepted(), 0u);
  EXPECT_EQ(open_log(), "");
  EXPECT_EQ(home_.read_file("ps.log"), "");
}

TEST_F(OpenTest, MissingFolderTypedWithASlash) {
  FakeApp app(home_.path());
  for (const std::string arg : {"newdir/", "a.md/", "new/dir/"}) {
    auto r = run({arg});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "elmpad: directory not found: " + arg + "\n");
    auto j = run({"--json", arg});
    EXPECT_EQ(j.status, 1);
    EXPECT_EQ(j.out, failure_line("DIR_NOT_FOUND", "directory not found: " + arg));
    EXPECT_EQ(j.err, "");
  }
  EXPECT_EQ(app.connections_accepted(), 0u);
}

TEST_F(OpenTest, WaitEndsWithTheOutcome) {
  struct Case {
    std::vector<std::string> answer;
    bool json;
    int status;
    std::string out;
  };
  const std::string done = R"({"id":1,"event":"closed","outcome":"done"})";
  const std::string discarded = R"({"id":1,"event":"closed","outcome":"discarded"})";
  const Case cases[] = {
      {{kOk, done}, false, 0, ""},
      {{kOk, done}, true, 0, success_line(R"({"outcome":"done"})")},
      {{kOk, discarded}, false, 3, ""},
      {{kOk, discarded}, true, 3, success_line(R"({"outcome":"discarded"})")},
      // Other events and answers are skipped; an event without outcome is done.
      {{R"({"id":1,"event":"opened"})", kOk, R"({"id":2,"event":"closed","outcome":"discarded"})",
        R"({"id":7,"ok":false})", R"({"id":1,"event":"closed"})"},
       true, 0, success_line(R"({"outcome":"done"})")},
  };
  FakeApp app(home_.path());
  for (const auto& c : cases) {
    clear_logs();
    app.reply("open", c.answer);
    std::vector<std::string> args = {"--wait", "a.md"};
    if (c.json) args.push_back("--json");
    auto r = run(args, {{"FAKE_PS_OUTPUT", "/usr/lib/git-core/git"}});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(app.received().back(), open_request(1, work_ + "/a.md", true, "git"));
    // The parent process is this test.
    EXPECT_EQ(home_.read_file("ps.log"), "-o comm= -p " + std::to_string(::getpid()) + "\n");
    EXPECT_EQ(home_.read_file("ps.fds").find("socket:"), std::string::npos);
    EXPECT_EQ(open_log(), "-a Elmwrite\n");
  }
}

TEST_F(OpenTest, WaitLabels) {
  FakeApp app(home_.path());
  const std::string done = R"({"id":1,"event":"closed","outcome":"done"})";
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> ps_output;  // nullopt: ps cannot be started
    std::optional<std::string> label;
    bool ps_runs;
    bool wait = true;
  };
  const Case cases[] = {
      {{"--wait", "--source", "vim", "a.md"}, "/usr/bin/git", "vim", false},
      // "--source --wait" takes "--wait" as the label and does not wait.
      {{"--source", "--wait", "a.md"}, "/usr/bin/git", "--wait", false, false},
      {{"--wait", "a.md"}, "  nvim \n", "nvim", true},
      {{"--wait", "a.md"}, "", std::nullopt, true},
      {{"--wait", "a.md"}, "/", "/", true},
      {{"--wait", "a.md"}, std::nullopt, std::nullopt, false},
  };
  for (const auto& c : cases) {
    clear_logs();
    const bool wait = c.wait;
    app.reply("open", wait ? std::vector<std::string>{kOk, done} : std::vector<std::string>{kOk});
    std::map<std::string, std::optional<std::string>> env;
    if (c.ps_output) env["FAKE_PS_OUTPUT"] = *c.ps_output;
    else env["PATH"] = home_.make_dir("only_open") + ":/nonexistent";
    if (!c.ps_output) ::symlink((std::string(FAKE_BIN_DIR) + "/open").c_str(), (home_.path() + "/only_open/open").c_str());
    auto r = run(c.args, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(app.received().back(), open_request(1, work_ + "/a.md", wait, c.label));
    EXPECT_EQ(home_.read_file("ps.log").empty(), !c.ps_runs);
  }
}

TEST_F(OpenTest, AppClosingBeforeTheEvent) {
  FakeApp app(home_.path());
  app.on("open", Action{.lines = {kOk}, .hang_up = true});
  auto r = run({"--wait", "a.md"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "elmpad: connection closed by app\n");
  EXPECT_EQ(open_log(), "-a Elmwrite\n");  // the file did open
  app.on("open", Action{.lines = {kOk}, .hang_up = true});
  auto j = run({"--wait", "--json", "a.md"});
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, failure_line("CHANNEL_CLOSED", "connection closed by app"));
  EXPECT_EQ(j.err, "");
}

// Activation comes after the last answer and before the wait for the event:
// here the event never comes until the app goes away.
TEST_F(OpenTest, ActivationPrecedesTheWaitForTheEvent) {
  auto app = std::make_unique<FakeApp>(home_.path());
  app->reply("open", {kOk});
  Child child({.args = {"--wait", "--source", "t", "a.md"}, .home = home_.path(), .cwd = work_});
  bool activated = false;
  for (int i = 0; i < 6000 && !activated; ++i) {
    activated = home_.read_file("open.log") == "-a Elmwrite\n";
    if (!activated) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(activated);
  EXPECT_EQ(app->connections_open(), 1u);  // still waiting
  app.reset();
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(child.err(), "elmpad: connection closed by app\n");
}

TEST_F(OpenTest, RefusedFileStopsTheRest) {
  FakeApp app(home_.path());
  struct Case {
    std::string refusal;
    std::string message;
  };
  const Case cases[] = {
      {R"({"id":2,"ok":false,"error":{"code":"NOPE","params":{"b":"2","a":"1"}}})",
       R"({"code":"NOPE","params":{"a":"1","b":"2"}})"},
      {R"({"id":2,"ok":false,"error":{"code":"READ_ONLY"},"data":{"x":1}})", R"({"code":"READ_ONLY","params":{}})"},
      {R"({"id":2,"ok":false})", "open failed"},
  };
  for (bool json : {false, true}) {
    for (const auto& c : cases) {
      clear_logs();
      const auto before = app.received().size();
      app.reply("open", {kOk});
      app.reply("open", {c.refusal});
      std::vector<std::string> args = {"a.md", "b.md", "c.md"};
      if (json) args.push_back("--json");
      auto r = run(args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, json ? failure_line("OPEN_FAILED", c.message) : "");
      EXPECT_EQ(r.err, json ? "" : "elmpad: " + c.message + "\n");
      ASSERT_TRUE(app.wait_until_idle());
      auto received = app.received();
      ASSERT_EQ(received.size(), before + 2);  // c.md never sent
      EXPECT_EQ(received[before + 1], open_request(2, work_ + "/b.md", false));
      EXPECT_EQ(open_log(), "");  // no activation after a refusal
    }
  }
}

TEST_F(OpenTest, RefusedFolder) {
  FakeApp app(home_.path());
  app.reply("open_folder", {R"({"id":1,"ok":false,"error":{"code":"NO_WINDOW","params":{"why":"\u00e9"}}})"});
  auto r = run({"sub"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "elmpad: {\"code\":\"NO_WINDOW\",\"params\":{\"why\":\"\u00e9\"}}\n");
  EXPECT_EQ(open_log(), "-a Elmwrite\n");  // activated before the answer came
  app.reply("open_folder", {R"({"id":1,"ok":false,"error":null})"});
  auto j = run({"--json", "."});
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, failure_line("OPEN_FOLDER_FAILED", "open folder failed"));
  EXPECT_EQ(j.err, "");
}

// A folder's window is on its way once the request is sent: activation does
// not wait for the answer.
TEST_F(OpenTest, FolderActivationPrecedesTheAnswer) {
  FakeApp app(home_.path());
  app.on("open_folder", Action{.lines = {kOk}, .hold = true});
  Child child({.args = {"sub"}, .home = home_.path(), .cwd = work_});
  bool activated = false;
  for (int i = 0; i < 6000 && !activated; ++i) {
    activated = home_.read_file("open.log") == "-a Elmwrite\n";
    if (!activated) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(activated);
  app.release();
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(child.err(), "");
}

TEST_F(OpenTest, BrokenAnswers) {
  struct Case {
    Action action;
    std::string code, message;
  };
  const Case cases[] = {
      {Action{.hang_up = true}, "CHANNEL_CLOSED", "connection closed by app"},
      {Action{.lines = {"{\"id\":1,\"ok\":\xff}"}}, "SOCKET_ERROR", "stream did not contain valid UTF-8"},
      {Action{.lines = {R"({"id":1})"}}, "PROTO_ERROR", "data did not match any variant of untagged enum ServerMsg"},
  };
  FakeApp app(home_.path());
  for (const auto& c : cases) {
    for (const std::string arg : {"a.md", "sub"}) {
      app.on(arg == "sub" ? "open_folder" : "open", c.action);
      auto r = run({arg});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "elmpad: " + c.message + "\n");
      app.on(arg == "sub" ? "open_folder" : "open", c.action);
      auto j = run({arg, "--json"});
      EXPECT_EQ(j.status, 1);
      EXPECT_EQ(j.out, failure_line(c.code, c.message));
      EXPECT_EQ(j.err, "");
    }
  }
}

// The app hangs up right after its first answer: the second request goes to
// a closed connection. Whether the write itself fails or the write lands
// just before the close (and the read then fails) is up to the scheduler;
// either way it is a socket failure and the third file never goes out.
TEST_F(OpenTest, AppGoneBeforeTheNextRequest) {
  FakeApp app(home_.path());
  app.on("open", Action{.lines = {kOk}, .hang_up = true});
  auto r = run({"--json", "a.md", "b.md", "c.md"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  const std::string broken_pipe = failure_line("SOCKET_ERROR", "Broken pipe (os error 32)");
  const std::string reset = failure_line("SOCKET_ERROR", "Connection reset by peer (os error 104)");
  EXPECT_TRUE(r.out == broken_pipe || r.out == reset) << r.out;
  ASSERT_TRUE(app.wait_until_idle());
  EXPECT_EQ(app.received(), std::vector<std::string>{open_request(1, work_ + "/a.md", false)});
  EXPECT_EQ(open_log(), "");
}

// A connection whose duplicate for reading cannot be made: with room for one
// descriptor beyond the standard streams, the socket takes it.
TEST_F(OpenTest, NoDescriptorLeftForTheReader) {
  FakeApp app(home_.path());
  for (const std::string arg : {"a.md", "sub"}) {
    auto r = run_elmpad({.args = {"-c", "ulimit -n 4 && exec \"$0\" \"$@\"", ELMPAD_BIN, arg},
                         .home = home_.path(),
                         .cwd = work_,
                         .program = "/bin/sh"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "elmpad: Too many open files (os error 24)\n");
  }
  EXPECT_EQ(app.received(), std::vector<std::string>{});
}

// Started with a standard stream closed, the tool must not let the app's
// socket take its place: what it reports would otherwise go to the app.
TEST_F(OpenTest, ClosedStandardStreamsAreNotTakenByTheConnection) {
  FakeApp app(home_.path());
  const std::string refusal = R"({"id":1,"ok":false,"error":{"code":"NOPE"}})";
  struct Case {
    std::string redirect;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"2>&-", {"a.md"}},
      {">&-", {"--json", "a.md"}},
      {"<&- >&- 2>&-", {"--json", "a.md"}},
  };
  for (const auto& c : cases) {
    const auto before = app.received().size();
    app.reply("open", {refusal});
    std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" " + c.redirect, ELMPAD_BIN};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = run_elmpad({.args = args, .home = home_.path(), .cwd = work_, .program = "/bin/sh"});
    EXPECT_EQ(r.status, 1) << c.redirect;
    EXPECT_EQ(r.out, "") << c.redirect;
    EXPECT_EQ(r.err, "") << c.redirect;
    ASSERT_TRUE(app.wait_until_idle());
    EXPECT_EQ(app.received().size(), before + 1) << c.redirect;
    EXPECT_EQ(app.received().back(), open_request(1, work_ + "/a.md", false)) << c.redirect;
  }
}

TEST_F(OpenTest, NoCurrentDirectory) {
  FakeApp app(home_.path());
  const std::string gone = home_.make_dir("gone");
  for (bool json : {false, true}) {
    home_.make_dir("gone");
    std::vector<std::string> args = {"-c", "cd \"$1\" && rmdir \"$1\" && shift && exec \"$0\" \"$@\"", ELMPAD_BIN,
                                     gone, "a.md"};
    if (json) args.push_back("--json");
    auto r = run_elmpad({.args = args, .home = home_.path(), .program = "/bin/sh"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, json ? failure_line("NO_CWD", "No such file or directory (os error 2)") : "");
    EXPECT_EQ(r.err, json ? "" : "elmpad: No such file or directory (os error 2)\n");
  }
  EXPECT_EQ(app.connections_accepted(), 0u);
}

TEST_F(OpenTest, NoHome) {
  for (const std::string arg : {"a.md", "sub"}) {
    auto r = run_elmpad({.args = {arg}, .home = std::nullopt, .cwd = work_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "elmpad: HOME is not set\n");
  }
}

}  // namespace
}  // namespace elmpad::testing
