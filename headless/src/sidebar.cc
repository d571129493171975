#include "sidebar.h"

#include <climits>
#include <cstdlib>

namespace elmpad::headless {

std::string workspace_key(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  std::string out = path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::uint64_t Sidebar::attach(AgentSession session) {
  std::lock_guard lock(mu_);
  std::uint64_t id = next_session_++;
  sessions_[id] = std::move(session);
  return id;
}

void Sidebar::detach(std::uint64_t id) {
  std::lock_guard lock(mu_);
  sessions_.erase(id);
}

std::optional<AgentSession> Sidebar::session(std::uint64_t id) const {
  std::lock_guard lock(mu_);
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return std::nullopt;
  return it->second;
}

void Sidebar::say(const std::string& workspace, SidebarMessage message) {
  {
    std::lock_guard lock(mu_);
    pending_[workspace].push_back(std::move(message));
  }
  wake_.poke();
}

std::vector<SidebarMessage> Sidebar::take(const std::string& workspace) {
  std::lock_guard lock(mu_);
  auto it = pending_.find(workspace);
  if (it == pending_.end()) return {};
  std::vector<SidebarMessage> out(std::make_move_iterator(it->second.begin()),
                                  std::make_move_iterator(it->second.end()));
  pending_.erase(it);
  return out;
}

}  // namespace elmpad::headless
