#include "workspace.h"

#include <algorithm>

namespace elmpad::headless {

void Workspace::open_tab(const std::string& path, std::optional<TabWaiter> waiter, std::optional<std::string> source) {
  std::lock_guard lock(mu_);
  auto it = std::find_if(tabs_.begin(), tabs_.end(), [&](const Tab& t) { return t.path == path; });
  if (it == tabs_.end()) it = tabs_.insert(tabs_.end(), Tab{path, std::nullopt, std::nullopt, {}});
  if (source) it->source = std::move(source);
  if (waiter) it->waiters.push_back(std::move(*waiter));
  active_ = static_cast<std::size_t>(it - tabs_.begin());
}

void Workspace::show_image(const std::string& path) {
  std::lock_guard lock(mu_);
  viewer_ = path;
}

void Workspace::set_folder(const std::string& path) {
  std::lock_guard lock(mu_);
  folder_ = path;
}

void Workspace::scroll_to(const std::string& path, const std::string& anchor) {
  std::lock_guard lock(mu_);
  for (auto& t : tabs_) {
    if (t.path == path) t.visible_heading = anchor;
  }
}

std::optional<std::vector<TabWaiter>> Workspace::close_tab(const std::string& path) {
  std::lock_guard lock(mu_);
  auto it = std::find_if(tabs_.begin(), tabs_.end(), [&](const Tab& t) { return t.path == path; });
  if (it == tabs_.end()) return std::nullopt;
  std::size_t index = static_cast<std::size_t>(it - tabs_.begin());
  std::vector<TabWaiter> waiters = std::move(it->waiters);
  tabs_.erase(it);
  // The tab to the left takes over, as in most tabbed editors.
  if (tabs_.empty()) {
    active_.reset();
  } else if (active_ && *active_ >= index) {
    active_ = *active_ == 0 ? 0 : *active_ - 1;
  }
  return waiters;
}

bool Workspace::cycle(int step) {
  std::lock_guard lock(mu_);
  if (tabs_.empty()) return false;
  auto n = static_cast<long>(tabs_.size());
  long at = active_ ? static_cast<long>(*active_) : 0;
  active_ = static_cast<std::size_t>(((at + step) % n + n) % n);
  return true;
}

WorkspaceView Workspace::view() const {
  std::lock_guard lock(mu_);
  WorkspaceView v;
  v.folder = folder_;
  for (const auto& t : tabs_) v.tabs.push_back(t.path);
  if (active_) {
    v.active = tabs_[*active_].path;
    v.visible_heading = tabs_[*active_].visible_heading;
  }
  v.viewer = viewer_;
  return v;
}

}  // namespace elmpad::headless
