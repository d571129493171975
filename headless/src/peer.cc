#include "peer.h"

#include <cerrno>
#include <unistd.h>

namespace elmpad::headless {

bool Peer::send_line(std::string_view line) {
  std::lock_guard lock(mu_);
  return write_locked(line);
}

void Peer::hold_events() {
  std::lock_guard lock(mu_);
  holding_ = true;
}

void Peer::send_event(std::string_view line) {
  std::lock_guard lock(mu_);
  if (holding_) held_.emplace_back(line);
  else write_locked(line);
}

void Peer::release_events() {
  std::lock_guard lock(mu_);
  holding_ = false;
  for (const auto& line : held_) write_locked(line);
  held_.clear();
}

bool Peer::write_locked(std::string_view line) {
  while (!line.empty()) {
    if (fd_ < 0) return false;
    ssize_t n = ::write(fd_, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    line.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void Peer::close() {
  std::lock_guard lock(mu_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace elmpad::headless
