// Cancelling a blocking wait_for_change with notifications/cancelled while
// the main loop is busy with it.
#include <dirent.h>

#include "fake_app.h"
#include "mcp_client.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

constexpr const char* kCancelled = R"({"cancelled":true,"changed":false,"source":"cancelled"})";

std::string cancel_line(const std::string& request_id) {
  return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)" + request_id +
         R"(,"reason":"user interrupt"}})";
}

// The reader thread acts on a line some time after it was written and gives
// no sign of it; a pause before releasing the fake makes a wrong match
// observable. It never makes a correct server fail.
void let_the_reader_catch_up() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

// The descriptors `pid` has open; -1 where the system does not list them.
int open_descriptors(pid_t pid) {
  DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

class McpCancel : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = home_.write_file("notes.md", "# a\n");
    ASSERT_TRUE(wait_for_cmd(app_, "attach_session"));  // the attempt at start-up
  }
  TempHome home_;
  FakeApp app_{home_.path()};
  std::string file_;
  McpClient client_{{.home = home_.path()}};
};

TEST_F(McpCancel, AMatchingCancellationEndsTheWaitAndTheQueueMovesOn) {
  std::size_t waits_sent = 0;
  for (const auto& [id, args] : std::vector<std::pair<std::string, json>>{
           {"7", {{"path", file_}}},
           {R"("w-1")", {{"workspace", home_.path()}, {"timeout_seconds", 600}}},
           {"7", {{"path", file_}, {"workspace", home_.path()}}}}) {
    app_.hold("wait_for_change");
    std::size_t waits = ++waits_sent;
    client_.send(McpClient::call_line(id, "wait_for_change", args));
    client_.send(R"({"id":8,"method":"ping"})");
    ASSERT_TRUE(wait_for_cmd(app_, "wait_for_change", waits));
    client_.send(cancel_line(id));
    EXPECT_EQ(client_.next(), ok_reply(kCancelled, id));
    EXPECT_EQ(client_.next(), R"({"id":8,"jsonrpc":"2.0","result":{}})");
  }
  // The app saw each waiting connection end.
  EXPECT_TRUE(eventually([&] { return app_.connections_open() == 0; }));
  // A later wait is not cancelled in advance.
  app_.reply("wait_for_change", {R"({"id":1,"ok":true,"data":{"changed":true,"exists":true}})"});
  EXPECT_EQ(client_.call("wait_for_change", {{"path", file_}}), ok_reply(R"({"changed":true,"exists":true})"));
}

TEST_F(McpCancel, OnlyTheSameIdOfTheSameTypeCancels) {
  app_.on("wait_for_change", Action{.lines = {R"({"id":1,"ok":true,"data":{"source":"timeout","timedOut":true}})"},
                                    .hold = true});
  client_.send(McpClient::call_line("7", "wait_for_change", {{"path", file_}}));
  ASSERT_TRUE(wait_for_cmd(app_, "wait_for_change"));
  for (const char* other : {R"("7")", "7.0", "8", "null", "[7]"}) client_.send(cancel_line(other));
  // Looks like a cancellation but is a request: answered, cancels nothing.
  client_.send(R"({"id":9,"method":"notifications/cancelled","params":{"requestId":7}})");
  client_.send(R"({"method":"notifications/cancelled","params":{"id":7}})");
  let_the_reader_catch_up();
  app_.release();
  EXPECT_EQ(client_.next(), ok_reply(R"({"source":"timeout","timedOut":true})", "7"));
  EXPECT_EQ(client_.next(),
            R"({"error":{"code":-32601,"message":"method not found: notifications/cancelled"},"id":9,"jsonrpc":"2.0"})");
}

// An id beyond 64 bits is echoed as sent, and only that exact number
// cancels: the double the JSON library would read it as is not the id.
TEST_F(McpCancel, AnIdBeyondSixtyFourBitsIsMatchedAndEchoedExactly) {
  const std::string id = "123456789012345678901234567890";
  app_.on("wait_for_change", Action{.lines = {R"({"id":1,"ok":true})"}, .hold = true});
  client_.send(McpClient::call_line(id, "wait_for_change", {{"path", file_}}));
  ASSERT_TRUE(wait_for_cmd(app_, "wait_for_change"));
  for (const char* other : {"123456789012345678901234567891", "1.2345678901234568e+29"}) client_.send(cancel_line(other));
  let_the_reader_catch_up();
  app_.release();
  EXPECT_EQ(client_.next(), ok_reply(R"({"changed":false,"timedOut":true})", id));

  app_.hold("wait_for_change");
  client_.send(McpClient::call_line(id, "wait_for_change", {{"path", file_}}));
  ASSERT_TRUE(wait_for_cmd(app_, "wait_for_change", 2));
  client_.send(cancel_line(id));
  EXPECT_EQ(client_.next(), ok_reply(kCancelled, id));
}

TEST_F(McpCancel, OtherToolsCannotBeCancelled) {
  app_.on("read_section", Action{.lines = {R"({"id":1,"ok":true,"data":{"content":"x"}})"}, .hold = true});
  client_.send(McpClient::call_line("3", "read_section", {{"path", file_}}));
  ASSERT_TRUE(wait_for_cmd(app_, "read_section"));
  client_.send(cancel_line("3"));
  let_the_reader_catch_up();
  app_.release();
  EXPECT_EQ(client_.next(), ok_reply(R"({"content":"x"})", "3"));
}

TEST_F(McpCancel, ACancellationBeforeTheCallDoesNotAffectIt) {
  client_.send(cancel_line("4"));
  app_.reply("wait_for_change", {R"({"id":1,"ok":true})"});
  EXPECT_EQ(client_.ask(McpClient::call_line("4", "wait_for_change", {{"path", file_}})),
            ok_reply(R"({"changed":false,"timedOut":true})", "4"));
}

TEST_F(McpCancel, AWaitThatBreaksWithoutCancellationIsAnError) {
  app_.hang_up_on("wait_for_change");
  EXPECT_EQ(client_.call("wait_for_change", {{"path", file_}}), err_reply("CHANNEL_CLOSED", "connection closed by app"));
  app_.reply("wait_for_change", {"{\"id\":1,\"ok\":tru"});
  std::string reply = client_.call("wait_for_change", {{"path", file_}});
  EXPECT_TRUE(reply.find(R"(\"code\":\"PROTO_ERROR\")") != std::string::npos) << reply;
}

TEST_F(McpCancel, NoDescriptorOutlivesItsCall) {
  EXPECT_EQ(client_.ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  int before = open_descriptors(client_.child().pid());
  if (before < 0) GTEST_SKIP() << "no /proc to count descriptors";
  for (int round = 0; round < 3; ++round) {
    app_.hold("wait_for_change");
    client_.send(McpClient::call_line("7", "wait_for_change", {{"path", file_}}));
    ASSERT_TRUE(wait_for_cmd(app_, "wait_for_change", round + 1));
    client_.send(cancel_line("7"));
    EXPECT_EQ(client_.next(), ok_reply(kCancelled, "7"));
    app_.hang_up_on("read_section");
    EXPECT_EQ(client_.call("read_section", {{"path", file_}}), err_reply("CHANNEL_CLOSED", "connection closed by app"));
    app_.reply("execute_command", {R"({"id":1,"ok":false})"});
    EXPECT_EQ(client_.call("execute_command", {{"id", "x"}}), err_reply("EXECUTE_FAILED", "request failed"));
    EXPECT_EQ(client_.call("read_section", {{"path", home_.path()}}), err_reply("PATH_IS_DIRECTORY", home_.path()));
  }
  EXPECT_EQ(open_descriptors(client_.child().pid()), before);
}

}  // namespace
}  // namespace elmpad::testing
