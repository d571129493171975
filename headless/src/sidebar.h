// The agent sidebar: agent sessions granted by attach_session, and the
// messages the user sends from a workspace's sidebar, queued until a wait on
// that workspace takes them all at once. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "json_text.h"
#include "wake_pipe.h"

namespace elmpad::headless {

struct SidebarMessage {
  std::string text;
  json context;  // position only: file, heading, selection
};

struct AgentSession {
  std::string cwd;
  std::optional<std::string> token;
};

/// The form under which workspaces are compared: the real path when the
/// directory exists, else the text without trailing slashes.
std::string workspace_key(const std::string& path);

class Sidebar {
 public:
  /// `wakeup` is poked for every message queued.
  explicit Sidebar(WakePipe wakeup) : wake_(std::move(wakeup)) {}
  Sidebar(const Sidebar&) = delete;
  Sidebar& operator=(const Sidebar&) = delete;

  /// Grants the next session id (1, 2, ...).
  std::uint64_t attach(AgentSession session);
  void detach(std::uint64_t id);
  std::optional<AgentSession> session(std::uint64_t id) const;

  /// Queues a message for the workspace (a key) and wakes its waits.
  void say(const std::string& workspace, SidebarMessage message);
  /// Takes every queued message of the workspace, oldest first.
  std::vector<SidebarMessage> take(const std::string& workspace);

  /// A descriptor that becomes readable whenever a message is queued for
  /// any workspace; waits poll it and drain it with `drain_wakeups`.
  int wakeup_fd() const { return wake_.fd(); }
  void drain_wakeups() { wake_.drain(); }

 private:
  mutable std::mutex mu_;  // guards the three members below
  std::uint64_t next_session_ = 1;
  std::map<std::uint64_t, AgentSession> sessions_;
  std::map<std::string, std::deque<SidebarMessage>> pending_;
  WakePipe wake_;  // not guarded: poked and drained without the lock
};

}  // namespace elmpad::headless
