#include "peer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app_log.h"

namespace elmpad::headless {
namespace {

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::expected<std::shared_ptr<Peer>, std::string> Peer::make(int fd) {
  int wake[2];
  if (::pipe(wake) != 0) return std::unexpected(std::string("pipe: ") + std::strerror(errno));
  for (int end : wake) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    // A sender never waits for the pipe, and the connection empties it
    // without waiting either; one unread byte is wake-up enough.
    ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
  }
  return std::shared_ptr<Peer>(new Peer(fd, wake[0], wake[1]));
}

Peer::~Peer() { close(); }

void Peer::send_event(std::string_view line) {
  bool dropped = false;
  {
    std::lock_guard lock(mu_);
    if (fd_ < 0 || broken_) return;
    queued_events_ += line.size();
    if (holding_) {
      held_.push_back({std::string(line), true});
    } else {
      queue_.push_back({std::string(line), true});
      ssize_t poked = ::write(wake_[1], "", 1);
      (void)poked;  // a full pipe already holds a wake-up
    }
    dropped = drop_if_overfull_locked();
  }
  if (dropped) print_line("elmwrite-headless: dropped a client that stopped reading");
}

bool Peer::drop_if_overfull_locked() {
  if (queued_events_ <= kMaxQueuedEventBytes) return false;
  broken_ = true;
  queue_.clear();
  held_.clear();
  queued_events_ = 0;
  // Ends the connection's thread too, whether it waits in a write to this
  // client or for its next request.
  ::shutdown(fd_, SHUT_RDWR);
  return true;
}

void Peer::hold_events() {
  std::lock_guard lock(mu_);
  holding_ = true;
}

bool Peer::answer(std::string_view line) {
  {
    std::lock_guard lock(mu_);
    holding_ = false;
    if (broken_ || fd_ < 0) return false;
    queue_.push_back({std::string(line), false});
    for (auto& held : held_) queue_.push_back(std::move(held));
    held_.clear();
  }
  return flush();
}

bool Peer::flush() {
  {
    std::lock_guard lock(mu_);
    if (fd_ < 0) return false;
    char drain[64];
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
  }
  while (true) {
    Outgoing next;
    {
      std::lock_guard lock(mu_);
      if (broken_ || fd_ < 0) return false;
      if (queue_.empty()) return true;
      next = std::move(queue_.front());
      queue_.pop_front();
      if (next.event) queued_events_ -= next.line.size();
    }
    // No lock here: this may wait as long as the client does not read, and
    // senders must not wait with it.
    if (!write_all(fd_, next.line)) {
      std::lock_guard lock(mu_);
      broken_ = true;
      queue_.clear();
      held_.clear();
      queued_events_ = 0;
      return false;
    }
  }
}

void Peer::close() {
  std::lock_guard lock(mu_);
  if (fd_ < 0) return;
  // A tab may keep this record long after its client left: it keeps no
  // descriptor with it.
  ::close(fd_);
  ::close(wake_[0]);
  ::close(wake_[1]);
  fd_ = -1;
  queue_.clear();
  held_.clear();
  queued_events_ = 0;
}

}  // namespace elmpad::headless
