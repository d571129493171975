// The request record the tool writes to the application: one compact JSON
// object per line, its keys in a fixed order (id, proto, session, cmd, then
// the command's fields in declaration order).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <variant>

namespace elmpad {

inline constexpr std::uint32_t kProtoVersion = 1;

/// One struct per socket command; the tag on the wire is each one's kTag.
namespace cmd {

struct Open {
  static constexpr const char* kTag = "open";
  std::string path;
  bool wait = false;
  std::optional<std::string> source;
};
struct OpenFolder {
  static constexpr const char* kTag = "open_folder";
  std::string path;
};
struct Reveal {
  static constexpr const char* kTag = "reveal";
  std::string path;
  std::optional<std::string> heading;
};
struct Status {
  static constexpr const char* kTag = "status";
};
struct GetContext {
  static constexpr const char* kTag = "get_context";
};
struct ExecuteCommand {
  static constexpr const char* kTag = "execute_command";
  std::string command;
};
struct ReadSection {
  static constexpr const char* kTag = "read_section";
  std::string path;
  std::optional<std::string> heading;
};
struct WriteSection {
  static constexpr const char* kTag = "write_section";
  std::string path;
  std::optional<std::string> heading;
  std::string operation;
  std::string content;
  std::optional<std::string> base_hash;
};
struct WaitForChange {
  static constexpr const char* kTag = "wait_for_change";
  std::optional<std::string> path;
  std::optional<std::string> workspace;
  std::optional<std::string> name;
  std::optional<std::uint64_t> timeout_secs;
};
struct PostMessage {
  static constexpr const char* kTag = "post_message";
  std::string text;
};
struct AttachSession {
  static constexpr const char* kTag = "attach_session";
  std::string cwd;
  std::optional<std::string> token;
};

}  // namespace cmd

using Cmd = std::variant<cmd::Open, cmd::OpenFolder, cmd::Reveal, cmd::Status, cmd::GetContext,
                         cmd::ExecuteCommand, cmd::ReadSection, cmd::WriteSection,
                         cmd::WaitForChange, cmd::PostMessage, cmd::AttachSession>;

struct Request {
  std::uint64_t id = 1;
  std::uint32_t proto = kProtoVersion;
  /// Written only when present; the command line never attaches a session.
  std::optional<std::uint64_t> session;
  Cmd cmd;
};

/// The tag of a command, e.g. "read_section".
const char* cmd_tag(const Cmd& cmd);

/// The request as one compact JSON line ending in "\n". Fails, with the JSON
/// library's message, only when a string is not valid UTF-8.
[[nodiscard]] std::expected<std::string, std::string> encode_request(const Request& request);

}  // namespace elmpad
