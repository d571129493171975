// `elmpad --wait` as git's editor: a real `git commit` against the fake
// application, with the real `ps` naming elmpad's parent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "descendants.h"
#include "fake_app.h"
#include "json_text.h"
#include "requests.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

namespace fs = std::filesystem;

class GitEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adopt_orphans();
    // Only the fake `open` is faked: `ps` is the system's.
    fs::create_directories(bin_);
    fs::create_symlink(std::string(FAKE_BIN_DIR) + "/open", bin_ + "/open");
    auto init = git({"init", "-q"});
    ASSERT_EQ(init.status, 0) << init.err;
  }
  void TearDown() override { EXPECT_TRUE(reap_all_children()); }

  RunOptions git_options(std::vector<std::string> args, const std::string& editor = "") {
    std::vector<std::string> all = {"-c", "user.name=Test", "-c", "user.email=test@example.com"};
    if (!editor.empty()) all.insert(all.end(), {"-c", "core.editor=" + editor});
    all.insert(all.end(), args.begin(), args.end());
    return {.args = all,
            .home = home_.path(),
            .env = {{"PATH", bin_ + ":/usr/bin:/bin"}, {"GIT_CONFIG_NOSYSTEM", "1"}},
            .cwd = repo_,
            .program = "/usr/bin/git"};
  }
  RunResult git(std::vector<std::string> args, const std::string& editor = "") {
    return run_elmpad(git_options(std::move(args), editor));
  }

  /// What elmpad, run by git as its editor, finds as its parent's name: git
  /// itself where the shell that git uses for an editor with arguments
  /// replaces itself with the editor, "sh" where it does not (dash).
  std::string expected_label() {
    std::string probe = home_.write_file("probe", "#!/bin/sh\nbasename \"$(ps -o comm= -p $PPID)\" > \"$HOME/label\"\nexit 1\n");
    fs::permissions(probe, fs::perms::owner_all);
    (void)git({"commit", "--allow-empty", "-q"}, probe + " --wait");
    std::string label = home_.read_file("label");
    if (!label.empty() && label.back() == '\n') label.pop_back();
    return label;
  }

  TempHome home_;
  const std::string repo_ = home_.make_dir("repo");
  const std::string bin_ = home_.path() + "/bin";
};

TEST_F(GitEditorTest, CommitMessageWrittenInTheApp) {
  const std::string label = expected_label();
  ASSERT_FALSE(label.empty());
  FakeApp app(home_.path());
  // The app answers only once the test has written the message, as a user
  // editing the tab would, and then closes the tab as done.
  app.on("open", Action{.lines = {R"({"id":1,"ok":true})", R"({"id":1,"event":"closed","outcome":"done"})"},
                        .hold = true});
  Child commit(git_options({"commit", "--allow-empty", "-q"}, std::string(ELMPAD_BIN) + " --wait"));
  ASSERT_TRUE(app.wait_for_requests(1));
  const std::string request = app.received().at(0);
  auto parsed = parse_json(request);
  ASSERT_TRUE(parsed);
  const std::string message_file = parsed->at("path").get<std::string>();
  EXPECT_EQ(request, open_request(1, message_file, true, label));
  EXPECT_TRUE(message_file == repo_ + "/.git/COMMIT_EDITMSG") << message_file;
  std::ofstream(message_file, std::ios::trunc) << "Written in Elmwrite\n";
  app.release();
  EXPECT_EQ(commit.wait(), 0) << commit.err();

  auto log = git({"log", "--format=%s"});
  EXPECT_EQ(log.out, "Written in Elmwrite\n");
  EXPECT_TRUE(reap_all_children());
  EXPECT_EQ(home_.read_file("open.log"), "-a Elmwrite\n");
}

TEST_F(GitEditorTest, DiscardedTabAbortsTheCommit) {
  FakeApp app(home_.path());
  app.reply("open", {R"({"id":1,"ok":true})", R"({"id":1,"event":"closed","outcome":"discarded"})"});
  // A shell function around elmpad keeps its exit status for the test.
  const std::string editor =
      "f() { " + std::string(ELMPAD_BIN) + " --wait \"$@\"; s=$?; echo $s > \"$HOME/status\"; return $s; }; f";
  auto commit = git({"commit", "--allow-empty", "-q"}, editor);
  EXPECT_NE(commit.status, 0);
  EXPECT_NE(commit.err.find("There was a problem with the editor"), std::string::npos) << commit.err;
  EXPECT_EQ(home_.read_file("status"), "3\n");
  EXPECT_EQ(app.received().size(), 1u);
  EXPECT_NE(git({"rev-parse", "--verify", "-q", "HEAD"}).status, 0);  // nothing committed
}

}  // namespace
}  // namespace elmpad::testing
