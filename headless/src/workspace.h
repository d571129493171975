// What the window would show: the open folder, the tabs in order, the
// active tab with the heading in view, and the image in the viewer. Tabs
// also remember who waits for them to close. Thread-safe: every connection
// and the user console act on the one workspace.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "peer.h"

namespace elmpad::headless {

/// A client blocked until a tab closes: the close event goes to `peer`
/// under the id of its open request.
struct TabWaiter {
  std::shared_ptr<Peer> peer;
  std::uint64_t id = 0;
};

struct WorkspaceView {
  std::optional<std::string> folder;
  std::vector<std::string> tabs;
  std::optional<std::string> active;
  std::optional<std::string> visible_heading;  // anchor of the active tab's view
  std::optional<std::string> viewer;           // image beside the document
};

class Workspace {
 public:
  /// Opens `path` as a tab (or finds it) and makes it active.
  void open_tab(const std::string& path, std::optional<TabWaiter> waiter, std::optional<std::string> source);
  void show_image(const std::string& path);
  void set_folder(const std::string& path);
  /// Scrolls an open tab; nothing when it is not open.
  void scroll_to(const std::string& path, const std::string& anchor);
  /// Closes the tab and hands back its waiters; nullopt when it is not open.
  [[nodiscard]] std::optional<std::vector<TabWaiter>> close_tab(const std::string& path);
  /// Makes the next (or previous) tab active; false without tabs.
  [[nodiscard]] bool cycle(int step);
  WorkspaceView view() const;

 private:
  struct Tab {
    std::string path;
    std::optional<std::string> source;
    std::optional<std::string> visible_heading;
    std::vector<TabWaiter> waiters;
  };
  mutable std::mutex mu_;  // guards everything below
  std::optional<std::string> folder_;
  std::vector<Tab> tabs_;
  std::optional<std::size_t> active_;
  std::optional<std::string> viewer_;
};

}  // namespace elmpad::headless
