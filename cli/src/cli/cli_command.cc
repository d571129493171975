#include "cli/cli_command.h"

#include <algorithm>

namespace elmpad {
namespace {

using cli::UsageError;

bool looks_like_option(const std::string& arg) { return !arg.empty() && arg.front() == '-'; }

CliCommand parse_open(const std::vector<std::string>& args, std::size_t from) {
  cli::Open open;
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--wait") {
      open.wait = true;
    } else if (arg == "--json") {
      open.json = true;
    } else if (arg == "--source") {
      if (i + 1 == args.size()) return UsageError{"--source requires a value"};
      open.source = args[++i];
    } else if (looks_like_option(arg)) {
      return UsageError{"unknown option '" + arg + "'"};
    } else {
      open.files.push_back(arg);
    }
  }
  if (open.files.empty()) return UsageError{"missing file argument"};
  if (open.wait && open.files.size() > 1) return UsageError{"--wait takes exactly one file"};
  return open;
}

CliCommand parse_reveal(const std::vector<std::string>& args) {
  cli::Reveal reveal;
  std::vector<std::string> collected;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      reveal.json = true;
    } else if (looks_like_option(arg)) {
      return UsageError{"unknown option '" + arg + "' for reveal"};
    } else {
      collected.push_back(arg);
    }
  }
  if (collected.empty()) return UsageError{"missing file argument"};
  if (collected.size() > 2) return UsageError{"reveal takes a file and an optional heading"};
  reveal.file = collected[0];
  if (collected.size() == 2) reveal.heading = collected[1];
  return reveal;
}

CliCommand parse_status(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--json") return UsageError{"unexpected argument '" + args[i] + "' for status"};
  }
  return cli::Status{args.size() > 1};
}

}  // namespace

CliCommand parse(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError{"missing file argument"};
  auto any_of = [&args](const char* a, const char* b) {
    return std::any_of(args.begin(), args.end(), [&](const std::string& s) { return s == a || s == b; });
  };
  // Help and version win wherever they stand, even as the value of --source.
  if (any_of("-h", "--help")) return cli::Help{};
  if (any_of("-V", "--version")) return cli::Version{};

  const std::string& first = args.front();
  if (first == "mcp") {
    if (args.size() == 1) return cli::Mcp{};
    return UsageError{"unexpected argument '" + args[1] + "' for mcp"};
  }
  if (first == "open") return parse_open(args, 1);
  if (first == "reveal") return parse_reveal(args);
  if (first == "status") return parse_status(args);
  if (looks_like_option(first) && first != "--wait" && first != "--json" && first != "--source") {
    return UsageError{"unknown option '" + first + "'"};
  }
  return parse_open(args, 0);
}

}  // namespace elmpad
