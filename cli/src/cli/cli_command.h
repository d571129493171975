// The command line parsed into what to do. Pure: arguments in, value out.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace elmpad {

namespace cli {
struct Help {};
struct Version {};
struct Mcp {};
struct Status {
  bool json = false;
};
struct Reveal {
  std::string file;
  std::optional<std::string> heading;
  bool json = false;
};
struct Open {
  std::vector<std::string> files;  // at least one, in argument order
  bool wait = false;
  bool json = false;
  std::optional<std::string> source;
};
/// Misuse of the command line; `message` follows "elmpad: ".
struct UsageError {
  std::string message;
};
}  // namespace cli

using CliCommand = std::variant<cli::Help, cli::Version, cli::Mcp, cli::Status, cli::Reveal, cli::Open,
                                cli::UsageError>;

/// Parses the arguments that follow the program name.
[[nodiscard]] CliCommand parse(const std::vector<std::string>& args);

}  // namespace elmpad
