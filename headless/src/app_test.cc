// The app's requests as one connection's thread carries them out, for
// clients on socket pairs.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app.h"
#include "read_budget.h"
#include "request_decode.h"
#include "support.h"

namespace elmpad::headless {
namespace {

// What the app shows on its standard output while one call runs.
template <class Call>
std::string shown_during(Call call) {
  int out[2];
  EXPECT_EQ(::pipe(out), 0);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(out[1], STDOUT_FILENO);
  ::close(out[1]);
  call();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  return got;
}

class AppReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/elmwrite-app-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    note_ = dir_ + "/n.md";
    std::ofstream(note_, std::ios::binary) << "# A\ntext\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A connection whose client end `client` gets, for the test to hang up.
  ClientConnection connect(int& client) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    client = fds[1];
    return ClientConnection{Peer::make(UniqueFd(fds[0])).value(), {}};
  }
  // The read's answer, or "<none>"; `shown` gets what the app showed.
  std::string read(ClientConnection& conn, std::string& shown) {
    auto request = decode_request(R"({"id":3,"proto":1,"cmd":"read_section","path":)" + testing::quoted(note_) +
                                  R"(,"heading":"A"})");
    EXPECT_TRUE(request.has_value());
    std::optional<Response> answer;
    shown = shown_during([&] { answer = app_.handle(*request, conn); });
    return answer ? encode_server_msg(*answer) : "<none>";
  }

  std::string dir_, note_;
  App app_{WakePipe::make().value()};
};

// Nobody reads the answer of a client that closed its connection or shut it
// down both ways (a cancelled call): its read is not carried out, and the
// app says so.
TEST_F(AppReadTest, AHungUpClientsReadIsNotCarriedOut) {
  for (bool cancelled : {false, true}) {
    SCOPED_TRACE(cancelled ? "shut down" : "closed");
    int client = -1;
    ClientConnection conn = connect(client);
    if (cancelled) ::shutdown(client, SHUT_RDWR);
    else ::close(client);
    std::string shown;
    EXPECT_EQ(read(conn, shown), "<none>");
    EXPECT_EQ(shown, "not reading " + note_ + ": its client hung up\n");
    if (cancelled) ::close(client);
  }
}

// A client that sent its last request and shut down its writing side still
// reads: it gets its answer, as a client that keeps the connection open does.
TEST_F(AppReadTest, AClientThatOnlyEndedItsRequestsIsAnswered) {
  for (bool half_closed : {false, true}) {
    SCOPED_TRACE(half_closed ? "half closed" : "open");
    int client = -1;
    ClientConnection conn = connect(client);
    if (half_closed) ::shutdown(client, SHUT_WR);
    std::string shown;
    json answer = json::parse(read(conn, shown), nullptr, false);
    EXPECT_EQ(answer.value("ok", false), true);
    EXPECT_EQ(answer["data"].value("content", ""), "text\n");
    EXPECT_EQ(shown, "");
    ::close(client);
  }
}

// Large reads share the budget; a note larger than all of it is read alone,
// small ones never wait, and a read waiting for room gets it once a share
// goes.
TEST(ReadBudget, LargeReadsWaitForRoomSmallOnesNever) {
  ReadBudget budget(48u << 20);
  std::optional<ReadBudget::Share> alone(budget.take(100u << 20));
  { auto small = budget.take(kSmallNoteBytes - 1); }
  alone.reset();
  std::optional<ReadBudget::Share> first(budget.take(32u << 20));
  auto beside = budget.take(16u << 20);
  std::atomic<bool> taken{false};
  std::thread waiting([&] {
    auto share = budget.take(16u << 20);
    taken = true;
  });
  first.reset();
  waiting.join();
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace elmpad::headless
