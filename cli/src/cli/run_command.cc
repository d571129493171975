#include "cli/run_command.h"

#include <utility>

#include "app/version.h"
#include "cli/open_command.h"
#include "cli/output.h"
#include "cli/reveal_command.h"
#include "cli/status_command.h"
#include "cli/usage.h"

namespace elmpad {
namespace {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};

}  // namespace

int run_command(const CliCommand& command) {
  int status = std::visit(
      Overload{
          [](const cli::UsageError& e) {
            print_err("elmpad: " + e.message + "\n\n" + std::string(kUsage) + "\n");
            return 2;
          },
          [](const cli::Help&) {
            print_out(std::string(kUsage) + "\n");
            return 0;
          },
          [](const cli::Version&) {
            print_out(std::string("elmpad ") + kVersion + "\n");
            return 0;
          },
          [](const cli::Mcp&) -> int { std::unreachable(); },  // main.cc serves it
          [](const cli::Status& c) { return status_command(c.json); },
          [](const cli::Reveal& c) { return reveal(c.file, c.heading, c.json); },
          [](const cli::Open& c) { return open(c.files, c.wait, c.json, c.source); },
      },
      command);
  // What the user asked for did not reach them (a full disk, a closed pipe):
  // that is no success, whatever the command itself achieved.
  if (status == 0 && stdout_error() != 0) {
    print_err("elmpad: cannot write to standard output: " + RunErr::from_errno("", stdout_error()).message + "\n");
    return 1;
  }
  return status;
}

}  // namespace elmpad
