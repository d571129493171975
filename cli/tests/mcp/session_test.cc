// Attaching to the application's agent session, against the fake app.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "fake_app.h"
#include "mcp_client.h"
#include "socket_path.h"
#include "temp_home.h"

namespace elmpad::testing {
namespace {

class McpSession : public ::testing::Test {
 protected:
  std::unique_ptr<McpClient> start(std::map<std::string, std::optional<std::string>> env = {}) {
    return std::make_unique<McpClient>(RunOptions{.home = home_.path(), .env = std::move(env), .cwd = home_.path()});
  }
  std::string attach_line(const std::string& token_member = "") const {
    return R"({"id":1,"proto":1,"cmd":"attach_session","cwd":")" + home_.path() + "\"" + token_member + "}\n";
  }
  static std::string context_line(const std::string& session_member) {
    return R"({"id":1,"proto":1)" + session_member + R"(,"cmd":"get_context"})" "\n";
  }
  TempHome home_;
};

TEST_F(McpSession, AttachesOnceTheAppIsThereAndThenCarriesTheSession) {
  auto client = start({{"ELMPAD_SESSION_TOKEN", "tok-ü"}});
  // No app yet: the server serves anyway.
  EXPECT_EQ(client->ask(R"({"id":1,"method":"initialize"})").substr(0, 8), R"({"id":1,)");
  EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":false,"version":"0.15.6"})"));

  FakeApp app(home_.path());
  app.reply("attach_session", {R"({"id":1,"ok":true,"data":{"session":7}})"});
  EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":true,"version":"0.15.6"})"));
  EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":true,"version":"0.15.6"})"));
  EXPECT_EQ(app.received(), (std::vector<std::string>{attach_line(R"(,"token":"tok-ü")"),
                                                      context_line(R"(,"session":7)"),
                                                      context_line(R"(,"session":7)")}));
  // The attaching connection stays open after the tools closed theirs.
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 1; }));
  EXPECT_EQ(app.connections_accepted(), 3u);
  client->child().close_stdin();
  EXPECT_EQ(client->child().wait(), 0);
  EXPECT_EQ(client->child().err(), "");
}

TEST_F(McpSession, TokenOnlyWhenSetNonEmptyAndText) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, ""},
      {"", ""},
      {"a\xFF", ""},
      {"s3cr\"t", R"(,"token":"s3cr\"t")"},
  };
  for (const auto& [token, member] : cases) {
    FakeApp app(home_.path());
    app.reply("attach_session", {R"({"id":1,"ok":true,"data":{"session":1}})"});
    auto client = start({{"ELMPAD_SESSION_TOKEN", token}});
    ASSERT_TRUE(app.wait_for_requests(1));  // attached at start-up
    EXPECT_EQ(app.received()[0], attach_line(member)) << member;
    EXPECT_EQ(client->ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  }
}

TEST_F(McpSession, UnusableGrantsAreRefusedAndRetriedAtTheNextCall) {
  FakeApp app(home_.path());
  using namespace std::string_literals;
  const std::string refusals[] = {
      R"({"id":1,"ok":true,"data":{"session":0}})",
      R"({"id":1,"ok":true,"data":{"session":"5"}})",
      R"({"id":1,"ok":true,"data":{"session":-5}})",
      R"({"id":1,"ok":true,"data":{"session":5.0}})",
      R"({"id":1,"ok":"true","data":{"session":5}})",
      R"({"id":1,"ok":false,"data":{"session":5}})",
      R"({"id":1,"ok":true,"data":[5]})",
      R"([{"id":1,"ok":true,"data":{"session":5}}])",
      "not json",
      "{\"id\":1,\"ok\":true,\"data\":{\"session\":5}}\0junk"s,
  };
  for (const auto& refusal : refusals) app.reply("attach_session", {refusal});
  app.reply("attach_session", {R"({"id":99,"ok":true,"data":{"session":18446744073709551615},"extra":1})"});
  auto client = start();
  // Start-up used the first refusal; each call tries again.
  for (std::size_t i = 1; i < std::size(refusals); ++i) {
    EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":true,"version":"0.15.6"})"));
  }
  EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":true,"version":"0.15.6"})"));
  EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":true,"version":"0.15.6"})"));
  auto received = app.received();
  std::vector<std::string> want;
  for (std::size_t i = 0; i < std::size(refusals); ++i) {
    want.push_back(attach_line());
    if (i > 0) want.push_back(context_line(""));
  }
  want.push_back(attach_line());
  want.push_back(context_line(R"(,"session":18446744073709551615)"));
  want.push_back(context_line(R"(,"session":18446744073709551615)"));
  EXPECT_EQ(received, want);
}

TEST_F(McpSession, ASilentAppDelaysButDoesNotStopTheServer) {
  FakeApp app(home_.path());
  app.hold("attach_session");
  auto client = start();
  EXPECT_EQ(client->ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  // The unanswered attempt was given up and its connection closed.
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 0; }));
  app.reply("attach_session", {R"({"id":1,"ok":true,"data":{"session":3}})"});
  EXPECT_EQ(client->call("execute_command", {{"id", "file.save"}}), ok_reply(R"({"ran":true})"));
  EXPECT_EQ(app.received().back(), R"({"id":1,"proto":1,"session":3,"cmd":"execute_command","command":"file.save"})" "\n");
  EXPECT_EQ(client->child().err(), "");
}

// Accepts one connection, reads the attach request, then answers with one
// space (valid leading white space) every 50 ms until the client hangs up.
class TricklingApp {
 public:
  explicit TricklingApp(const std::string& home) {
    std::string path = socket_path(home);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    addr_.sun_family = AF_UNIX;
    std::memcpy(addr_.sun_path, path.data(), path.size());
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_) != 0 || ::listen(listen_fd_, 4) != 0) {
      ADD_FAILURE() << "cannot serve " << path;
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~TricklingApp() {
    // Should nobody have connected, this connection ends the wait for one.
    int wake = ::socket(AF_UNIX, SOCK_STREAM, 0);
    (void)::connect(wake, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_);
    ::close(wake);
    thread_.join();
    ::close(listen_fd_);
  }
  bool client_hung_up() const { return hung_up_; }

 private:
  void serve() {
    int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    char c = 0;
    while (c != '\n' && ::read(fd, &c, 1) == 1) {
    }
    // The pause paces the trickle; it synchronises nothing.
    while (::write(fd, " ", 1) == 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    hung_up_ = true;
    ::close(fd);
  }
  sockaddr_un addr_{};
  int listen_fd_ = -1;
  std::atomic<bool> hung_up_{false};
  std::thread thread_;
};

TEST_F(McpSession, AnAppThatTricklesItsAnswerIsGivenUpOnAsAWhole) {
  TricklingApp app(home_.path());
  auto client = start();
  EXPECT_EQ(client->ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  EXPECT_TRUE(eventually([&] { return app.client_hung_up(); }));
}

TEST_F(McpSession, AnAppThatHangsUpOnAttachIsNoSession) {
  FakeApp app(home_.path());
  app.hang_up_on("attach_session");
  auto client = start();
  EXPECT_EQ(client->call("get_context", json::object()), ok_reply(R"({"running":true,"version":"0.15.6"})"));
  EXPECT_EQ(app.received().back(), context_line(""));
  EXPECT_TRUE(eventually([&] { return app.connections_open() == 0; }));
}

TEST_F(McpSession, WithoutHomeTheServerStillServes) {
  McpClient client({.home = std::nullopt});
  EXPECT_EQ(client.ask(R"({"id":1,"method":"ping"})"), R"({"id":1,"jsonrpc":"2.0","result":{}})");
  for (const auto& [tool, args] : std::vector<std::pair<std::string, json>>{
           {"get_context", json::object()},
           {"execute_command", {{"id", "x"}}},
           {"read_section", {{"path", "/tmp/none.md"}}},
           {"wait_for_change", {{"path", "/tmp/none.md"}}},
           {"post_message", {{"text", "hi"}}},
           {"open_file", {{"path", "/tmp/none.md"}}}}) {
    EXPECT_EQ(client.call(tool, args), err_reply("NO_HOME", "HOME is not set")) << tool;
  }
  EXPECT_EQ(client.child().err(), "");
}

}  // namespace
}  // namespace elmpad::testing
