#include "app_client/exchange.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include "app_client/app_connection.h"

namespace elmpad {
namespace {

// One end is the tool's connection, the other plays the application.
class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto conn = AppConnection::over(UniqueFd(fds[0]));
    ASSERT_TRUE(conn);
    conn_.emplace(std::move(*conn));
    app_ = UniqueFd(fds[1]);
  }
  void app_says(const std::string& bytes) { ASSERT_TRUE(write_all(app_.get(), bytes)); }
  void app_hangs_up() { app_.reset(); }
  std::string app_heard() {
    LineReader reader(std::move(*dup_cloexec(app_.get())));
    std::string line;
    EXPECT_TRUE(reader.read_line(line));
    return line;
  }

  std::optional<AppConnection> conn_;
  UniqueFd app_;
};

// A request goes out as one line; its answer is read for its id.
TEST_F(ExchangeTest, AskSendsTheRequestAndReadsItsAnswer) {
  app_says("{\"id\":7,\"ok\":true}\n{\"id\":8,\"ok\":true,\"data\":2}\n");
  auto answer = conn_->ask(Request{.id = 8, .session = 3, .cmd = cmd::GetContext{}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(app_heard(), "{\"id\":8,\"proto\":1,\"session\":3,\"cmd\":\"get_context\"}\n");
  ASSERT_TRUE(answer->ok && answer->data);
  EXPECT_EQ(as_tree(std::move(*answer->data)), json(2));
}

// Past the deadline a silent app ends the exchange, and a line that outgrows
// the limit of a read is no line.
TEST_F(ExchangeTest, DeadlineAndLimit) {
  ASSERT_TRUE(conn_->set_deadline(std::chrono::steady_clock::now()));
  auto late = conn_->read_answer(1);
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error(), RunErr::from_errno("SOCKET_ERROR", ETIMEDOUT));
  app_says(std::string(11, ' '));
  auto long_line = conn_->read_line(10);
  ASSERT_FALSE(long_line);
  EXPECT_EQ(long_line.error(), RunErr::from_errno("SOCKET_ERROR", EMSGSIZE));
}

// Events and other ids are skipped; a refusal becomes code and params, its
// data dropped; an error beside ok is ignored.
TEST_F(ExchangeTest, ReadAnswer) {
  app_says("{\"id\":1,\"event\":\"x\"}\n{\"id\":2,\"ok\":false}\n{\"id\":1,\"ok\":true,\"data\":{\"a\":1}}\n"
           "{\"id\":2,\"ok\":false,\"data\":5,\"error\":{\"code\":\"HEADING_NOT_FOUND\"}}\n{\"id\":3,\"ok\":false}\n"
           "{\"id\":4,\"ok\":true,\"error\":{\"code\":\"IGNORED\"}}\n"
           "{\"id\":5,\"ok\":false,\"error\":{\"code\":\"NOT_FOUND\",\"params\":{\"b\":\"2\",\"a\":\"1\"}},\"data\":1}\n");
  const std::pair<bool, std::string> want[] = {
      {true, R"({"a":1})"}, {false, R"({"code":"HEADING_NOT_FOUND","params":{}})"}, {false, ""}, {true, ""},
      {false, R"({"code":"NOT_FOUND","params":{"a":"1","b":"2"}})"}};
  for (std::uint64_t id = 1; id <= 5; ++id) {
    auto answer = conn_->read_answer(id);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->ok, want[id - 1].first);
    if (answer->ok) {
      EXPECT_EQ(answer->data ? compact(as_tree(std::move(*answer->data))) : "", want[id - 1].second);
    } else {
      EXPECT_EQ(answer->error ? compact(*answer->error) : "", want[id - 1].second);
    }
  }
}

// Hanging up, a line that is not UTF-8 and one that is no server message
// are in the command-line transcripts.
TEST_F(ExchangeTest, Failures) {
  struct Case {
    std::string bytes;
    std::string code;
    std::string message;  // empty: only the code is checked
  };
  const Case cases[] = {
      {"\n", "PROTO_ERROR", ""},
      {"{\"id\":1,\"ok\":true} x\n", "PROTO_ERROR", ""},
      // A bad line fails the read even though it was not the awaited answer.
      {"{\"id\":2,\"event\":\"e\",\"outcome\":\"nope\"}\n{\"id\":1,\"ok\":true}\n", "PROTO_ERROR", ""},
      // Also where the scan would have passed the data on as text.
      {"{\"id\":1,\"ok\":true,\"data\":\"\xc3\"}\n", "SOCKET_ERROR", "stream did not contain valid UTF-8"},
      {std::string("{\"id\":1,\"ok\":true,\"data\":2}\0\n", 29), "PROTO_ERROR", ""},
  };
  for (const auto& c : cases) {
    SetUp();
    app_says(c.bytes);
    app_hangs_up();
    auto answer = conn_->read_answer(1);
    ASSERT_FALSE(answer) << c.bytes;
    EXPECT_EQ(answer.error().code, c.code) << c.bytes;
    if (!c.message.empty()) {
      EXPECT_EQ(answer.error().message, c.message);
    }
  }
}

TEST_F(ExchangeTest, LastLineWithoutLineFeedStillCounts) {
  app_says("{\"id\":1,\"ok\":true}");
  app_hangs_up();
  EXPECT_TRUE(conn_->read_answer(1));
}

std::string printed(const Payload& data) {
  if (const auto* tree = std::get_if<json>(&data)) return compact(*tree);
  std::string out;
  std::get<RawJson>(data).append_compact(out, false);
  return out;
}

// The common answer is passed on as text, never parsed; every other line is
// parsed, and both read the same value. (That the scanner agrees with the
// parser on any line is the server-message fuzz target's check.)
TEST_F(ExchangeTest, DataIsTextWhereItCanBe) {
  struct Case {
    std::string bytes;
    std::string data;      // as the line writes it
    bool as_text = false;  // the data is expected as checked text
  };
  const Case cases[] = {
      {"{\"id\":1,\"ok\":true,\"data\":{\"z\":\"\\\"\u00e9\\n\\u00e9\",\"a\":[1,2.50,-0,1e2,true,null]}}\n",
       "{\"z\":\"\\\"\u00e9\\n\\u00e9\",\"a\":[1,2.50,-0,1e2,true,null]}", true},
      {"{\"event\":\"x\",\"id\":1}\n{\"id\":2,\"ok\":true,\"data\":1}\n{\"ok\":true,\"id\":1,\"data\":\"x\"} \r\n", "\"x\"",
       true},
      // Left to the parser: a repeated key, a byte order mark, an error
      // beside ok true.
      {"{\"id\":1,\"ok\":true,\"data\":{\"a\":1,\"a\":2}}\n", "{\"a\":2}"},
      {"\xEF\xBB\xBF{\"id\":1,\"ok\":true,\"data\":[]}\n", "[]"},
      {"{\"id\":1,\"ok\":true,\"error\":{\"code\":\"X\"},\"data\":3}\n", "3"},
  };
  for (const auto& c : cases) {
    SetUp();
    app_says(c.bytes);
    auto answer = conn_->read_answer(1);
    ASSERT_TRUE(answer && answer->ok && answer->data) << c.bytes;
    EXPECT_EQ(printed(*answer->data), compact(*parse_json(c.data))) << c.bytes;
    EXPECT_EQ(std::holds_alternative<RawJson>(*answer->data), c.as_text) << c.bytes;
  }
}

// Answers and other ids' events are passed over. (The outcomes, and the app
// hanging up before the event, are in the wait transcripts.)
TEST_F(ExchangeTest, ReadEventTakesTheFirstEventOfTheWait) {
  app_says("{\"id\":1,\"ok\":true}\n{\"id\":2,\"event\":\"closed\",\"outcome\":\"discarded\"}\n"
           "{\"id\":1,\"event\":\"closed\"}\n");
  auto event = conn_->read_event();
  ASSERT_TRUE(event);
  EXPECT_EQ(*event, Outcome::kDone);
}

}  // namespace
}  // namespace elmpad
