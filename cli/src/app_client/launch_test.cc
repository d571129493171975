#include "app_client/launch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <future>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "socket_path.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

const std::string kStale =
    "an Elmwrite instance seems to be running but is not serving its socket (a stale/wedged instance). Quit it "
    "(Cmd+Q, or `pkill -f Elmwrite`) and retry. Stale socket: ";

// Every child this process started has been waited for.
bool no_unreaped_children() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

class ConnectOrLaunch : public ::testing::Test {
 protected:
  // The launch notice goes to standard error, which the command-line
  // transcripts check; here it is only noise.
  void SetUp() override {
    ::dup2(quiet_.get(), STDERR_FILENO);
    env_.set("HOME", home_.path());
    env_.set("PATH", std::string(FAKE_BIN_DIR) + ":/usr/bin:/bin");
    env_.set("FAKE_OPEN_MODE", std::nullopt);
  }

  void TearDown() override { ::dup2(stderr_.get(), STDERR_FILENO); }
  std::string open_log() const { return home_.read_file("open.log"); }

  // A directory for PATH holding one `open` script with this body.
  std::string bin_with_open(const std::string& body) {
    std::string path = home_.write_file("bin/open", "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return home_.path() + "/bin";
  }

  testing::TempHome home_;
  testing::EnvGuard env_;
  UniqueFd stderr_{::dup(STDERR_FILENO)}, quiet_{::open("/dev/null", O_WRONLY)};
};

TEST_F(ConnectOrLaunch, NoAppAfterTheDeadline) {
  auto result = connect_or_launch(LaunchTiming{.deadline = 150ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (RunErr{"TIMEOUT", "app did not become ready within 10s"}));
  EXPECT_EQ(open_log(), "-a Elmwrite\n");
  EXPECT_TRUE(no_unreaped_children());
}

TEST_F(ConnectOrLaunch, SocketFileNobodyServesIsStaleAndShownAsText) {
  const std::string home = home_.make_dir("h\xff");
  env_.set("HOME", home);
  testing::make_stale_socket(socket_path(home));
  auto result = connect_or_launch(LaunchTiming{.deadline = 150ms, .pause = 10ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            (RunErr{"STALE_SOCKET", kStale + home_.path() +
                                        "/h\uFFFD/Library/Application Support/com.tarn.elmwrite/elmpad.sock"}));
}

// A failed `open` is final at once: with a deadline this long, waiting for
// the socket would end in "TIMEOUT" instead. (An `open` that exits 1 is in
// the launch transcripts; one killed by a signal is not.)
TEST_F(ConnectOrLaunch, OpenKilledBySignalIsReportedAtOnce) {
  env_.set("PATH", bin_with_open("kill -9 $$") + ":/usr/bin:/bin");
  auto result = connect_or_launch(LaunchTiming{.deadline = 25s, .pause = 50ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (RunErr{"LAUNCH_FAILED", "`open -a Elmwrite` failed \u2014 is the app installed?"}));
  EXPECT_TRUE(no_unreaped_children());
}

TEST_F(ConnectOrLaunch, OpenThatCannotStart) {
  env_.set("PATH", home_.make_dir("empty"));
  auto result = connect_or_launch(LaunchTiming{.deadline = 25s, .pause = 50ms});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (RunErr{"LAUNCH_FAILED", "No such file or directory (os error 2)"}));
}

TEST_F(ConnectOrLaunch, ActivationNeitherWaitsNorLeavesAChild) {
  env_.set("PATH", bin_with_open("echo $$ > \"$HOME/open.pid.tmp\"; mv \"$HOME/open.pid.tmp\" \"$HOME/open.pid\"; "
                                 "exec sleep 120") +
                       ":/usr/bin:/bin");
  auto done = std::async(std::launch::async, [] { perform_activation(kAppName); });
  EXPECT_EQ(done.wait_for(30s), std::future_status::ready);  // a hang guard
  EXPECT_TRUE(no_unreaped_children());
  // The `open` still runs; stop it.
  std::string pid;
  EXPECT_TRUE(eventually([&] { return !(pid = home_.read_file("open.pid")).empty(); }));
  if (!pid.empty()) ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
  done.wait();
}

}  // namespace
}  // namespace elmpad
