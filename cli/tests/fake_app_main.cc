// The fake application as a process, for the fake `open` to start:
//   fake_app_main <home> [delay_ms]
// waits delay_ms, then serves the socket under <home>, answering every
// request with ok, appends each request line to <home>/fake_app.log and
// writes its pid to <home>/fake_app.pid. It stops on SIGTERM or SIGINT, when
// <home> is removed, or after two minutes, so it never outlives a test.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "fake_app.h"
#include "support.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string home = argv[1];
  // Blocked before the fake's threads start, so that they inherit the mask
  // and sigwait below takes every one of these signals.
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT}) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([home] {
    elmpad::testing::eventually([&] { return ::access(home.c_str(), F_OK) != 0; }, std::chrono::minutes(2));
    ::kill(::getpid(), SIGTERM);
  }).detach();
  // Plays an app that takes a while to come up.
  std::this_thread::sleep_for(std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) : 0));
  // The pid is in place, whole, before the first request can be logged.
  std::ofstream(home + "/fake_app.pid.tmp") << getpid() << "\n";
  std::rename((home + "/fake_app.pid.tmp").c_str(), (home + "/fake_app.pid").c_str());
  elmpad::testing::FakeApp app(home, home + "/fake_app.log");
  int sig = 0;
  sigwait(&set, &sig);
  return 0;
}
