// What a command hands back instead of printing: what it achieved, or why it
// failed. render() prints it once, in the format asked for, and takes the
// exit status from it.
#pragma once

#include <expected>
#include <string>
#include <utility>

#include "json_text.h"
#include "run_err.h"

namespace elmpad {

inline constexpr int kExitFailed = 1;     // the command ran and failed
inline constexpr int kExitMisuse = 2;     // the command line asks for something that cannot be done
inline constexpr int kExitDiscarded = 3;  // the user discarded the --wait session

/// A command that did what was asked.
struct Done {
  json data;         // under --json: the data of the success envelope
  std::string text;  // otherwise: standard output as it stands, often nothing
  int status = 0;    // or kExitDiscarded
};

/// A command that did not. A failure is reported as --json asks; misuse is
/// always a line on standard error, as a usage error is, since the command
/// line itself has to change.
struct Failure {
  RunErr err;
  int status = kExitFailed;  // or kExitMisuse
};

class [[nodiscard]] CommandResult : public std::expected<Done, Failure> {
 public:
  using std::expected<Done, Failure>::expected;
};

/// The command ran and failed with `err`.
inline std::unexpected<Failure> failed(RunErr err) { return std::unexpected(Failure{std::move(err), kExitFailed}); }

/// The command cannot be carried out as typed; `message` follows "elmpad: ".
inline std::unexpected<Failure> misuse(std::string message) {
  return std::unexpected(Failure{RunErr{"USAGE", std::move(message)}, kExitMisuse});
}

}  // namespace elmpad
