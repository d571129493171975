// The application without its window: answers every socket request against
// the workspace, the sidebar and the files on disk, and carries out what the
// user does (closing tabs, sending sidebar messages). Thread-safe: one
// thread per connection plus the user console call in concurrently.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "outcome.h"
#include "peer.h"
#include "read_budget.h"
#include "request.h"
#include "run_err.h"
#include "server_msg.h"
#include "sidebar.h"
#include "workspace.h"

namespace elmpad::headless {

/// One client connection as the app sees it.
struct ClientConnection {
  std::shared_ptr<Peer> peer;
  std::vector<std::uint64_t> sessions;  // granted on this connection
};

/// The ids `execute_command` knows, in the order get_context lists them.
std::vector<std::string> available_commands();

class App {
 public:
  /// `sidebar_wakeup` wakes the waits on a workspace when the user speaks.
  explicit App(WakePipe sidebar_wakeup) : sidebar_(std::move(sidebar_wakeup)) {}

  /// The one answer to `request`, or nullopt when the client went away while
  /// it waited, or before its read_section was carried out: nobody would read
  /// that answer. May block for as long as a wait_for_change lasts.
  [[nodiscard]] std::optional<Response> handle(const Request& request, ClientConnection& conn);
  /// Ends the sessions granted on the connection.
  void connection_closed(ClientConnection& conn);

  // The user's side. Each shows what it did; a failure's message is the
  // sentence to show instead.
  /// "NO_SUCH_TAB" when no tab shows `path`.
  Result<void> close_tab(const std::string& path, Outcome outcome);
  /// "NOT_A_DIRECTORY" when `workspace` is not an existing folder.
  Result<void> say(const std::string& workspace, const std::string& text);
  std::vector<std::string> describe_tabs() const;

  const Workspace& workspace() const { return workspace_; }

 private:
  Response open(std::uint64_t id, const cmd::Open& c, ClientConnection& conn);
  Response open_folder(std::uint64_t id, const cmd::OpenFolder& c);
  Response reveal(std::uint64_t id, const cmd::Reveal& c);
  Response status(std::uint64_t id);
  Response get_context(std::uint64_t id);
  Response execute_command(std::uint64_t id, const cmd::ExecuteCommand& c);
  std::optional<Response> read_section(std::uint64_t id, const cmd::ReadSection& c, ClientConnection& conn);
  Response write_section(std::uint64_t id, const cmd::WriteSection& c);
  std::optional<Response> wait_for_change(const Request& request, const cmd::WaitForChange& c, ClientConnection& conn);
  Response post_message(const Request& request, const cmd::PostMessage& c);
  Response attach_session(std::uint64_t id, const cmd::AttachSession& c, ClientConnection& conn);

  /// Opens a markdown file as a tab (creating it when missing), or an image
  /// in the viewer; the refusal otherwise.
  std::optional<ErrorBody> open_path(const std::string& path, std::optional<TabWaiter> waiter,
                                     const std::optional<std::string>& source);
  /// The open tab `path` names (as typed or as the same file).
  std::optional<std::string> find_tab(const std::string& path) const;

  Workspace workspace_;
  Sidebar sidebar_;
  std::mutex documents_mu_;  // one read-modify-write of a note at a time
  ReadBudget reads_;         // notes read whole for an answer, at once
};

}  // namespace elmpad::headless
