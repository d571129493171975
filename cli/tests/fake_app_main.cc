// The fake application as a process, for the fake `open` to start:
//   fake_app_main <home> [delay_ms]
// waits delay_ms, then serves the socket under <home>, answering every
// request with ok, and appends each request line to <home>/fake_app.log.
// It stops on SIGTERM, when <home> is removed, or after two minutes, so it
// never outlives a test run.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "fake_app.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string home = argv[1];
  int delay_ms = argc > 2 ? std::atoi(argv[2]) : 0;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  elmpad::testing::FakeApp app(home);
  std::ofstream(home + "/fake_app.pid") << getpid() << "\n";
  std::size_t logged = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  timespec tick{0, 20'000'000};
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info;
    if (sigtimedwait(&set, &info, &tick) > 0) break;
    if (access(home.c_str(), F_OK) != 0) break;  // the test's HOME is gone
    auto lines = app.received();
    if (lines.size() > logged) {
      std::ofstream log(home + "/fake_app.log", std::ios::app | std::ios::binary);
      for (; logged < lines.size(); ++logged) log << lines[logged];
    }
  }
  return 0;
}
