// `elmpad reveal` as a user runs it, against the fake application.
#include <gtest/gtest.h>

#include <thread>

#include "descendants.h"
#include "fake_app.h"
#include "inherited_fds.h"
#include "requests.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

using namespace std::chrono_literals;

class RevealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adopt_orphans();
    home_.write_file("w/a.md", "# A\n");
    home_.make_dir("w/sub");
  }
  RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), "reveal");
    return run_elmpad({.args = std::move(args), .home = home_.path(), .cwd = work_});
  }
  std::string open_log() {
    EXPECT_TRUE(reap_all_children());
    return home_.read_file("open.log");
  }
  void clear_logs() {
    EXPECT_TRUE(reap_all_children());
    ::unlink((home_.path() + "/open.log").c_str());
  }

  TempHome home_;
  const std::string work_ = home_.path() + "/w";
};

TEST_F(RevealTest, DirectoryIsRefusedAsTyped) {
  FakeApp app(home_.path());
  for (const std::string arg : {"sub", "./sub/", "", "..", "/"}) {
    for (bool json : {false, true}) {
      std::vector<std::string> args = {arg, "Heading"};
      if (json) args.insert(args.begin(), "--json");
      auto r = run(args);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "elmpad: '" + arg + "' is a directory\n");
    }
  }
  EXPECT_EQ(app.connections_accepted(), 0u);
}

TEST_F(RevealTest, SendsThePathAndTheHeadingAsGiven) {
  FakeApp app(home_.path());
  struct Case {
    std::vector<std::string> args;
    std::string request;
  };
  const Case cases[] = {
      {{"a.md", "Intro::Setup #2"}, reveal_request(work_ + "/a.md", "Intro::Setup #2")},
      {{"a.md"}, reveal_request(work_ + "/a.md")},
      {{"a.md", ""}, reveal_request(work_ + "/a.md", "")},
      {{"./gone.md", "Setup"}, reveal_request(work_ + "/./gone.md", "Setup")},  // a missing file is sent
      {{"/abs/../n.md", "a \\# b"}, reveal_request("/abs/../n.md", "a \\# b")},
  };
  for (const auto& c : cases) {
    clear_logs();
    auto r = run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(app.received().back(), c.request);
    EXPECT_EQ(open_log(), "-a Elmwrite\n");
  }
  auto j = run({"--json", "a.md", "H"});
  EXPECT_EQ(j.status, 0);
  EXPECT_EQ(j.out, success_line("{\"revealed\":" + quoted(work_ + "/a.md") + "}"));
  EXPECT_EQ(j.err, "");
}

TEST_F(RevealTest, Refusals) {
  FakeApp app(home_.path());
  const std::string not_found = R"({"id":1,"ok":false,"error":{"code":"HEADING_NOT_FOUND","params":{"heading":"x"}}})";
  struct Case {
    std::vector<std::string> args;
    std::string answer;
    std::string code, message;
  };
  const Case cases[] = {
      {{"a.md", "Setup"}, not_found, "HEADING_NOT_FOUND",
       "heading not found: 'Setup' (file opened, viewport unchanged)"},
      {{"a.md"}, R"({"id":1,"ok":false,"error":{"code":"HEADING_NOT_FOUND"}})", "HEADING_NOT_FOUND",
       "heading not found: '' (file opened, viewport unchanged)"},
      {{"a.md", "Set 'up'"}, not_found, "HEADING_NOT_FOUND",
       "heading not found: 'Set 'up'' (file opened, viewport unchanged)"},
      {{"a.md", "H"}, R"({"id":1,"ok":false,"error":{"code":"NO_WINDOW"}})", "REVEAL_FAILED",
       R"({"code":"NO_WINDOW","params":{}})"},
      {{"a.md", "H"}, R"({"id":1,"ok":false,"error":{"code":"heading_not_found","params":{"z":"1","a":"\""}}})",
       "REVEAL_FAILED", R"({"code":"heading_not_found","params":{"a":"\"","z":"1"}})"},
      {{"a.md", "H"}, R"({"id":1,"ok":false})", "REVEAL_FAILED", "reveal failed"},
  };
  for (const auto& c : cases) {
    for (bool json : {false, true}) {
      clear_logs();
      app.reply("reveal", {c.answer});
      std::vector<std::string> args = c.args;
      if (json) args.push_back("--json");
      auto r = run(args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, json ? failure_line(c.code, c.message) : "");
      EXPECT_EQ(r.err, json ? "" : "elmpad: " + c.message + "\n");
      EXPECT_EQ(open_log(), "-a Elmwrite\n");  // activated whatever the answer
    }
  }
}

TEST_F(RevealTest, BrokenAnswers) {
  FakeApp app(home_.path());
  app.hang_up_on("reveal");
  auto r = run({"a.md", "H"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "elmpad: connection closed by app\n");
  app.on("reveal", Action{.lines = {"\xc3"}});
  auto j = run({"--json", "a.md"});
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, failure_line("SOCKET_ERROR", "stream did not contain valid UTF-8"));
  EXPECT_EQ(j.err, "");
}

TEST_F(RevealTest, ActivationPrecedesTheAnswer) {
  FakeApp app(home_.path());
  app.on("reveal", Action{.lines = {R"({"id":1,"ok":true})"}, .hold = true});
  Child child({.args = {"reveal", "a.md", "H"}, .home = home_.path(), .cwd = work_});
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

TEST_F(RevealTest, NoCurrentDirectoryNoHomeNoDescriptor) {
  keep_descriptors_from_children();
  FakeApp app(home_.path());
  const std::string gone = home_.make_dir("gone");
  auto r = run_elmpad({.args = {"-c", "cd \"$1\" && rmdir \"$1\" && shift && exec \"$0\" \"$@\"", ELMPAD_BIN, gone,
                                "reveal", "a.md"},
                       .home = home_.path(),
                       .program = "/bin/sh"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "elmpad: No such file or directory (os error 2)\n");

  auto h = run_elmpad({.args = {"reveal", "--json", "a.md"}, .home = std::nullopt, .cwd = work_});
  EXPECT_EQ(h.status, 1);
  EXPECT_EQ(h.out, failure_line("NO_HOME", "HOME is not set"));
  EXPECT_EQ(h.err, "");

  auto d = run_elmpad({.args = {"-c", "ulimit -n 4 && exec \"$0\" \"$@\"", ELMPAD_BIN, "reveal", "a.md"},
                       .home = home_.path(),
                       .cwd = work_,
                       .program = "/bin/sh"});
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.err, "elmpad: Too many open files (os error 24)\n");
  EXPECT_EQ(app.received(), std::vector<std::string>{});
}

}  // namespace
}  // namespace elmpad::testing
