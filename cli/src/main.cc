// Process entry: the arguments after the program name go to run_with, whose
// result is the exit status.
#include <csignal>
#include <string>
#include <vector>

#include "cli/run_with.h"

int main(int argc, char** argv) {
  // A write to a connection the app has closed must fail with EPIPE, not
  // kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return elmpad::run_with(args);
}
