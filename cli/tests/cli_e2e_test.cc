// The command line run as a user runs it, against the fake application.
#include <gtest/gtest.h>

#include "cli/usage.h"
#include "fake_app.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

class CliTest : public ::testing::Test {
 protected:
  RunResult run(std::vector<std::string> args) { return run_elmpad({.args = std::move(args), .home = home_.path()}); }
  TempHome home_;
};

const std::string kUsageOut = std::string(kUsage) + "\n";

TEST_F(CliTest, HelpAndVersion) {
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"--version", "--help"}, {"reveal", "n.md", "--help"}}) {
    auto r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsageOut);
    EXPECT_EQ(r.err, "");
  }
  auto v = run({"--source", "-V", "a.md"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "elmpad 0.15.6\n");
  EXPECT_EQ(v.err, "");
}

TEST_F(CliTest, OutputThatCannotBeWrittenIsNoSuccess) {
  for (const char* command : {" --version", " --help", " status --json", " status"}) {
    auto r = run_elmpad({.args = {"-c", std::string("exec \"$0\"") + command + " >/dev/full", ELMPAD_BIN},
                         .home = home_.path(),
                         .program = "/bin/sh"});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.err, "elmpad: cannot write to standard output: No space left on device (os error 28)\n") << command;
  }
}

TEST_F(CliTest, UsageErrorsGoToStderrAsTextEvenUnderJson) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "missing file argument"},
      {{"--json", "--bogus", "a.md"}, "unknown option '--bogus'"},
      {{"status", "--wait"}, "unexpected argument '--wait' for status"},
      {{"mcp", "--json"}, "unexpected argument '--json' for mcp"},
  };
  for (const auto& [args, message] : cases) {
    auto r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "elmpad: " + message + "\n\n" + kUsageOut);
  }
}

TEST_F(CliTest, StatusWhenTheAppIsAbsent) {
  auto r = run({"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Elmwrite is not running\n");
  EXPECT_EQ(r.err, "");
  make_stale_socket(home_.socket_path());  // a socket file nobody listens on
  auto j = run({"status", "--json"});
  EXPECT_EQ(j.status, 0);
  EXPECT_EQ(j.out, "{\"data\":{\"running\":false},\"ok\":true}\n");
  EXPECT_EQ(j.err, "");
}

TEST_F(CliTest, StatusWithoutHome) {
  auto r = run_elmpad({.args = {"status"}, .home = std::nullopt});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "elmpad: HOME is not set\n");
  auto j = run_elmpad({.args = {"status", "--json"}, .home = std::nullopt});
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, "{\"error\":{\"code\":\"NO_HOME\",\"params\":{\"detail\":\"HOME is not set\"}},\"ok\":false}\n");
  EXPECT_EQ(j.err, "");
}

TEST_F(CliTest, StatusWithData) {
  FakeApp app(home_.path());
  app.reply("status", {R"({"id":1,"ok":true,"data":{"tabs":["/n/a.md",3,"/n/b — ü.md"],"folder":"/n","active":"/n/a.md","extra":{"z":1,"a":[]}}})"});
  auto r = run({"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Elmwrite is running\nfolder: /n\nactive: /n/a.md\ntabs:\n  /n/a.md\n  /n/b — ü.md\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(app.received(), std::vector<std::string>{"{\"id\":1,\"proto\":1,\"cmd\":\"status\"}\n"});

  app.reply("status", {R"({"id":1,"ok":true,"data":{"tabs":[],"z":"\u001f","active":"/n/ü.md"}})"});
  auto j = run({"status", "--json"});
  EXPECT_EQ(j.out, "{\"data\":{\"active\":\"/n/ü.md\",\"tabs\":[],\"z\":\"\\u001f\"},\"ok\":true}\n");
}

TEST_F(CliTest, StatusWithoutData) {
  FakeApp app(home_.path());
  app.reply("status", {R"({"id":1,"event":"noise"})", R"({"id":2,"ok":false})", R"({"id":1,"ok":true,"data":null})"});
  auto r = run({"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Elmwrite is running\n");
  auto j = run({"status", "--json"});
  EXPECT_EQ(j.out, "{\"data\":{\"running\":true},\"ok\":true}\n");
  app.reply("status", {R"({"id":1,"ok":true,"data":[1,"x"]})"});
  EXPECT_EQ(run({"status"}).out, "Elmwrite is running\n");
}

TEST_F(CliTest, StatusFailuresHideTheirCause) {
  FakeApp app(home_.path());
  app.hang_up_on("status");
  app.reply("status", {R"({"id":1,"ok":false,"error":{"code":"BUSY"}})"});
  app.on("status", Action{.lines = {"\xff\xfe"}});
  app.reply("status", {std::string(100'000, '[')});
  for (int i = 0; i < 4; ++i) {
    auto r = run({"status"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "elmpad: status request failed\n");
  }
  app.hang_up_on("status");
  auto j = run({"status", "--json"});
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, "{\"error\":{\"code\":\"STATUS_FAILED\",\"params\":{\"detail\":\"status request failed\"}},\"ok\":false}\n");
  EXPECT_EQ(j.err, "");
}

}  // namespace
}  // namespace elmpad::testing
