// The built app against real clients on its socket, with the test playing
// the user on its standard input.
#include <csignal>
#include <sys/stat.h>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "headless_app.h"
#include "json_text.h"
#include "server.h"

namespace elmpad::testing {
namespace {

std::string q(const std::string& s) { return json(s).dump(); }

TEST(HeadlessSocket, TakesOverAStaleSocketRefusesASecondInstanceAndCleansUp) {
  TempHome home;
  make_stale_socket(home.socket_path());
  {
    HeadlessApp app(home);
    AppClient client(home.socket_path());
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.ask(R"({"id":1,"proto":1,"cmd":"status"})"), R"({"data":{"running":true,"tabs":[]},"id":1,"ok":true})");

    auto second = run_elmpad({.home = home.path(), .program = HEADLESS_BIN});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "elmwrite-headless: another instance is already serving " + home.socket_path() + "\n");

    ::kill(app.child().pid(), SIGTERM);
    EXPECT_TRUE(app.wait_for_output("elmwrite-headless: stopped"));
    EXPECT_EQ(app.child().wait(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(home.socket_path()));
}

TEST(HeadlessSocket, BadRequestsGetAnErrorAndTheAppKeepsServing) {
  TempHome home;
  HeadlessApp app(home);
  AppClient client(home.socket_path());
  const std::pair<std::string, std::string> cases[] = {
      {R"({"id":1,"proto":1,"cmd":"fly"})",
       R"({"error":{"code":"BAD_REQUEST","params":{"detail":"unknown command `fly`"}},"id":1,"ok":false})"},
      {R"({"id":2,"proto":1,"cmd":"read_section"})",
       R"({"error":{"code":"BAD_REQUEST","params":{"detail":"missing field `path` for read_section"}},"id":2,"ok":false})"},
      {R"({"id":3,"proto":9,"cmd":"status"})",
       R"x({"error":{"code":"BAD_REQUEST","params":{"detail":"unsupported protocol version 9 (this application speaks 1)"}},"id":3,"ok":false})x"},
      {R"([1,2])", R"({"error":{"code":"BAD_REQUEST","params":{"detail":"a request must be a JSON object"}},"id":0,"ok":false})"},
      {R"({"id":4,"proto":1,"cmd":"execute_command","command":"warp"})",
       R"({"error":{"code":"UNKNOWN_COMMAND","params":{"command":"warp","detail":"known commands: tab.close, tab.discard, tab.next, tab.previous, file.openTodayNote"}},"id":4,"ok":false})"},
      {R"({"id":5,"proto":1,"cmd":"read_section","path":)" + q(home.path() + "/none.md") + "}",
       R"({"error":{"code":"NOT_FOUND","params":{"detail":"no such file","path":)" + q(home.path() + "/none.md") +
           R"(}},"id":5,"ok":false})"},
      {R"({"id":6,"proto":1,"cmd":"open","path":)" + q(home.path() + "/none.png") + R"(,"wait":false})",
       R"({"error":{"code":"NOT_FOUND","params":{"detail":"no such image","path":)" + q(home.path() + "/none.png") +
           R"(}},"id":6,"ok":false})"},
  };
  for (const auto& [request, answer] : cases) EXPECT_EQ(client.ask(request), answer);
  // Bad user commands, then the end of standard input: the app goes on.
  app.user("fly away");
  EXPECT_EQ(app.next_output(), "error: unknown command 'fly away' (type help)");
  app.user("close /no/such.md");
  EXPECT_EQ(app.next_output(), "error: no tab is open for /no/such.md");
  app.child().close_stdin();
  client.send(" \t\r");  // blank lines are passed over
  client.send("");
  EXPECT_EQ(client.ask(R"({"id":7,"proto":1,"cmd":"status"})"), R"({"data":{"running":true,"tabs":[]},"id":7,"ok":true})");
  // Nothing was written for the missing note.
  EXPECT_FALSE(std::filesystem::exists(home.path() + "/none.md"));
}

TEST(HeadlessSocket, OpenWithWaitEndsWithTheUsersCloseOrDiscard) {
  TempHome home;
  HeadlessApp app(home);
  std::string note = home.path() + "/new.md";
  for (const char* verb : {"close", "discard"}) {
    AppClient client(home.socket_path());
    EXPECT_EQ(client.ask(R"({"id":5,"proto":1,"cmd":"open","path":)" + q(note) + R"(,"wait":true,"source":"git"})"),
              R"({"data":{"path":)" + q(note) + R"(},"id":5,"ok":true})");
    EXPECT_TRUE(std::filesystem::exists(note));  // a missing note is created
    app.user(std::string(verb) + " " + note);
    EXPECT_EQ(client.read_line(), std::string(R"({"event":"closed","id":5,"outcome":")") +
                                      (verb == std::string("close") ? "done" : "discarded") + "\"}");
    AppClient other(home.socket_path());
    EXPECT_EQ(other.ask(R"({"id":1,"proto":1,"cmd":"status"})"), R"({"data":{"running":true,"tabs":[]},"id":1,"ok":true})");
  }
}

TEST(HeadlessSocket, SessionsLiveWithTheirConnectionAndAttributeSidebarPosts) {
  TempHome home;
  HeadlessApp app(home);
  auto a = std::make_unique<AppClient>(home.socket_path());
  AppClient b(home.socket_path());
  EXPECT_EQ(a->ask(R"({"id":1,"proto":1,"cmd":"attach_session","cwd":"/w","token":"t"})"),
            R"({"data":{"session":1},"id":1,"ok":true})");
  EXPECT_EQ(b.ask(R"({"id":1,"proto":1,"cmd":"attach_session","cwd":"/v"})"), R"({"data":{"session":2},"id":1,"ok":true})");
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent session 2 attached (/v)"));
  AppClient poster(home.socket_path());
  EXPECT_EQ(poster.ask(R"({"id":1,"proto":1,"session":1,"cmd":"post_message","text":"all done"})"), R"({"id":1,"ok":true})");
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent 1: all done"));
  a.reset();
  EXPECT_TRUE(app.wait_for_output("[sidebar] agent session 1 ended"));
  EXPECT_EQ(poster.ask(R"({"id":2,"proto":1,"session":1,"cmd":"post_message","text":"late"})"),
            R"({"error":{"code":"NOT_ON_INTERCOM","params":{"detail":"only an attached agent session can post to the sidebar"}},"id":2,"ok":false})");
}

TEST(HeadlessSocket, WaitForChangeWakesOnBatchedMessagesTimeoutAndFileChange) {
  TempHome home;
  std::string ws = home.make_dir("notes");
  std::string note = home.write_file("notes/a.md", "# A\n");
  HeadlessApp app(home);
  AppClient agent(home.socket_path());
  ASSERT_EQ(agent.ask(R"({"id":1,"proto":1,"cmd":"attach_session","cwd":)" + q(ws) + "}"),
            R"({"data":{"session":1},"id":1,"ok":true})");
  AppClient waiter(home.socket_path());

  // Said while the agent was busy: one wake with both, in order.
  app.user("say " + ws + " change this bit");
  app.user("say " + ws + " actually that one");
  EXPECT_TRUE(app.wait_for_output("[sidebar] you -> " + ws + ": actually that one"));
  EXPECT_EQ(waiter.ask(R"({"id":2,"proto":1,"session":1,"cmd":"wait_for_change","workspace":)" + q(ws) + "}"),
            R"({"data":{"messages":[{"context":{"file":null,"heading":null,"selection":null},"text":"change this bit"},)"
            R"({"context":{"file":null,"heading":null,"selection":null},"text":"actually that one"}],"source":"message"},"id":2,"ok":true})");

  EXPECT_EQ(waiter.ask(R"({"id":3,"proto":1,"session":1,"cmd":"wait_for_change","workspace":)" + q(ws) + R"(,"timeout_secs":0})"),
            R"({"data":{"changed":false,"source":"timeout","timedOut":true},"id":3,"ok":true})");
  EXPECT_EQ(waiter.ask(R"({"id":4,"proto":1,"cmd":"wait_for_change","path":)" + q(note) + R"(,"timeout_secs":0})"),
            R"({"data":{"changed":false,"timedOut":true},"id":4,"ok":true})");

  // A content change: keep editing until the wait, which took its baseline
  // at some point, reports it.
  waiter.send(R"({"id":5,"proto":1,"cmd":"wait_for_change","path":)" + q(note) + R"(,"timeout_secs":600})");
  std::optional<std::string> woke;
  for (int i = 0; i < 30 && !woke; ++i) {
    home.write_file("notes/a.md", "# A\nedit " + std::to_string(i) + "\n");
    woke = waiter.read_line(std::chrono::seconds(1));
  }
  EXPECT_EQ(woke, R"({"data":{"changed":true,"exists":true},"id":5,"ok":true})");
}

TEST(HeadlessSocket, AFifoInPlaceOfANoteNeverBlocksItsReader) {
  TempHome home;
  std::string fifo = home.path() + "/pipe.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  HeadlessApp app(home);
  AppClient client(home.socket_path());
  EXPECT_EQ(client.ask(R"({"id":1,"proto":1,"cmd":"reveal","path":)" + q(fifo) + R"(,"heading":"A"})"),
            R"({"error":{"code":"READ_FAILED","params":{"detail":"not a regular file","path":)" + q(fifo) +
                R"(}},"id":1,"ok":false})");
  EXPECT_EQ(client.ask(R"({"id":2,"proto":1,"cmd":"read_section","path":)" + q(fifo) + "}"),
            R"({"error":{"code":"NOT_FOUND","params":{"detail":"not a regular file","path":)" + q(fifo) +
                R"(}},"id":2,"ok":false})");
}

TEST(HeadlessSocket, RevealScrollsTheTabWhateverFormThePathTakes) {
  TempHome home;
  std::string note = home.write_file("a.md", "# A\n## B\n");
  HeadlessApp app(home);
  AppClient client(home.socket_path());
  std::string typed = home.path() + "/./a.md";
  EXPECT_EQ(client.ask(R"({"id":1,"proto":1,"cmd":"reveal","path":)" + q(typed) + R"(,"heading":"b"})"),
            R"({"data":{"heading":"B","path":)" + q(typed) + R"(},"id":1,"ok":true})");
  std::string context = client.ask(R"({"id":2,"proto":1,"cmd":"get_context"})");
  EXPECT_NE(context.find(R"("visibleHeading":"B")"), std::string::npos) << context;
}

TEST(HeadlessSocket, APathWithANulByteNamesNothing) {
  TempHome home;
  HeadlessApp app(home);
  AppClient client(home.socket_path());
  std::string cut = home.path() + "/a.md";
  EXPECT_EQ(client.ask(R"({"id":1,"proto":1,"cmd":"open","path":)" + q(cut + std::string(1, '\0') + ".png") +
                       R"(,"wait":false})"),
            R"({"error":{"code":"BAD_REQUEST","params":{"detail":"field `path` must not contain a NUL byte for open"}},"id":1,"ok":false})");
  EXPECT_FALSE(std::filesystem::exists(cut));
}

TEST(HeadlessSocket, ConcurrentWritersLoseNoEdit) {
  TempHome home;
  std::string note = home.write_file("n.md", "# A\n# B\n");
  HeadlessApp app(home);
  constexpr int kClients = 6, kEdits = 15;
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      AppClient client(home.socket_path());
      for (int e = 0; e < kEdits; ++e) {
        std::string heading = c % 2 ? "A" : "B";
        std::string answer = client.ask(R"({"id":1,"proto":1,"cmd":"write_section","path":)" + q(note) +
                                        R"(,"heading":")" + heading + R"(","operation":"append","content":"c)" +
                                        std::to_string(c) + "e" + std::to_string(e) + "\"}");
        EXPECT_NE(answer.find(R"("ok":true)"), std::string::npos) << answer;
        // A reader never sees a half-written file.
        AppClient reader(home.socket_path());
        std::string read = reader.ask(R"({"id":1,"proto":1,"cmd":"read_section","path":)" + q(note) + R"(,"heading":"A"})");
        EXPECT_NE(read.find(R"("ok":true)"), std::string::npos) << read;
      }
    });
  }
  for (auto& t : threads) t.join();
  std::string text = home.read_file("n.md");
  for (int c = 0; c < kClients; ++c) {
    for (int e = 0; e < kEdits; ++e) {
      EXPECT_NE(text.find(std::string("c").append(std::to_string(c)).append("e").append(std::to_string(e)) + "\n"), std::string::npos);
    }
  }
  // No temporary file is left behind.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(home.path())) ++entries;
  EXPECT_EQ(entries, 2);  // n.md and Library
}

// A line longer than any request may be is refused, whether or not its end
// has come, and only its connection ends.
TEST(HeadlessSocket, ARequestLineTooLongIsRefused) {
  TempHome home;
  HeadlessApp app(home);
  for (bool ended : {false, true}) {
    AppClient client(home.socket_path());
    // Past the limit by more than the app reads at once, the line's end is
    // still to come when the limit is passed; past it by one, it most likely
    // comes with the last byte.
    std::thread sender([&] { client.send(std::string(headless::kMaxRequestLine + (ended ? 1 : 128 << 10), 'x')); });
    EXPECT_EQ(client.read_line(), R"({"error":{"code":"BAD_REQUEST","params":{"detail":"request line too long"}},"id":0,"ok":false})");
    EXPECT_EQ(client.read_line(), std::nullopt);
    sender.join();
  }
  AppClient other(home.socket_path());
  EXPECT_EQ(other.ask(R"({"id":1,"proto":1,"cmd":"status"})"), R"({"data":{"running":true,"tabs":[]},"id":1,"ok":true})");
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
  ASSERT_EQ(stuck.ask(R"({"id":1,"proto":1,"cmd":"open","path":)" + q(note) + R"(,"wait":true})"),
            R"({"data":{"path":)" + q(note) + R"(},"id":1,"ok":true})");
  stuck.send(R"({"id":2,"proto":1,"cmd":"read_section","path":)" + q(note) + R"(,"heading":"Big"})");
  ASSERT_TRUE(stuck.wait_readable());  // the app is writing the answer, and cannot finish

  AppClient other(home.socket_path());
  EXPECT_EQ(other.ask(R"({"id":1,"proto":1,"cmd":"execute_command","command":"tab.close"})"),
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

// The user's write protection holds: a read-only note is refused and left
// as it was. A killed write's leftover beside a note goes when the note is
// opened.
TEST(HeadlessSocket, NotesOnDiskKeepTheirProtectionAndLoseTheirLeftovers) {
  TempHome home;
  std::string note = home.write_file("r.md", "# R\nold\n");
  ASSERT_EQ(::chmod(note.c_str(), 0444), 0);
  std::string leftover = home.write_file(".r.md.elmwrite-x1Y2z3", "# R\nha");
  HeadlessApp app(home);
  AppClient client(home.socket_path());
  EXPECT_EQ(client.ask(R"({"id":1,"proto":1,"cmd":"write_section","path":)" + q(note) +
                       R"(,"heading":"R","operation":"append","content":"new"})"),
            R"({"error":{"code":"READ_ONLY","params":{"detail":"the note is read-only: its permissions do not allow writing","path":)" +
                q(note) + R"(}},"id":1,"ok":false})");
  EXPECT_EQ(home.read_file("r.md"), "# R\nold\n");
  struct stat st {};
  ASSERT_EQ(::stat(note.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_TRUE(std::filesystem::exists(leftover));

  EXPECT_EQ(client.ask(R"({"id":2,"proto":1,"cmd":"open","path":)" + q(note) + R"(,"wait":false})"),
            R"({"data":{"path":)" + q(note) + R"(},"id":2,"ok":true})");
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Under a umask that lets the group in, the app's folder and socket are still
// the user's alone, and a folder an older version left open is closed.
TEST(HeadlessSocket, TheSocketIsTheUsersAloneWhateverTheUmask) {
  const std::string folder_tail = "/Library/Application Support/com.tarn.elmwrite";
  for (mode_t existing : {0, 0775, 0720}) {  // 0: no folder yet
    SCOPED_TRACE(existing);
    TempHome home;
    if (existing) {
      ASSERT_EQ(::chmod(home.make_dir(folder_tail.substr(1)).c_str(), existing), 0);
    }
    mode_t before = ::umask(002);
    {
      HeadlessApp app(home);
      ::umask(before);
      const std::string folder = home.path() + folder_tail;
      EXPECT_EQ(mode_of(folder), S_IFDIR | 0700);
      EXPECT_EQ(mode_of(home.socket_path()), S_IFSOCK | 0600);
      EXPECT_EQ(mode_of(home.socket_path() + ".lock"), S_IFREG | 0600);
      if (!existing) {
        // Folders made on the way are the user's alone too.
        EXPECT_EQ(mode_of(home.path() + "/Library"), S_IFDIR | 0700);
        EXPECT_EQ(mode_of(home.path() + "/Library/Application Support"), S_IFDIR | 0700);
      }
      AppClient client(home.socket_path());
      EXPECT_EQ(client.ask(R"({"id":1,"proto":1,"cmd":"status"})"), R"({"data":{"running":true,"tabs":[]},"id":1,"ok":true})");
    }
    ::umask(before);
  }
}

// The app's folder, its socket path and its lock must be the user's own: the
// app refuses to start rather than serve from, or take over, anything else,
// and leaves it as it found it.
TEST(HeadlessSocket, NeverServesFromOrTakesOverWhatIsNotTheUsers) {
  const bool root = ::geteuid() == 0;  // only the superuser can give files away
  struct Case {
    const char* what;
    std::function<void(const TempHome&)> arrange;
    std::function<std::string(const TempHome&)> message;
  };
  auto folder = [](const TempHome& home) { return std::filesystem::path(home.socket_path()).parent_path().string(); };
  const Case cases[] = {
      {"a file at the socket path",
       [](const TempHome& home) { home.write_file("Library/Application Support/com.tarn.elmwrite/elmpad.sock", "mine"); },
       [](const TempHome& home) { return home.socket_path() + " exists and is not a socket; not replacing it"; }},
      {"a file in place of a folder above",
       [](const TempHome& home) { home.write_file("Library", "mine"); },
       [](const TempHome& home) { return "cannot create " + home.path() + "/Library/Application Support: Not a directory"; }},
      {"a file in place of the folder",
       [](const TempHome& home) { home.write_file("Library/Application Support/com.tarn.elmwrite", "mine"); },
       [&](const TempHome& home) { return folder(home) + " is not a folder"; }},
      {"another user's folder",
       [&](const TempHome& home) {
         ASSERT_EQ(::chown(home.make_dir("Library/Application Support/com.tarn.elmwrite").c_str(), 12345, 12345), 0);
       },
       [&](const TempHome& home) { return folder(home) + " belongs to another user; not serving from it"; }},
      {"another user's stale socket",
       [](const TempHome& home) {
         make_stale_socket(home.socket_path());
         ASSERT_EQ(::lchown(home.socket_path().c_str(), 12345, 12345), 0);
       },
       [](const TempHome& home) { return home.socket_path() + " belongs to another user; not taking it over"; }},
      {"another user's lock",
       [](const TempHome& home) {
         std::string lock = home.write_file("Library/Application Support/com.tarn.elmwrite/elmpad.sock.lock", "");
         ASSERT_EQ(::chown(lock.c_str(), 12345, 12345), 0);
       },
       [](const TempHome& home) { return home.socket_path() + ".lock belongs to another user; not using it"; }},
      {"a link in place of the lock",
       [](const TempHome& home) {
         home.make_socket_dir();
         ASSERT_EQ(::symlink((home.path() + "/elsewhere").c_str(), (home.socket_path() + ".lock").c_str()), 0);
       },
       [](const TempHome& home) { return "open " + home.socket_path() + ".lock: Too many levels of symbolic links"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!root && std::string(c.what).starts_with("another user")) continue;
    TempHome home;
    c.arrange(home);
    std::vector<std::string> before;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home.path())) before.push_back(e.path().string());
    auto run = run_elmpad({.home = home.path(), .program = HEADLESS_BIN}, std::chrono::seconds(20));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "elmwrite-headless: " + c.message(home) + "\n");
    std::vector<std::string> after;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home.path())) after.push_back(e.path().string());
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace elmpad::testing
