#include "app_client/launch.h"

#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app_client/path_text.h"
#include "app_client/spawn.h"
#include "socket_path.h"
#include "unix_socket.h"

namespace elmpad {

namespace {

// The value of $HOME, which says where the socket is.
Result<std::string> home_dir() {
  const char* home = std::getenv("HOME");
  if (home == nullptr) return fail_with("NO_HOME", "HOME is not set");
  return std::string(home);
}

}  // namespace

Result<std::optional<UniqueFd>> connect_if_running() {
  auto home = home_dir();
  if (!home) return std::unexpected(std::move(home).error());
  auto socket = connect_socket(socket_path(*home));
  if (!socket) return std::optional<UniqueFd>();
  return std::optional<UniqueFd>(std::move(*socket));
}

Result<Reached> connect_or_launch() { return connect_or_launch(LaunchTiming{}); }

Result<Reached> connect_or_launch(const LaunchTiming& timing) {
  auto home = home_dir();
  if (!home) return std::unexpected(std::move(home).error());
  const std::string path = socket_path(*home);

  if (auto fd = connect_socket(path)) return Reached{std::move(*fd), false};

  // A socket file that nobody serves tells a wedged instance apart from an
  // app that is merely slow to come up.
  struct stat st {};
  const bool socket_file_existed = ::stat(path.c_str(), &st) == 0;

  (void)write_all(STDERR_FILENO, "elmpad: launching Elmwrite\u2026\n");
  auto status = run_and_wait({"open", "-a", kAppName});
  if (!status) return std::unexpected(RunErr::from_errno("LAUNCH_FAILED", status.error()));
  if (!status->success()) {
    return fail_with("LAUNCH_FAILED", "`open -a Elmwrite` failed \u2014 is the app installed?");
  }

  const auto deadline = std::chrono::steady_clock::now() + timing.deadline;
  while (true) {
    if (auto fd = connect_socket(path)) return Reached{std::move(*fd), true};
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(timing.pause);
  }
  if (!socket_file_existed) return fail_with("TIMEOUT", "app did not become ready within 10s");
  return fail_with("STALE_SOCKET",
                   "an Elmwrite instance seems to be running but is not serving its socket (a "
                   "stale/wedged instance). Quit it (Cmd+Q, or `pkill -f Elmwrite`) and retry. "
                   "Stale socket: " +
                       path_text(path));
}

void perform_activation(const std::string& app) { start_detached({"open", "-a", app}); }

}  // namespace elmpad
