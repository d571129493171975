#include "sidebar.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace elmpad::headless {

std::string workspace_key(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  std::string out = path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

Sidebar::Sidebar() {
  if (::pipe(wake_) != 0) throw std::runtime_error("pipe");
  for (int fd : wake_) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // A full pipe already means "something happened"; never block on it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
}

Sidebar::~Sidebar() {
  for (int fd : wake_) ::close(fd);
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
  char byte = 1;
  [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
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

void Sidebar::drain_wakeups() {
  char buf[256];
  while (::read(wake_[0], buf, sizeof buf) > 0) {
  }
}

}  // namespace elmpad::headless
