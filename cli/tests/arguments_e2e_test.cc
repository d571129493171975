// Arguments that are not UTF-8: paths keep their bytes for the file-system
// checks and travel as text with U+FFFD; headings and labels are converted
// the same way; messages that quote an argument show it as typed, and as
// text with U+FFFD in a JSON line.
#include <gtest/gtest.h>

#include "descendants.h"
#include "fake_app.h"
#include "requests.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

const std::string kDone = R"({"id":1,"event":"closed","outcome":"done"})";

class ArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adopt_orphans();
    home_.write_file("w/caf\xe9.md", "# A\n");
    home_.make_dir("w/d\xff");
  }
  void TearDown() override { EXPECT_TRUE(reap_all_children()); }
  RunResult run(std::vector<std::string> args) {
    return run_elmpad({.args = std::move(args), .home = home_.path(), .cwd = work_});
  }
  TempHome home_;
  const std::string work_ = home_.path() + "/w";
};

TEST_F(ArgumentsTest, PathsTravelAsText) {
  FakeApp app(home_.path());
  auto r = run({"--json", "caf\xe9.md", "new\x80.md"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, success_line("{\"opened\":[" + quoted(work_ + "/caf\uFFFD.md") + "," +
                                quoted(work_ + "/new\uFFFD.md") + "]}"));
  EXPECT_EQ(app.received(), (std::vector<std::string>{open_request(1, work_ + "/caf\uFFFD.md", false),
                                                      open_request(2, work_ + "/new\uFFFD.md", false)}));
}

// The directory test sees the real bytes: converted, the name would not exist
// and the argument would open as a new file.
TEST_F(ArgumentsTest, FolderFoundByItsBytes) {
  FakeApp app(home_.path());
  auto r = run({"--json", "d\xff"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, success_line("{\"folder\":" + quoted(work_ + "/d\uFFFD") + "}"));
  EXPECT_EQ(app.received(), std::vector<std::string>{folder_request(work_ + "/d\uFFFD")});
  auto rule = run({"d\xff", "caf\xe9.md"});
  EXPECT_EQ(rule.status, 2);
  EXPECT_EQ(rule.err, "elmpad: a folder must be opened on its own, not alongside files\n");
}

TEST_F(ArgumentsTest, HeadingAndLabelAreConvertedNotRefused) {
  FakeApp app(home_.path());
  app.reply("open", {R"({"id":1,"ok":true})", kDone});
  auto w = run({"--wait", "--source", "ed\xfe", "caf\xe9.md"});
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.err, "");
  auto v = run({"reveal", "caf\xe9.md", "Sec\xc3tion"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.err, "");
  EXPECT_EQ(app.received(), (std::vector<std::string>{open_request(1, work_ + "/caf\uFFFD.md", true, "ed\uFFFD"),
                                                      reveal_request(work_ + "/caf\uFFFD.md", "Sec\uFFFDtion")}));
}

TEST_F(ArgumentsTest, ParentNameIsConverted) {
  FakeApp app(home_.path());
  app.reply("open", {R"({"id":1,"ok":true})", kDone});
  auto r = run_elmpad({.args = {"--wait", "caf\xe9.md"},
                       .home = home_.path(),
                       .env = {{"FAKE_PS_OUTPUT", "/opt/\xff/ed\xe9"}},
                       .cwd = work_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(app.received(), std::vector<std::string>{open_request(1, work_ + "/caf\uFFFD.md", true, "ed\uFFFD")});
}

TEST_F(ArgumentsTest, MessagesQuoteTheArgumentAsTyped) {
  FakeApp app(home_.path());
  auto dir = run({"missing\xff/"});
  EXPECT_EQ(dir.status, 1);
  EXPECT_EQ(dir.err, "elmpad: directory not found: missing\xff/\n");
  auto dir_json = run({"--json", "missing\xff/"});
  EXPECT_EQ(dir_json.status, 1);
  EXPECT_EQ(dir_json.out, failure_line("DIR_NOT_FOUND", "directory not found: missing\uFFFD/"));

  auto is_dir = run({"reveal", "--json", "d\xff"});
  EXPECT_EQ(is_dir.status, 2);
  EXPECT_EQ(is_dir.out, "");
  EXPECT_EQ(is_dir.err, "elmpad: 'd\xff' is a directory\n");

  const std::string not_found = R"({"id":1,"ok":false,"error":{"code":"HEADING_NOT_FOUND"}})";
  app.reply("reveal", {not_found});
  auto heading = run({"reveal", "caf\xe9.md", "H\xff"});
  EXPECT_EQ(heading.status, 1);
  EXPECT_EQ(heading.err, "elmpad: heading not found: 'H\xff' (file opened, viewport unchanged)\n");
  app.reply("reveal", {not_found});
  auto heading_json = run({"reveal", "--json", "caf\xe9.md", "H\xff"});
  EXPECT_EQ(heading_json.status, 1);
  EXPECT_EQ(heading_json.out,
            failure_line("HEADING_NOT_FOUND", "heading not found: 'H\uFFFD' (file opened, viewport unchanged)"));
  EXPECT_EQ(heading_json.err, "");
}

}  // namespace
}  // namespace elmpad::testing
