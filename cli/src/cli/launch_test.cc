#include "cli/launch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

#include "descendants.h"
#include "fake_app.h"
#include "inherited_fds.h"
#include "socket_path.h"
#include "temp_home.h"

namespace elmpad {
namespace {

using namespace std::chrono_literals;
using testing::FakeApp;
using testing::TempHome;

const char* const kNotice = "elmpad: launching Elmwrite\u2026\n";

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  void set(const std::string& name, std::optional<std::string> value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) ::setenv(name.c_str(), value->c_str(), 1);
    else ::unsetenv(name.c_str());
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// Sends standard error to a file while alive; finish() returns what came.
class StderrCapture {
 public:
  StderrCapture() {
    char name[] = "/tmp/elmpad-stderr-XXXXXX";
    file_ = ::mkstemp(name);
    ::unlink(name);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(file_, STDERR_FILENO);
  }
  ~StderrCapture() { finish(); }
  std::string finish() {
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
      saved_ = -1;
      ::lseek(file_, 0, SEEK_SET);
      char buf[4096];
      ssize_t n;
      while ((n = ::read(file_, buf, sizeof buf)) > 0) text_.append(buf, static_cast<std::size_t>(n));
      ::close(file_);
    }
    return text_;
  }

 private:
  int file_ = -1, saved_ = -1;
  std::string text_;
};

class ConnectOrLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::keep_descriptors_from_children();
    env_.set("HOME", home_.path());
    env_.set("PATH", std::string(FAKE_BIN_DIR) + ":/usr/bin:/bin");
    env_.set("FAKE_APP_BIN", FAKE_APP_BIN);
    env_.set("FAKE_OPEN_MODE", std::nullopt);
    env_.set("FAKE_APP_DELAY_MS", std::nullopt);
  }
  void TearDown() override {
    if (std::filesystem::exists(home_.path() + "/fake_app.pid")) testing::stop_fake_app(home_.path());
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

  // A directory on PATH holding one `open` script with this body.
  std::string bin_with_open(const std::string& body) {
    std::string path = home_.write_file("bin/open", "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return home_.path() + "/bin";
  }

  TempHome home_;
  EnvGuard env_;
};

// Every child this process started has been waited for.
bool no_unreaped_children() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

TEST_F(ConnectOrLaunch, RunningAppIsReachedWithoutLaunching) {
  FakeApp app(home_.path());
  auto [result, err] = launch({});
  ASSERT_TRUE(result) << result.error().message;
  EXPECT_FALSE(result->launched);
  EXPECT_TRUE(result->socket);
  EXPECT_EQ(err, "");
  EXPECT_EQ(open_log(), "");
}

TEST_F(ConnectOrLaunch, ConnectsOnceTheLaunchedAppServes) {
  // With and without a socket file left by an earlier instance: the new one
  // takes the path over.
  for (bool stale : {false, true}) {
    SCOPED_TRACE(stale);
    std::filesystem::remove(home_.path() + "/open.log");
    std::filesystem::remove(home_.path() + "/fake_app.pid");
    if (stale) testing::make_stale_socket(home_.socket_path());
    env_.set("FAKE_OPEN_MODE", "start");
    env_.set("FAKE_APP_DELAY_MS", "300");
    auto [result, err] = launch({.deadline = 30s, .pause = 50ms});
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_TRUE(result->launched);
    EXPECT_EQ(err, kNotice);
    EXPECT_EQ(open_log(), "-a Elmwrite\n");
    EXPECT_TRUE(no_unreaped_children());
    ASSERT_TRUE(testing::stop_fake_app(home_.path()));
    // Wait for the fake to let go of the socket before the next round.
    result->socket.reset();
    for (int i = 0; i < 6000 && std::filesystem::exists(home_.socket_path()); ++i) std::this_thread::sleep_for(5ms);
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

TEST_F(ConnectOrLaunch, SocketFileNobodyServesIsStale) {
  testing::make_stale_socket(home_.socket_path());
  auto [result, err] = launch({.deadline = 150ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            (RunErr{"STALE_SOCKET",
                    "an Elmwrite instance seems to be running but is not serving its socket (a stale/wedged "
                    "instance). Quit it (Cmd+Q, or `pkill -f Elmwrite`) and retry. Stale socket: " +
                        home_.socket_path()}));
  EXPECT_EQ(err, kNotice);
  EXPECT_EQ(open_log(), "-a Elmwrite\n");
}

TEST_F(ConnectOrLaunch, StalePathIsShownAsText) {
  env_.set("HOME", home_.make_dir("h\xff"));
  testing::make_stale_socket(socket_path(home_.path() + "/h\xff"));
  auto [result, err] = launch({.deadline = 50ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, "STALE_SOCKET");
  EXPECT_TRUE(result.error().message.ends_with(
      "Stale socket: " + home_.path() + "/h\uFFFD/Library/Application Support/com.tarn.elmwrite/elmpad.sock"))
      << result.error().message;
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
  const std::pair<std::string, std::string> cases[] = {
      {std::string(FAKE_BIN_DIR), "fail"},
      {bin_with_open("kill -9 $$"), ""},  // ended by a signal
  };
  for (const auto& [bin, mode] : cases) {
    env_.set("PATH", bin + ":/usr/bin:/bin");
    env_.set("FAKE_OPEN_MODE", mode);
    auto [result, err] = launch({.deadline = 25s, .pause = 50ms});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              (RunErr{"LAUNCH_FAILED", "`open -a Elmwrite` failed \u2014 is the app installed?"}));
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

// `open` must see neither the connection nor its duplicate.
TEST_F(ConnectOrLaunch, OpenInheritsNoConnection) {
  FakeApp app(home_.path());
  auto result = connect_or_launch();
  ASSERT_TRUE(result);
  auto copy = dup_cloexec(result->socket.get());
  ASSERT_TRUE(copy);
  perform_activation(kAppName);
  for (int i = 0; i < 6000 && open_log().empty(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(open_log(), "-a Elmwrite\n");
  const std::string fds = home_.read_file("open.fds");
  EXPECT_NE(fds, "");
  EXPECT_EQ(fds.find("socket:"), std::string::npos) << fds;
}

TEST_F(ConnectOrLaunch, ActivationNeitherWaitsNorLeavesAChild) {
  env_.set("PATH", bin_with_open("echo $$ > \"$HOME/open.pid.tmp\"; mv \"$HOME/open.pid.tmp\" \"$HOME/open.pid\"; "
                                 "exec sleep 120") +
                       ":/usr/bin:/bin");
  StderrCapture capture;
  auto done = std::async(std::launch::async, [] { perform_activation(kAppName); });
  EXPECT_EQ(done.wait_for(30s), std::future_status::ready);
  EXPECT_TRUE(no_unreaped_children());
  // The `open` still runs; stop it.
  std::string pid;
  for (int i = 0; i < 6000 && pid.empty(); ++i) {
    pid = home_.read_file("open.pid");
    if (pid.empty()) std::this_thread::sleep_for(5ms);
  }
  ASSERT_FALSE(pid.empty());
  ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
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
