// The built app against real clients on its socket, with the test playing
// the user on its standard input: the conversations in data/socket.txt, and
// what a transcript cannot say.
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "case_file.h"
#include "headless_app.h"
#include "json_text.h"
#include "server.h"
#include "support.h"

namespace elmpad::testing {
namespace {

class Conversation : public ::testing::TestWithParam<CaseText> {};

TEST_P(Conversation, GoesAsWritten) {
  TempHome home;
  char real[PATH_MAX];
  ASSERT_NE(::realpath(home.path().c_str(), real), nullptr);
  std::unique_ptr<HeadlessApp> app;
  std::map<char, std::unique_ptr<AppClient>> clients;
  std::optional<mode_t> umask_before;
  auto started = [&]() -> HeadlessApp& {
    if (!app) app = std::make_unique<HeadlessApp>(home);
    if (umask_before) ::umask(*std::exchange(umask_before, std::nullopt));
    return *app;
  };
  auto listing = [&] {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home.path())) out.push_back(e.path().string());
    return out;
  };
  for (const auto& [where, raw] : GetParam().lines) {
    if (HasFailure()) break;  // the rest would only wait for what will not come
    SCOPED_TRACE(where);
    auto expand = [&](const std::string& s) {
      return replace_all(replace_all(replace_all(s, "$HOME", home.path()), "$REAL", real), "$APPDIR",
                         "Library/Application Support/com.tarn.elmwrite");
    };
    // Cut before expanding: $APPDIR holds a space.
    const auto [verb, raw_rest] = split_word(raw);
    const auto [raw_rel, raw_text] = split_word(raw_rest);
    const std::string rest = expand(raw_rest), rel = expand(raw_rel);
    const std::string text = replace_all(expand(raw_text), "\\n", "\n");
    const std::string path = home.path() + "/" + (verb == "chmod" || verb == "mode" ? text : rel);
    if (verb.size() == 2 && std::string_view("><_.~").contains(verb[1])) {
      started();
      auto& client = clients[verb[0]];
      if (!client) client = std::make_unique<AppClient>(home.socket_path());
      if (verb[1] == '~') {  // a line longer than a request may be, by `rest` bytes
        client->send(std::string(headless::kMaxRequestLine + std::stoul(rest), 'x') + "\n");
      } else if (verb[1] == '.') {  // the last request, without its line feed
        client->send(rest);
        ::shutdown(client->fd(), SHUT_WR);
      } else if (verb[1] != '<') {
        client->send(verb[1] == '>' ? rest + "\n" : " \t\r\n");  // a_ sends a blank line
      } else {
        auto got = client->read_line();
        EXPECT_EQ(got.value_or("<end>"), rest.empty() ? "<end>" : rest);
      }
    } else if (verb == "close") {
      clients.erase(rest[0]);
    } else if (verb == "user:" || verb == "type:") {
      started().child().write(replace_all(rest, "\\n", "\n") + (verb == "user:" ? "\n" : ""));
    } else if (verb == "show:") {
      EXPECT_EQ(started().child().read_line().value_or("<end>"), rest);
    } else if (verb == "eof") {
      started().child().close_stdin();
    } else if (verb == "deaf") {
      started().child().close_stdout();
    } else if (verb == "stop") {
      ::kill(started().child().pid(), SIGTERM);
      EXPECT_TRUE(app->wait_for_output("elmwrite-headless: stopped"));
      EXPECT_EQ(app->child().wait(), 0);
    } else if (verb == "refused:") {
      const auto before = listing();
      auto run = run_elmpad({.home = home.path(), .program = HEADLESS_BIN}, std::chrono::seconds(20));
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "elmwrite-headless: " + rest + "\n");
      EXPECT_EQ(listing(), before);
    } else if (verb == "root-only") {
      if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can give files away";
    } else if (verb == "file") {
      home.write_file(rel, text);
    } else if (verb == "dir") {
      home.make_dir(rest);
    } else if (verb == "fifo") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else if (verb == "stale-socket") {
      make_stale_socket(home.socket_path());
    } else if (verb == "symlink") {
      ASSERT_EQ(::symlink(text.c_str(), path.c_str()), 0);
    } else if (verb == "chown") {
      ASSERT_EQ(::lchown(path.c_str(), 12345, 12345), 0);
    } else if (verb == "chmod") {
      ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(std::stoi(rel, nullptr, 8))), 0);
    } else if (verb == "umask") {
      umask_before = ::umask(static_cast<mode_t>(std::stoi(rest, nullptr, 8)));
    } else if (verb == "mode") {
      struct stat st {};
      EXPECT_EQ(::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0, static_cast<mode_t>(std::stoi(rel, nullptr, 8))) << text;
    } else if (verb == "content") {
      EXPECT_EQ(home.read_file(rel), text);
    } else if (verb == "gone") {
      EXPECT_FALSE(std::filesystem::exists(path));
    } else {
      FAIL() << "unknown line: " << raw;
    }
  }
  if (umask_before) ::umask(*umask_before);
}

std::vector<CaseText> transcripts() { return read_cases(HEADLESS_TEST_DATA "/socket.txt"); }
INSTANTIATE_TEST_SUITE_P(Transcripts, Conversation, ::testing::ValuesIn(transcripts()), case_name);
TEST(HeadlessSocket, TheTranscriptsAreRead) { EXPECT_GT(transcripts().size(), 20u); }


TEST(HeadlessSocket, ConcurrentWritersLoseNoEdit) {
  TempHome home;
  std::string note = home.write_file("n.md", "# A\n# B\n");
  HeadlessApp app(home);
  constexpr int kClients = 6, kEdits = 15;
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      AppClient client(home.socket_path()), reader(home.socket_path());
      for (int e = 0; e < kEdits; ++e) {
        std::string answer = client.ask(R"({"id":1,"proto":1,"cmd":"write_section","path":)" + testing::quoted(note) + R"(,"heading":")" +
                                        (c % 2 ? "A" : "B") + R"(","operation":"append","content":"c)" +
                                        std::to_string(c) + "e" + std::to_string(e) + "\"}");
        EXPECT_NE(answer.find(R"("ok":true)"), std::string::npos) << answer;
        // A reader never sees a half-written file.
        std::string read = reader.ask(R"({"id":1,"proto":1,"cmd":"read_section","path":)" + testing::quoted(note) + R"(,"heading":"A"})");
        EXPECT_NE(read.find(R"("ok":true)"), std::string::npos) << read;
      }
    });
  }
  for (auto& t : threads) t.join();
  const std::string text = home.read_file("n.md");
  for (int edit = 0; edit < kClients * kEdits; ++edit) {
    EXPECT_TRUE(text.contains("c" + std::to_string(edit / kEdits) + "e" + std::to_string(edit % kEdits) + "\n")) << edit;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 2) << "n.md and Library alone";
}

// An app whose socket is removed (its HOME deleted, another app took it
// over) can no longer be reached: it stops by itself, and cleanly.
TEST(HeadlessSocket, AnAppWhoseSocketIsGoneStops) {
  TempHome home;
  HeadlessApp app(home);
  std::filesystem::remove(home.socket_path());
  EXPECT_TRUE(app.wait_for_output("elmwrite-headless: socket gone, stopping"));
  EXPECT_EQ(app.child().wait(), 0);
}

// A client that stops reading in the middle of an answer far larger than
// the socket holds: another client closing its tab is answered all the same,
// and once the first one reads, it gets the whole answer, then the event.
TEST(HeadlessSocket, AClientThatStopsReadingHoldsUpNobody) {
  TempHome home;
  std::string body;
  for (int i = 0; body.size() < (4u << 20); ++i) body += "line " + std::to_string(i) + "\n";
  std::string note = home.write_file("big.md", "# Big\n" + body);
  HeadlessApp app(home);
  AppClient stuck(home.socket_path());
  ASSERT_EQ(stuck.ask(R"({"id":1,"proto":1,"cmd":"open","path":)" + testing::quoted(note) + R"(,"wait":true})"),
            R"({"data":{"path":)" + testing::quoted(note) + R"(},"id":1,"ok":true})");
  stuck.send(R"({"id":2,"proto":1,"cmd":"read_section","path":)" + testing::quoted(note) + R"(,"heading":"Big"})" "\n");
  pollfd answering{stuck.fd(), POLLIN, 0};  // the app is writing the answer, and cannot finish
  ASSERT_EQ(::poll(&answering, 1, 30000), 1);

  EXPECT_EQ(AppClient(home.socket_path()).ask(R"({"id":1,"proto":1,"cmd":"execute_command","command":"tab.close"})"),
            R"({"data":{"command":"tab.close","ran":true},"id":1,"ok":true})");
  app.user("tabs");
  EXPECT_TRUE(app.wait_for_output("no tabs"));

  auto answer = stuck.read_line();
  ASSERT_TRUE(answer.has_value());
  json got = json::parse(*answer, nullptr, false);
  EXPECT_EQ(got.value("id", 0), 2);
  EXPECT_TRUE(got["data"].value("content", "").ends_with(body)) << answer->substr(0, 200);
  EXPECT_EQ(stuck.read_line(), R"({"event":"closed","id":1,"outcome":"done"})");
}

}  // namespace
}  // namespace elmpad::testing
