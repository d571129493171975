// elmpad itself against the headless app: the workflows a user and an agent
// run, with the headless `open` first on PATH so launching works as on a Mac.
#include <filesystem>

#include <gtest/gtest.h>

#include "headless_app.h"
#include "json_text.h"

namespace elmpad::testing {
namespace {

RunOptions elmpad_with(const TempHome& home, std::vector<std::string> args) {
  RunOptions o{.args = std::move(args), .home = home.path()};
  o.env["PATH"] = std::string(HEADLESS_BIN_DIR) + ":/usr/local/bin:/usr/bin:/bin";
  o.env["ELMWRITE_HEADLESS_BIN"] = std::string(HEADLESS_BIN);
  return o;
}

TEST(Workflow, OpeningLaunchesTheAppAndCreatesTheNote) {
  TempHome home;
  std::string note = home.path() + "/today.md";
  // The headless `open` asks the app whether it already serves: 1 until it does.
  RunOptions probe{.args = {"--probe"}, .home = home.path(), .program = HEADLESS_BIN};
  EXPECT_EQ(run_elmpad(probe).status, 1);
  auto opened = run_elmpad(elmpad_with(home, {note}));
  EXPECT_EQ(opened.err, "elmpad: launching Elmwrite…\n");
  EXPECT_EQ(opened.status, 0);
  EXPECT_TRUE(std::filesystem::exists(note));
  EXPECT_EQ(run_elmpad(elmpad_with(home, {"status"})).out, "Elmwrite is running\nactive: " + note + "\ntabs:\n  " + note + "\n");
  EXPECT_EQ(run_elmpad(probe).status, 0);
  // The launched app stops once its socket is gone with the test's HOME.
}

TEST(Workflow, TheAppRefusesAnArgumentItDoesNotKnow) {
  TempHome home;
  auto refused = run_elmpad({.args = {"--serve"}, .home = home.path(), .program = HEADLESS_BIN});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "elmwrite-headless: unexpected argument '--serve' (try --help)\n");
}

// The payload of the tool result of a tools/call.
json call(Child& mcp, int id, const std::string& tool, const json& args) {
  mcp.write(compact(json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
                         {"params", {{"name", tool}, {"arguments", args}}}}) + "\n");
  auto reply = parse_json(mcp.read_line().value_or("")).value_or(nullptr);
  if (!reply.contains("result")) return reply;
  return parse_json(reply["result"]["content"][0]["text"].get<std::string>()).value_or(nullptr);
}

TEST(Workflow, AgentReadsWritesConflictsPostsAndWaits) {
  TempHome home;
  std::string folder = home.make_dir("notes");
  std::string note = home.write_file("notes/plan.md", "# Plan\n## Tasks\n- draft\n");
  HeadlessApp app(home);
  RunOptions options = elmpad_with(home, {"mcp"});
  options.cwd = folder;
  Child mcp(options);
  mcp.write(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})" "\n");
  EXPECT_NE(mcp.read_line().value_or("").find(R"("result")"), std::string::npos);
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent session 1 attached (" + folder + ")"));

  json read = call(mcp, 2, "read_section", {{"path", note}, {"heading", "Plan::Tasks"}});
  EXPECT_EQ(read["content"], "- draft\n");
  json edit = {{"path", note}, {"heading", "Plan::Tasks"}, {"operation", "replace"}, {"content", "- ship it"}, {"baseHash", read["baseHash"]}};
  EXPECT_EQ(call(mcp, 3, "write_section", edit)["heading"], "Tasks");  // the shortest anchor that names the section
  EXPECT_EQ(home.read_file("notes/plan.md"), "# Plan\n## Tasks\n\n- ship it\n");
  EXPECT_EQ(call(mcp, 4, "write_section", edit)["error"]["code"], "CONFLICT") << "a stale token";

  EXPECT_EQ(call(mcp, 5, "post_message", {{"text", "tasks updated"}}), (json{{"delivered", true}, {"ok", true}}));
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent 1: tasks updated"));
  app.user("say " + folder + " now the log please");
  json woke = call(mcp, 6, "wait_for_change", {{"workspace", folder}, {"timeout_seconds", 600}});
  EXPECT_EQ(woke["messages"][0]["text"], "now the log please");
  mcp.close_stdin();
  EXPECT_EQ(mcp.wait(), 0);
}

}  // namespace
}  // namespace elmpad::testing
