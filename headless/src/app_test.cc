// The app's requests as one connection's thread carries them out, for
// clients on socket pairs.
#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app.h"
#include "read_budget.h"
#include "request_decode.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::headless {
namespace {

class AppReadTest : public ::testing::Test {
 protected:
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
    ::testing::internal::CaptureStdout();  // what the app shows while it runs
    answer = app_.handle(*request, conn);
    shown = ::testing::internal::GetCapturedStdout();
    return answer ? encode_server_msg(*answer) : "<none>";
  }

  testing::TempHome home_;
  std::string note_ = home_.write_file("n.md", "# A\ntext\n");
  App app_{WakePipe::make().value()};
};

// Nobody reads the answer of a client that closed its connection or shut it
// down both ways (a cancelled call): its read is not carried out, and the
// app says so. One that only ended its requests still reads its answer.
TEST_F(AppReadTest, AHungUpClientsReadIsNotCarriedOut) {
  enum How { kOpen, kEndedRequests, kCancelled, kClosed };
  for (How how : {kOpen, kEndedRequests, kCancelled, kClosed}) {
    SCOPED_TRACE(how);
    int client = -1;
    ClientConnection conn = connect(client);
    if (how == kEndedRequests || how == kCancelled) ::shutdown(client, how == kCancelled ? SHUT_RDWR : SHUT_WR);
    if (how == kClosed) ::close(client);
    std::string shown;
    json answer = json::parse(read(conn, shown), nullptr, false);
    const bool gone = how >= kCancelled;
    EXPECT_EQ(shown, gone ? "not reading " + note_ + ": its client hung up\n" : "");
    EXPECT_EQ(answer.is_discarded() ? "<none>" : answer["data"].value("content", ""), gone ? "<none>" : "text\n");
    if (how != kClosed) ::close(client);
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
