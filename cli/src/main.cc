// Process entry: the arguments after the program name choose the front end,
// the MCP server for `elmpad mcp`, the command line otherwise; the result is
// the exit status.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <variant>
#include <vector>

#include "cli/cli_command.h"
#include "cli/run_command.h"
#include "mcp/server.h"

namespace {

// A standard stream that was closed at start must not be taken over by the
// app's socket, or messages meant for the user would be written to the app.
// /dev/null fills the slot, opened the wrong way round so that using the
// stream still fails as it would have.
void occupy_closed_standard_streams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int placeholder = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      ::dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  occupy_closed_standard_streams();
  // A write to a connection the app has closed must fail with EPIPE, not
  // kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  // A parent may hand down SIGCHLD ignored; children would then be reaped
  // unseen, and waiting for `open` would fail although it ran.
  std::signal(SIGCHLD, SIG_DFL);
  elmpad::CliCommand command = elmpad::parse(std::vector<std::string>(argv + 1, argv + argc));
  if (std::holds_alternative<elmpad::cli::Mcp>(command)) return elmpad::mcp::run();
  return elmpad::run_command(command);
}
