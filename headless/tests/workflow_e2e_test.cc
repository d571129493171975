// elmpad itself against the headless app: the workflows a user and an agent
// run, with the headless `open` first on PATH so launching works as on a Mac.
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "headless_app.h"
#include "json_text.h"

namespace elmpad::testing {
namespace {

std::string q(const std::string& s) { return json(s).dump(); }

RunOptions elmpad_with(const TempHome& home, std::vector<std::string> args) {
  RunOptions o;
  o.args = std::move(args);
  o.home = home.path();
  o.env["PATH"] = std::string(HEADLESS_BIN_DIR) + ":/usr/local/bin:/usr/bin:/bin";
  o.env["ELMWRITE_HEADLESS_BIN"] = std::string(HEADLESS_BIN);
  return o;
}

TEST(Workflow, StatusBeforeAndAfterTheAppStarts) {
  TempHome home;
  auto before = run_elmpad(elmpad_with(home, {"status"}));
  EXPECT_EQ(before.out, "Elmwrite is not running\n");
  EXPECT_EQ(before.status, 0);
  HeadlessApp app(home);
  std::string folder = home.make_dir("notes");
  AppClient(home.socket_path()).ask(R"({"id":1,"proto":1,"cmd":"open_folder","path":)" + q(folder) + "}");
  auto after = run_elmpad(elmpad_with(home, {"status"}));
  EXPECT_EQ(after.out, "Elmwrite is running\nfolder: " + folder + "\ntabs:\n");
  EXPECT_EQ(after.status, 0);
  auto as_json = run_elmpad(elmpad_with(home, {"status", "--json"}));
  EXPECT_EQ(as_json.out, R"({"data":{"folder":)" + q(folder) + R"(,"running":true,"tabs":[]},"ok":true})" "\n");
}

// Needs elmpad's open command.
TEST(Workflow, OpeningLaunchesTheAppAndCreatesTheNote) {
  TempHome home;
  std::string note = home.path() + "/today.md";
  auto opened = run_elmpad(elmpad_with(home, {note}));
  EXPECT_EQ(opened.err, "elmpad: launching Elmwrite…\n");
  EXPECT_EQ(opened.status, 0);
  EXPECT_TRUE(std::filesystem::exists(note));
  auto status = run_elmpad(elmpad_with(home, {"status"}));
  EXPECT_EQ(status.out, "Elmwrite is running\nactive: " + note + "\ntabs:\n  " + note + "\n");
  // The launched app stops once its socket is gone with the test's HOME.
}

// Needs elmpad's open command (--wait).
TEST(Workflow, WaitServesAsEditorUntilTheUserClosesOrDiscards) {
  TempHome home;
  HeadlessApp app(home);
  std::string msg = home.write_file("COMMIT_EDITMSG", "");
  for (auto [verb, want] : {std::pair{"close", 0}, std::pair{"discard", 3}}) {
    Child editor(elmpad_with(home, {"--wait", "--source", "git", msg}));
    ASSERT_TRUE(app.wait_for_output("tab: " + msg + " (waiting for git)"));
    app.user(std::string(verb) + " " + msg);
    EXPECT_EQ(editor.wait(), want) << editor.err();
  }
}

// Needs elmpad's reveal command.
TEST(Workflow, RevealScrollsToANestedHeadingOrSaysItIsMissing) {
  TempHome home;
  std::string note = home.write_file("plan.md", "# Plan\n## Tasks\n# Log\n## Tasks\n");
  HeadlessApp app(home);
  auto shown = run_elmpad(elmpad_with(home, {"reveal", note, "log::tasks"}));
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_TRUE(app.wait_for_output("view: " + note + " at Log::Tasks"));
  auto missing = run_elmpad(elmpad_with(home, {"reveal", note, "Nope"}));
  EXPECT_EQ(missing.err, "elmpad: heading not found: 'Nope' (file opened, viewport unchanged)\n");
  EXPECT_EQ(missing.status, 1);
}

std::string call(Child& mcp, int id, const std::string& tool, const json& args) {
  mcp.write(compact(json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
                         {"params", {{"name", tool}, {"arguments", args}}}}) + "\n");
  return mcp.read_line().value_or("<no reply>");
}

// The payload text of a tool result line.
json payload(const std::string& reply) {
  auto parsed = parse_json(reply);
  if (!parsed) return nullptr;
  auto text = (*parsed)["result"]["content"][0]["text"].get<std::string>();
  return parse_json(text).value_or(nullptr);
}

// Needs `elmpad mcp`.
TEST(Workflow, AgentReadsWritesConflictsPostsAndWaits) {
  TempHome home;
  std::string folder = home.make_dir("notes");
  std::string note = home.write_file("notes/plan.md", "# Plan\n## Tasks\n- draft\n");
  HeadlessApp app(home);
  RunOptions options = elmpad_with(home, {"mcp"});
  options.cwd = folder;
  Child mcp(options);
  mcp.write(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})" "\n");
  EXPECT_EQ(mcp.read_line(),
            R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2025-06-18","serverInfo":{"name":"elmpad","version":"0.15.6"}}})");
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent session 1 attached (" + folder + ")"));

  json read = payload(call(mcp, 2, "read_section", {{"path", note}, {"heading", "Plan::Tasks"}}));
  ASSERT_TRUE(read.is_object());
  EXPECT_EQ(read["content"], "- draft\n");
  std::string token = read["baseHash"];
  json written = payload(call(mcp, 3, "write_section",
                              {{"path", note}, {"heading", "Plan::Tasks"}, {"operation", "replace"},
                               {"content", "- ship it"}, {"baseHash", token}}));
  EXPECT_EQ(written["heading"], "Tasks");  // the shortest anchor that names the section
  EXPECT_EQ(home.read_file("notes/plan.md"), "# Plan\n## Tasks\n\n- ship it\n");
  std::string stale = call(mcp, 4, "write_section",
                           {{"path", note}, {"heading", "Plan::Tasks"}, {"operation", "replace"},
                            {"content", "- again"}, {"baseHash", token}});
  EXPECT_NE(stale.find(R"(\"code\":\"CONFLICT\")"), std::string::npos) << stale;
  EXPECT_NE(stale.find(R"("isError":true)"), std::string::npos) << stale;

  EXPECT_EQ(payload(call(mcp, 5, "post_message", {{"text", "tasks updated"}})), (json{{"delivered", true}, {"ok", true}}));
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent 1: tasks updated"));

  app.user("say " + folder + " now the log please");
  json woke = payload(call(mcp, 6, "wait_for_change", {{"workspace", folder}, {"timeout_seconds", 600}}));
  EXPECT_EQ(woke["source"], "message");
  EXPECT_EQ(woke["messages"][0]["text"], "now the log please");
  mcp.close_stdin();
  EXPECT_EQ(mcp.wait(), 0);
}

}  // namespace
}  // namespace elmpad::testing
