// `elmpad --wait` as git's editor: a real `git commit` against the fake
// application, with the fake `open` and `ps` (parent_name_test and
// cases/wait.txt check how the tab's source is named).
#include <gtest/gtest.h>

#include <fstream>

#include "fake_app.h"
#include "run_elmpad.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

class GitEditorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(run_elmpad(git({"init", "-q"})).status, 0); }

  RunOptions git(std::vector<std::string> args, const std::string& editor = "") {
    std::vector<std::string> all = {"-c", "user.name=Test", "-c", "user.email=test@example.com"};
    if (!editor.empty()) all.insert(all.end(), {"-c", "core.editor=" + editor});
    all.insert(all.end(), args.begin(), args.end());
    return {.args = all,
            .home = home_.path(),
            .env = {{"GIT_CONFIG_NOSYSTEM", "1"}},
            .cwd = repo_,
            .program = "/usr/bin/git"};
  }

  TempHome home_;
  const std::string repo_ = home_.make_dir("repo");
};

TEST_F(GitEditorTest, CommitMessageWrittenInTheApp) {
  FakeApp app(home_.path());
  // The app answers only once the test has written the message, as a user
  // editing the tab would, and then closes the tab as done.
  app.on("open", Action{.lines = {R"({"id":1,"ok":true})", R"({"id":1,"event":"closed","outcome":"done"})"},
                        .hold = true});
  Child commit(git({"commit", "--allow-empty", "-q"}, std::string(ELMPAD_BIN) + " --wait"));
  ASSERT_TRUE(app.wait_for_requests(1));
  const std::string message_file = repo_ + "/.git/COMMIT_EDITMSG";
  EXPECT_EQ(app.received().at(0), R"({"id":1,"proto":1,"cmd":"open","path":)" + quoted(message_file) +
                                      R"(,"wait":true,"source":"fake-parent"})" "\n");
  std::ofstream(message_file, std::ios::trunc) << "Written in Elmwrite\n";
  app.release();
  EXPECT_EQ(commit.wait(), 0) << commit.err();
  EXPECT_EQ(run_elmpad(git({"log", "--format=%s"})).out, "Written in Elmwrite\n");
  EXPECT_EQ(home_.read_file("open.log"), "-a Elmwrite\n");
}

}  // namespace
}  // namespace elmpad::testing
