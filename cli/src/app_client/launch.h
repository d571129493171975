// Reaching the application, starting it with `open -a Elmwrite` when nobody
// answers, and bringing an already running one to the front. The tool asks
// through AppConnection, which reaches the application with these.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "run_err.h"
#include "unique_fd.h"

namespace elmpad {

inline constexpr const char* kAppName = "Elmwrite";

struct Reached {
  UniqueFd socket;
  bool launched = false;  // true when this call started the application
};

/// The waiting rules of a launch; tests shorten them.
struct LaunchTiming {
  std::chrono::milliseconds deadline{10'000};  // from the moment `open` finished
  std::chrono::milliseconds pause{50};         // between connection attempts
};

/// Connects to the application's socket if it is running; never launches.
/// Nothing when nobody answers; fails only with "NO_HOME".
Result<std::optional<UniqueFd>> connect_if_running();

/// Connects to the application's socket, launching the application when the
/// first attempt fails. Writes a launch notice to standard error before
/// launching. Fails with "NO_HOME", "LAUNCH_FAILED", "TIMEOUT" or
/// "STALE_SOCKET".
Result<Reached> connect_or_launch();
Result<Reached> connect_or_launch(const LaunchTiming& timing);

/// Starts `open -a <app>` without waiting for it; failures are ignored.
void perform_activation(const std::string& app);

}  // namespace elmpad
