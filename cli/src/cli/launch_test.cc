#include "cli/launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include "fake_app.h"
#include "socket_path.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

const char* const kNotice = "elmpad: launching Elmwrite\u2026\n";
const std::string kStale =
    "an Elmwrite instance seems to be running but is not serving its socket (a stale/wedged instance). Quit it "
    "(Cmd+Q, or `pkill -f Elmwrite`) and retry. Stale socket: ";

// Sends standard error to a file while alive; finish() returns what came.
class StderrCapture {
 public:
  StderrCapture() : saved_(::dup(STDERR_FILENO)) {
    char name[] = "/tmp/elmpad-stderr-XXXXXX";
    file_ = ::mkstemp(name);
    ::unlink(name);
    ::dup2(file_, STDERR_FILENO);
  }
  ~StderrCapture() { finish(); }
  std::string finish() {
    if (saved_ < 0) return text_;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
    char buf[4096];
    for (ssize_t n; (n = ::pread(file_, buf, sizeof buf, static_cast<off_t>(text_.size()))) > 0;) text_.append(buf, n);
    ::close(file_);
    return text_;
  }

 private:
  int file_ = -1, saved_ = -1;
  std::string text_;
};

// Every child this process started has been waited for.
bool no_unreaped_children() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

class ConnectOrLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", home_.path());
    env_.set("PATH", std::string(FAKE_BIN_DIR) + ":/usr/bin:/bin");
    env_.set("FAKE_OPEN_MODE", std::nullopt);
  }

  struct Outcome {
    Result<Reached> result;
    std::string err;
  };
  Outcome launch(LaunchTiming timing) {
    StderrCapture capture;
    auto result = connect_or_launch(timing);
    return {std::move(result), capture.finish()};
  }
  std::string open_log() const { return home_.read_file("open.log"); }

  // A directory for PATH holding one `open` script with this body.
  std::string bin_with_open(const std::string& body) {
    std::string path = home_.write_file("bin/open", "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return home_.path() + "/bin";
  }

  testing::TempHome home_;
  testing::EnvGuard env_;
};

TEST_F(ConnectOrLaunch, RunningAppIsReachedWithoutLaunching) {
  testing::FakeApp app(home_.path());
  auto [result, err] = launch({});
  ASSERT_TRUE(result) << result.error().message;
  EXPECT_FALSE(result->launched);
  EXPECT_TRUE(result->socket);
  EXPECT_EQ(err, "");
  EXPECT_EQ(open_log(), "");
}

// The app comes up once `open` has run; with and without a socket file left
// by an earlier instance, which the new one takes over.
TEST_F(ConnectOrLaunch, ConnectsOnceTheLaunchedAppServes) {
  for (bool stale : {false, true}) {
    SCOPED_TRACE(stale);
    std::filesystem::remove(home_.path() + "/open.log");
    if (stale) testing::make_stale_socket(home_.socket_path());
    std::unique_ptr<testing::FakeApp> app;
    auto starter = std::async(std::launch::async, [&] {
      if (eventually([&] { return !open_log().empty(); })) app = std::make_unique<testing::FakeApp>(home_.path());
    });
    auto [result, err] = launch({.deadline = 30s, .pause = 50ms});
    starter.wait();
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(result->launched);
    EXPECT_EQ(err, kNotice);
    EXPECT_EQ(open_log(), "-a Elmwrite\n");
    EXPECT_TRUE(no_unreaped_children());
  }
}

TEST_F(ConnectOrLaunch, NoAppAfterTheDeadline) {
  auto [result, err] = launch({.deadline = 150ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (RunErr{"TIMEOUT", "app did not become ready within 10s"}));
  EXPECT_EQ(err, kNotice);
  EXPECT_EQ(open_log(), "-a Elmwrite\n");
  EXPECT_TRUE(no_unreaped_children());
}

TEST_F(ConnectOrLaunch, SocketFileNobodyServesIsStaleAndShownAsText) {
  const std::string home = home_.make_dir("h\xff");
  env_.set("HOME", home);
  testing::make_stale_socket(socket_path(home));
  auto [result, err] = launch({.deadline = 150ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            (RunErr{"STALE_SOCKET", kStale + home_.path() +
                                        "/h\uFFFD/Library/Application Support/com.tarn.elmwrite/elmpad.sock"}));
  EXPECT_EQ(err, kNotice);
}

TEST_F(ConnectOrLaunch, SocketPathTooLongForAnAddressIsJustAnotherFailedAttempt) {
  env_.set("HOME", home_.make_dir(std::string(90, 'h')));
  auto [result, err] = launch({.deadline = 50ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, "TIMEOUT");
  EXPECT_EQ(err, kNotice);
}

// A failed `open` is final at once: with a deadline this long, waiting for
// the socket would end in "TIMEOUT" instead.
TEST_F(ConnectOrLaunch, FailingOpenIsReportedAtOnce) {
  for (const std::string body : {"exit 1", "kill -9 $$"}) {
    env_.set("PATH", bin_with_open(body) + ":/usr/bin:/bin");
    auto [result, err] = launch({.deadline = 25s, .pause = 50ms});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), (RunErr{"LAUNCH_FAILED", "`open -a Elmwrite` failed \u2014 is the app installed?"}));
    EXPECT_EQ(err, kNotice);
    EXPECT_TRUE(no_unreaped_children());
  }
}

TEST_F(ConnectOrLaunch, OpenThatCannotStart) {
  env_.set("PATH", home_.make_dir("empty"));
  auto [result, err] = launch({.deadline = 25s, .pause = 50ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (RunErr{"LAUNCH_FAILED", "No such file or directory (os error 2)"}));
  EXPECT_EQ(err, kNotice);
}

TEST_F(ConnectOrLaunch, NoHomeBeforeAnythingElse) {
  env_.set("HOME", std::nullopt);
  auto [result, err] = launch({.deadline = 25s, .pause = 50ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (RunErr{"NO_HOME", "HOME is not set"}));
  EXPECT_EQ(err, "");
  EXPECT_EQ(open_log(), "");
}

TEST_F(ConnectOrLaunch, ActivationNeitherWaitsNorLeavesAChild) {
  env_.set("PATH", bin_with_open("echo $$ > \"$HOME/open.pid.tmp\"; mv \"$HOME/open.pid.tmp\" \"$HOME/open.pid\"; "
                                 "exec sleep 120") +
                       ":/usr/bin:/bin");
  StderrCapture capture;
  auto done = std::async(std::launch::async, [] { perform_activation(kAppName); });
  EXPECT_EQ(done.wait_for(30s), std::future_status::ready);  // a hang guard
  EXPECT_TRUE(no_unreaped_children());
  // The `open` still runs; stop it.
  std::string pid;
  EXPECT_TRUE(eventually([&] { return !(pid = home_.read_file("open.pid")).empty(); }));
  if (!pid.empty()) ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
  done.wait();
  EXPECT_EQ(capture.finish(), "");
}

TEST_F(ConnectOrLaunch, ActivationWithoutOpenIsSilent) {
  env_.set("PATH", home_.make_dir("empty"));
  StderrCapture capture;
  perform_activation(kAppName);
  EXPECT_EQ(capture.finish(), "");
  EXPECT_TRUE(no_unreaped_children());
}

}  // namespace
}  // namespace elmpad
