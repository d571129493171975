// The command line end to end, one test per case of the files in cases/
// (cases/README.md describes them): elmpad's arguments and environment, what
// the fake app answers, and everything elmpad did, compared exactly.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <unistd.h>

#include "app_client/version.h"
#include "case_file.h"
#include "cli/usage.h"
#include "fake_app.h"
#include "run_elmpad.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

struct Exchange {
  std::string request;
  Action action;
};

struct Case {
  std::string name;
  std::vector<std::string> files, sh;
  std::string app, run, out, err, open, ps;
  std::string problem;  // a line the loader could not read
  std::vector<Exchange> exchanges;
  int exit = 0;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> load_cases() {
  std::vector<Case> cases;
  for (const auto& text : read_cases(CASES_DIR)) {
    Case& c = cases.emplace_back(Case{.name = text.name});
    for (const auto& [where, line] : text.lines) {
      const auto [key, rest] = split_word(line);
      const std::string value = unescape(rest, false);
      const std::map<std::string, std::string Case::*> texts = {
          {"out:", &Case::out}, {"err:", &Case::err}, {"open:", &Case::open}, {"ps:", &Case::ps}};
      if (key == "files:") {
        for (auto names = value; !names.empty();) {
          auto [name, more] = split_word(names);
          c.files.push_back(name);
          names = more;
        }
      } else if (key == "app:" && (value == "none" || value == "stale" || value == "launched")) {
        c.app = value;
      } else if (key == "sh:") {
        c.sh.push_back(value);
      } else if (key == "run:") {
        c.run = value;
      } else if (key == "app>") {
        c.exchanges.push_back({value + "\n", {}});
      } else if (key == "app<" && !c.exchanges.empty()) {
        c.exchanges.back().action.lines.push_back(value);
      } else if (key == "app!" && !c.exchanges.empty() && (value == "hangup" || value == "hold" || value == "deaf")) {
        Action& a = c.exchanges.back().action;
        a.hang_up |= value == "hangup";
        a.deaf |= value == "deaf";
        if (value == "hold") a.before_hold = std::exchange(a.lines, {});
        a.hold |= value == "hold";
      } else if (key == "exit:") {
        c.exit = std::stoi(value);
      } else if (texts.contains(key)) {
        c.*texts.at(key) += value + "\n";
      } else {
        c.problem += where + ": cannot read " + line + "\n";
      }
    }
  }
  return cases;
}

class Transcript : public ::testing::TestWithParam<Case> {};

TEST_P(Transcript, Runs) {
  const Case& c = GetParam();
  ASSERT_EQ(c.problem, "");
  ASSERT_FALSE(c.run.empty()) << "no run: line";
  TempHome home;
  const std::string cwd = home.make_dir("w");
  auto expand = [&](const std::string& text) {
    std::string out = replace_all(text, "$USAGE", std::string(kUsage));
    out = replace_all(out, "$VERSION", kVersion);
    out = replace_all(out, "$CWD", cwd);
    out = replace_all(out, "$PPID", std::to_string(::getpid()));
    return replace_all(out, "$HOME", home.path());
  };
  std::vector<std::string> files = {"a.md", "b.md", "c.md", "sub/"};
  files.insert(files.end(), c.files.begin(), c.files.end());
  for (const auto& f : files) {
    if (f.ends_with('/')) home.make_dir("w/" + f);
    else home.write_file("w/" + f, "# " + f + "\n");
  }

  std::unique_ptr<FakeApp> app;
  bool holds = false;
  std::string requests;
  for (const auto& e : c.exchanges) {
    requests += expand(e.request);
    holds |= e.action.hold;
  }
  auto serve = [&] {
    app = std::make_unique<FakeApp>(home.path());
    for (const auto& e : c.exchanges) {
      Action action = e.action;
      if (action.lines.empty() && action.before_hold.empty() && !action.hang_up) action.lines = {R"({"id":{id},"ok":true})"};
      for (auto& l : action.lines) l = expand(l);
      app->on(parse_json(e.request).value_or(json())["cmd"].get<std::string>(), action);
    }
  };
  if (c.app.empty()) serve();
  if (c.app == "stale") make_stale_socket(home.socket_path());

  std::string script;
  for (const auto& line : c.sh) script += line + "\n";
  script += "exec " + (c.run.starts_with("elmpad") ? "\"$ELMPAD\"" + c.run.substr(6) : c.run) + "\n";
  Child child({.args = {"-c", script},
               .home = home.path(),
               .env = {{"ELMPAD", ELMPAD_BIN}, {"CWD", cwd}},
               .cwd = cwd,
               .program = "/bin/sh"});
  // The fake `open` has run, or it never will.
  auto opened = [&] { return !home.read_file("open.log").empty() || child.ended(); };
  if (c.app == "launched") {
    EXPECT_TRUE(eventually(opened));
    serve();
  }
  if (holds && app) {
    EXPECT_TRUE(eventually(opened));
    app->release();
  }
  EXPECT_EQ(child.wait(std::chrono::seconds(60)), c.exit);
  EXPECT_EQ(child.rest_of_out(), expand(c.out));
  EXPECT_EQ(child.err(), expand(c.err));
  std::string received;
  if (app) {
    ASSERT_TRUE(app->wait_until_idle());
    for (const auto& line : app->received()) received += line;
  }
  EXPECT_EQ(received, requests);
  EXPECT_EQ(home.read_file("open.log"), expand(c.open));
  EXPECT_EQ(home.read_file("ps.log"), expand(c.ps));
  for (const char* fds : {"open.fds", "ps.fds"}) {
    EXPECT_EQ(home.read_file(fds).find_first_of("0123456789"), std::string::npos) << fds << ": " << home.read_file(fds);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Transcript, ::testing::ValuesIn(load_cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace elmpad::testing
