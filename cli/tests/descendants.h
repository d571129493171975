// Waiting for every process a test set off, also those that elmpad or the
// fake `open` started and left behind (`open` is never waited for, and it
// starts the fake application in the background). Linux only: the test
// process adopts its orphaned descendants and can then reap them all.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace elmpad::testing {

/// From now on, orphaned descendants of this process become its children.
inline void adopt_orphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

/// Reaps children until none is left. Call it only after every `Child` has
/// been waited for. False when some still run after `limit`.
inline bool reap_all_children(std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
    if (pid < 0 && errno == ECHILD) return true;
    if (pid > 0) continue;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

/// Ends the fake application that the fake `open` started under `home`,
/// once it has written its pid file. False if no pid file came within `limit`.
inline bool stop_fake_app(const std::string& home, std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(home + "/fake_app.pid");
    std::string text;
    std::getline(in, text);
    if (in && !in.eof() && !text.empty()) {  // ended by "\n": the pid is all there
      ::kill(static_cast<pid_t>(std::stol(text)), SIGTERM);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace elmpad::testing
