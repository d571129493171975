#include "cli/run_command.h"

#include <utility>

#include "app_client/version.h"
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
// Xcode 15's clang (16) deduces an aggregate's arguments only with a guide.
template <class... F>
Overload(F...) -> Overload<F...>;

CommandResult result_of(const CliCommand& command) {
  return std::visit(
      Overload{
          // The usage follows the message, under --json too: a person has
          // to fix the command line.
          [](const cli::UsageError& e) -> CommandResult { return misuse(e.message + "\n\n" + std::string(kUsage)); },
          [](const cli::Help&) -> CommandResult { return Done{.text = std::string(kUsage) + "\n"}; },
          [](const cli::Version&) -> CommandResult { return Done{.text = std::string("elmpad ") + kVersion + "\n"}; },
          [](const cli::Mcp&) -> CommandResult { std::unreachable(); },  // main.cc serves it
          [](const cli::Status&) { return show_status(); },
          [](const cli::Reveal& c) { return reveal_heading(c.file, c.heading); },
          [](const cli::Open& c) { return open_paths(c.files, c.wait, c.source); },
      },
      command);
}

bool json_output(const CliCommand& command) {
  return std::visit(
      [](const auto& c) {
        if constexpr (requires { c.json; }) return c.json;
        return false;
      },
      command);
}

}  // namespace

int run_command(const CliCommand& command) { return render(result_of(command), json_output(command)); }

}  // namespace elmpad
