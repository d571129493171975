// elmwrite-headless: serves the Elmwrite socket under $HOME without a
// window; the user's side is typed on standard input. Runs until SIGINT or
// SIGTERM, and removes its socket on the way out; stops as well once its
// socket file is gone.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "app.h"
#include "app_log.h"
#include "server.h"
#include "socket_path.h"
#include "unique_fd.h"
#include "user_console.h"

int main(int argc, char** argv) {
  using namespace elmpad::headless;
  std::string arg = argc > 1 ? argv[1] : "";
  const char* home = std::getenv("HOME");
  if (arg == "--probe") return home != nullptr && is_served(elmpad::socket_path(home)) ? 0 : 1;
  if (arg == "--help" || arg == "-h") {
    std::puts("usage: elmwrite-headless [--probe]\n"
              "Serves $HOME/Library/Application Support/com.tarn.elmwrite/elmpad.sock until\n"
              "SIGINT or SIGTERM. Type `help` on standard input for the user's commands.\n"
              "--probe: exit 0 when an app already serves that socket, 1 otherwise.");
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "elmwrite-headless: unexpected argument '%s' (try --help)\n", argv[1]);
    return 2;
  }
  if (home == nullptr) {
    std::fputs("elmwrite-headless: HOME is not set\n", stderr);
    return 1;
  }

  std::signal(SIGPIPE, SIG_IGN);
  // Only the main thread takes the stop signals, and it does so by waiting
  // for them, so no cleanup ever runs inside a signal handler.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  // The console reads a copy of standard input and closes it at its end, so
  // descriptor 0 stays taken rather than going to a file opened later. The
  // copy is made before anything is opened: without a standard input, 0
  // would be that file's. Then there is no console, as if its input ended.
  auto console_input = elmpad::dup_cloexec(STDIN_FILENO);
  auto sidebar_wakeup = WakePipe::make();
  if (!sidebar_wakeup) {
    std::fprintf(stderr, "elmwrite-headless: %s\n", sidebar_wakeup.error().message.c_str());
    return 1;
  }
  auto server = Server::listen(elmpad::socket_path(home));
  if (!server) {
    std::fprintf(stderr, "elmwrite-headless: %s\n", server.error().message.c_str());
    return 1;
  }
  static App app(std::move(*sidebar_wakeup));  // outlives the detached threads until _Exit
  print_line("elmwrite-headless: serving " + elmpad::socket_path(home) + " (pid " + std::to_string(::getpid()) + ")");
  print_line("type help for the user's commands");

  std::thread([&server] { server->serve(app); }).detach();
  if (console_input) {
    std::thread([input = std::move(*console_input)]() mutable { run_user_console(app, std::move(input)); }).detach();
  }

  // The socket file removed or replaced (its HOME deleted, another app took
  // over) leaves this instance unreachable: stop, as if signalled.
  std::thread([path = elmpad::socket_path(home)] {
    struct stat first {};
    ::stat(path.c_str(), &first);
    while (true) {
      ::sleep(1);
      struct stat now {};
      if (::stat(path.c_str(), &now) != 0 || now.st_ino != first.st_ino) {
        print_line("elmwrite-headless: socket gone, stopping");
        std::_Exit(0);
      }
    }
  }).detach();

  int sig = 0;
  sigwait(&stop, &sig);
  server->remove_socket();
  print_line("elmwrite-headless: stopped");
  // Connection threads may be blocked anywhere; nothing is left to flush.
  std::_Exit(0);
}
