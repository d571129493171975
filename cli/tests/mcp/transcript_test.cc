// Conversations with `elmpad mcp`, read from transcripts/*.txt: one test per
// "== Name" case, under a fresh HOME holding notes.md ("# a\n") and folder/;
// "$HOME" in a line stands for its path, "$VERSION" for the tool's version.
// As in the other transcripts, ">" is a request and "<" its answer: bare on
// the server's standard streams, after "app" on the fake app's socket.
// Directives:
//   env K=V | env K   set or unset a variable   nohome     HOME unset
//   cwd D | rmdir D   start in (remove) $HOME/D stale-socket  a socket nobody serves
//   app               start the fake app        start      start the server (else ">" does)
//   > LINE            send LINE                 >call ID TOOL ARGS  send a tools/call
//   < LINE            the next reply, exactly   <~ TEXT    the next reply contains TEXT
//   <progress TOKEN   the next line is progress for TOKEN, beyond the last; until the
//                     next reply, more of it is passed over (and must keep rising)
//   <ok ID PAYLOAD    a tool's result           <err ID CODE DETAIL  a tool's failure
//   <until TEXT       send the last ">" line again until its reply contains TEXT
//   $TASKn            the id of the n-th task handle replied (a reply with "resultType":"task")
//   app> LINE         the next request the app received, exactly
//   app< CMD LINE     queue the app's answer to CMD ("+ LINE" adds a line); it names
//                     its command because it is set before the request comes
//   app! hold CMD [LINE]  the same, given at release only   release  give it now
//   app! hangup CMD   read the next CMD, then hang up
//   connections N     the app comes to have N connections open
//   deaf              stop reading replies      eof | end  close input (or not), see exit 0
//   err: LINE         a line of standard error; together the lines are all of it
//   content F TEXT    $HOME/F comes to hold TEXT; gone F: F does not exist
// \xHH is a byte in lines sent with ">", answers, err: lines and variables,
// and \n a line feed in TEXT. At the end input is closed: the server must end
// with 0, no further output, the standard error given and no request left
// unchecked.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>

#include "app_client/version.h"
#include "case_file.h"
#include "fake_app.h"
#include "json_text.h"
#include "run_elmpad.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

// The reply to tools/call `id` whose result holds `text`.
std::string tool_reply(const std::string& id, const std::string& text, bool is_error) {
  return R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":{"content":[{"text":)" + compact(json(text)) +
         R"(,"type":"text"}])" + (is_error ? R"(,"isError":true}})" : "}}");
}

class Runner {
 public:
  Runner() {
    home_.write_file("notes.md", "# a\n");
    home_.make_dir("folder");
    options_ = {.args = {"mcp"}, .home = home_.path(), .cwd = home_.path()};
  }

  void run(std::string line) {
    line = replace_all(replace_all(line, "$HOME", home_.path()), "$VERSION", kVersion);
    for (std::size_t n = tasks_.size(); n > 0; --n) line = replace_all(line, "$TASK" + std::to_string(n), tasks_[n - 1]);
    auto [word, rest] = split_word(line);
    if (word == "+") {
      pending_->lines.push_back(unescape(rest, false));
      return;
    }
    flush();
    auto [first, second] = split_word(rest);
    if (word == "env") {
      auto eq = rest.find('=');
      options_.env[rest.substr(0, eq)] =
          eq == std::string::npos ? std::nullopt : std::optional(unescape(rest.substr(eq + 1), false));
    } else if (word == "nohome") {
      options_.home = std::nullopt;
    } else if (word == "cwd") {
      options_.cwd = home_.make_dir(rest);
    } else if (word == "rmdir") {
      ASSERT_EQ(::rmdir((home_.path() + "/" + rest).c_str()), 0);
    } else if (word == "stale-socket") {
      make_stale_socket(home_.socket_path());
    } else if (word == "app") {
      app_ = std::make_unique<FakeApp>(home_.path());
    } else if (word == "app<" || (word == "app!" && first == "hold")) {
      const bool hold = word == "app!";
      auto [cmd, answer] = hold ? split_word(second) : std::pair{first, second};
      pending_cmd_ = cmd;
      pending_ = Action{.hold = hold};
      if (!answer.empty()) pending_->lines.push_back(unescape(answer, false));
    } else if (word == "app!" && first == "hangup") {
      app().hang_up_on(second);
    } else if (word == "release") {
      app().release();
    } else if (word == "start") {
      server();
    } else if (word == ">") {
      last_sent_ = unescape(rest, false) + "\n";
      server().write(last_sent_);
    } else if (word == "<until") {
      // A task ends on its own thread: ask until it says so.
      std::optional<std::string> reply;
      EXPECT_TRUE(eventually([&] {
        reply = server().read_line();
        if (reply && reply->find(rest) != std::string::npos) return true;
        server().write(last_sent_);
        return false;
      })) << (reply ? reply->substr(0, 300) : "no reply");
    } else if (word == ">call") {
      auto [tool, arguments] = split_word(second);
      server().write(R"({"jsonrpc":"2.0","id":)" + first + R"(,"method":"tools/call","params":{"name":")" + tool +
                     R"(","arguments":)" + arguments + "}}\n");
    } else if (word == "<progress") {
      auto reply = server().read_line();
      ASSERT_TRUE(reply.has_value()) << "no progress";
      progress_token_ = rest;
      ASSERT_TRUE(is_rising_progress(*reply)) << *reply;
    } else if (word.starts_with('<')) {
      // Without a reply the rest of the case would only wait in vain.
      auto reply = server().read_line();
      while (reply && progress_token_ && is_rising_progress(*reply)) reply = server().read_line();
      // No progress comes after the reply it was for.
      progress_token_.reset();
      last_progress_ = 0;
      ASSERT_TRUE(reply.has_value()) << "no reply";
      if (reply->find(R"("resultType":"task")") != std::string::npos) tasks_.push_back(task_id(*reply));
      auto [code, detail] = split_word(second);
      if (word == "<~") {
        EXPECT_NE(reply->find(rest), std::string::npos) << reply->substr(0, 300);
      } else {
        json failure{{"error", {{"code", code}, {"params", {{"detail", detail}}}}}, {"ok", false}};
        EXPECT_EQ(*reply, word == "<ok"    ? tool_reply(first, second, false)
                          : word == "<err" ? tool_reply(first, compact(failure), true)
                                           : rest);
      }
    } else if (word == "app>") {
      ASSERT_TRUE(app().wait_for_requests(checked_ + 1)) << "no request came";
      EXPECT_EQ(app().received()[checked_++], rest + "\n");
    } else if (word == "connections") {
      EXPECT_TRUE(eventually([&] { return app().connections_open() == std::stoul(rest); }))
          << app().connections_open() << " open";
    } else if (word == "deaf") {
      server().close_stdout();
    } else if (word == "eof" || word == "end") {
      end(word == "eof");
    } else if (word == "err:") {
      err_ += unescape(rest, false) + "\n";
    } else if (word == "content") {
      std::string want = unescape(second, true);
      EXPECT_TRUE(eventually([&] { return home_.read_file(first) == want; }))
          << first << ": " << home_.read_file(first);
    } else if (word == "gone") {
      struct stat st {};
      EXPECT_NE(::stat((home_.path() + "/" + rest).c_str(), &st), 0) << rest;
    } else {
      FAIL() << "unknown directive: " << word;
    }
  }

  void finish() {
    flush();
    if (!ended_) end(true);
    if (app_) {
      auto received = app_->received();
      for (std::size_t i = checked_; i < received.size(); ++i) ADD_FAILURE() << "unchecked request: " << received[i];
    }
  }

 private:
  // Whether `line` is a progress notification for the token being followed,
  // with progress beyond the last one seen (it then becomes the last), a
  // total and a message.
  bool is_rising_progress(const std::string& line) {
    auto note = parse_json(line);
    if (!note || !note->is_object() || note->value("method", "") != "notifications/progress") return false;
    const json& params = (*note)["params"];
    std::string token = params.contains("progressToken") ? params["progressToken"].dump() : "";
    if (token != *progress_token_ || !params.contains("total") || !params.contains("message")) return false;
    if (!params.contains("progress") || !params["progress"].is_number()) return false;
    double progress = params["progress"].get<double>();
    if (progress <= last_progress_) return false;
    last_progress_ = progress;
    return true;
  }

  static std::string task_id(const std::string& reply) {
    auto parsed = parse_json(reply);
    if (!parsed || !parsed->contains("result")) return "";
    return (*parsed)["result"].value("taskId", "");
  }

  FakeApp& app() {
    if (!app_) throw std::runtime_error("the case has no app");
    return *app_;
  }

  Child& server() {
    if (!child_) child_ = std::make_unique<Child>(options_);
    return *child_;
  }

  void flush() {
    if (pending_) app().on(pending_cmd_, std::move(*pending_));
    pending_.reset();
  }

  void end(bool close_input) {
    if (close_input) server().close_stdin();
    EXPECT_EQ(server().wait(), 0);
    EXPECT_EQ(server().rest_of_out(), "");
    EXPECT_EQ(server().err(), err_);
    ended_ = true;
  }

  TempHome home_;
  RunOptions options_;
  std::unique_ptr<FakeApp> app_;
  std::unique_ptr<Child> child_;
  std::optional<Action> pending_;
  std::string pending_cmd_;
  std::size_t checked_ = 0;
  std::optional<std::string> progress_token_;  // as JSON text
  double last_progress_ = 0;
  std::string last_sent_;
  std::vector<std::string> tasks_;  // the ids of the task handles replied, in order
  std::string err_;
  bool ended_ = false;
};

class Transcript : public ::testing::TestWithParam<CaseText> {};

TEST_P(Transcript, Runs) {
  Runner runner;
  for (const auto& [where, line] : GetParam().lines) {
    SCOPED_TRACE(where);
    runner.run(line);
    if (HasFatalFailure()) return;
  }
  runner.finish();
}

INSTANTIATE_TEST_SUITE_P(Mcp, Transcript, ::testing::ValuesIn(read_cases(TRANSCRIPT_DIR)), case_name);

}  // namespace
}  // namespace elmpad::testing
