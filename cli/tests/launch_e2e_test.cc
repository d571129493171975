// Commands that find no application start it with `open -a Elmwrite` and
// wait for its socket; the fake `open` plays the system's.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "descendants.h"
#include "inherited_fds.h"
#include "requests.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

using namespace std::chrono_literals;

const std::string kNotice = "elmpad: launching Elmwrite\u2026\n";

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adopt_orphans();
    keep_descriptors_from_children();
    home_.write_file("w/a.md", "# A\n");
    home_.make_dir("w/sub");
  }
  void TearDown() override {
    if (std::filesystem::exists(home_.path() + "/fake_app.pid")) stop_fake_app(home_.path());
    EXPECT_TRUE(reap_all_children());
  }
  RunResult run(std::vector<std::string> args, std::map<std::string, std::optional<std::string>> env) {
    return run_elmpad({.args = std::move(args), .home = home_.path(), .env = std::move(env), .cwd = work_});
  }
  /// Waits until the launched fake app has logged `n` requests; its log.
  std::string app_log(std::size_t n) {
    std::string log;
    for (int i = 0; i < 6000; ++i) {
      log = home_.read_file("fake_app.log");
      if (static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')) >= n) break;
      std::this_thread::sleep_for(5ms);
    }
    return log;
  }

  TempHome home_;
  const std::string work_ = home_.path() + "/w";
};

TEST_F(LaunchTest, StartsTheAppAndDoesNotActivateIt) {
  struct Case {
    std::vector<std::string> args;
    std::string request;
    std::string json_out;
  };
  const Case cases[] = {
      {{"a.md"}, open_request(1, work_ + "/a.md", false), success_line("{\"opened\":[" + quoted(work_ + "/a.md") + "]}")},
      {{"sub"}, folder_request(work_ + "/sub"), success_line("{\"folder\":" + quoted(work_ + "/sub") + "}")},
      {{"reveal", "a.md", "H"}, reveal_request(work_ + "/a.md", "H"),
       success_line("{\"revealed\":" + quoted(work_ + "/a.md") + "}")},
  };
  for (const auto& c : cases) {
    for (bool json : {false, true}) {
      std::vector<std::string> args = c.args;
      if (json) args.push_back("--json");
      auto r = run(args, {{"FAKE_OPEN_MODE", "start"}, {"FAKE_APP_DELAY_MS", "300"}});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, json ? c.json_out : "");
      EXPECT_EQ(r.err, kNotice);  // in both output modes
      EXPECT_EQ(app_log(1), c.request);
      ASSERT_TRUE(stop_fake_app(home_.path()));
      ASSERT_TRUE(reap_all_children());
      // Exactly the launch: a launched app is in front already.
      EXPECT_EQ(home_.read_file("open.log"), "-a Elmwrite\n");
      EXPECT_EQ(home_.read_file("open.fds").find("socket:"), std::string::npos);
      for (const char* file : {"open.log", "open.fds", "fake_app.log", "fake_app.pid"}) {
        std::filesystem::remove(home_.path() + "/" + file);
      }
    }
  }
}

TEST_F(LaunchTest, WaitOnALaunchedApp) {
  // The launched fake answers every request with ok and never sends the
  // event: the wait ends when the fake goes away.
  Child child({.args = {"--wait", "--source", "s", "a.md"},
               .home = home_.path(),
               .env = {{"FAKE_OPEN_MODE", "start"}, {"FAKE_APP_DELAY_MS", "100"}},
               .cwd = work_});
  EXPECT_EQ(app_log(1), open_request(1, work_ + "/a.md", true, "s"));
  ASSERT_TRUE(stop_fake_app(home_.path()));
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(child.err(), kNotice + "elmpad: connection closed by app\n");
  ASSERT_TRUE(reap_all_children());
  EXPECT_EQ(home_.read_file("open.log"), "-a Elmwrite\n");
}

// A parent that ignores SIGCHLD hands that down; the launch must still see
// how `open` ended.
TEST_F(LaunchTest, ParentIgnoringChildSignals) {
  auto r = run_elmpad({.args = {"-e", "$SIG{CHLD} = 'IGNORE'; exec @ARGV or die", ELMPAD_BIN, "a.md"},
                       .home = home_.path(),
                       .env = {{"FAKE_OPEN_MODE", "start"}, {"FAKE_APP_DELAY_MS", "100"}},
                       .cwd = work_,
                       .program = "/usr/bin/perl"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kNotice);
  EXPECT_EQ(app_log(1), open_request(1, work_ + "/a.md", false));
}

TEST_F(LaunchTest, FailingOpen) {
  const std::string message = "`open -a Elmwrite` failed \u2014 is the app installed?";
  for (const auto& args : std::vector<std::vector<std::string>>{{"a.md"}, {"sub"}, {"reveal", "a.md"}}) {
    auto r = run(args, {{"FAKE_OPEN_MODE", "fail"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kNotice + "elmpad: " + message + "\n");
    auto jargs = args;
    jargs.push_back("--json");
    auto j = run(jargs, {{"FAKE_OPEN_MODE", "fail"}});
    EXPECT_EQ(j.status, 1);
    EXPECT_EQ(j.out, failure_line("LAUNCH_FAILED", message));
    EXPECT_EQ(j.err, kNotice);
  }
  std::string launches;
  for (int i = 0; i < 6; ++i) launches += "-a Elmwrite\n";
  EXPECT_EQ(home_.read_file("open.log"), launches);
}

TEST_F(LaunchTest, OpenNotOnThePath) {
  const std::string empty = home_.make_dir("empty");
  auto r = run({"a.md"}, {{"PATH", empty}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kNotice + "elmpad: No such file or directory (os error 2)\n");
  auto j = run({"reveal", "--json", "a.md"}, {{"PATH", empty}});
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, failure_line("LAUNCH_FAILED", "No such file or directory (os error 2)"));
  EXPECT_EQ(j.err, kNotice);
}

// The one case that waits the full ten seconds.
TEST_F(LaunchTest, StaleSocket) {
  make_stale_socket(home_.socket_path());
  auto r = run({"--json", "a.md"}, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, failure_line("STALE_SOCKET",
                                "an Elmwrite instance seems to be running but is not serving its socket (a "
                                "stale/wedged instance). Quit it (Cmd+Q, or `pkill -f Elmwrite`) and retry. "
                                "Stale socket: " +
                                    home_.socket_path()));
  EXPECT_EQ(r.err, kNotice);
  EXPECT_EQ(home_.read_file("open.log"), "-a Elmwrite\n");
}

}  // namespace
}  // namespace elmpad::testing
