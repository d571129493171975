#include "peer.h"

#include <poll.h>
#include <sys/socket.h>

#include "app_log.h"

namespace elmpad::headless {

Result<std::shared_ptr<Peer>> Peer::make(UniqueFd socket) {
  auto wake = WakePipe::make();
  if (!wake) return std::unexpected(std::move(wake).error());
  return std::shared_ptr<Peer>(new Peer(std::move(socket), std::move(*wake)));
}

Peer::~Peer() { close(); }

void Peer::send_event(std::string_view line) {
  bool dropped = false;
  {
    std::lock_guard lock(mu_);
    if (!socket_ || broken_) return;
    queued_events_ += line.size();
    if (holding_) {
      held_.push_back({std::string(line), true});
    } else {
      queue_.push_back({std::string(line), true});
      wake_.poke();
    }
    dropped = drop_if_overfull_locked();
  }
  if (dropped) print_line("elmwrite-headless: dropped a client that stopped reading");
}

bool Peer::drop_if_overfull_locked() {
  if (queued_events_ <= kMaxQueuedEventBytes) return false;
  broken_ = true;
  discard_locked();
  // Ends the connection's thread too, whether it waits in a write to this
  // client or for its next request.
  ::shutdown(socket_.get(), SHUT_RDWR);
  return true;
}

void Peer::discard_locked() {
  queue_.clear();
  held_.clear();
  queued_events_ = 0;
}

void Peer::hold_events() {
  std::lock_guard lock(mu_);
  holding_ = true;
}

bool Peer::answer(std::string line) {
  {
    std::lock_guard lock(mu_);
    holding_ = false;
    if (broken_ || !socket_) return false;
    queue_.push_back({std::move(line), false});
    for (auto& held : held_) queue_.push_back(std::move(held));
    held_.clear();
  }
  return flush();
}

bool Peer::flush() {
  {
    std::lock_guard lock(mu_);
    if (!socket_) return false;
    wake_.drain();
  }
  while (true) {
    Outgoing next;
    {
      std::lock_guard lock(mu_);
      if (broken_ || !socket_) return false;
      if (queue_.empty()) return true;
      next = std::move(queue_.front());
      queue_.pop_front();
      if (next.event) queued_events_ -= next.line.size();
    }
    // No lock here: this may wait as long as the client does not read, and
    // senders must not wait with it.
    if (!write_all(socket_.get(), next.line)) {
      std::lock_guard lock(mu_);
      broken_ = true;
      discard_locked();
      return false;
    }
  }
}

bool Peer::hung_up() {
  {
    std::lock_guard lock(mu_);
    if (broken_ || !socket_) return true;
  }
  // Asked for writing alone: the end of the client's requests shows as a
  // hang-up where reading is asked about too (macOS), a closed connection
  // everywhere only on the writing side.
  pollfd p{socket_.get(), POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void Peer::close() {
  std::lock_guard lock(mu_);
  // A tab may keep this record long after its client left: it keeps no
  // descriptor with it.
  socket_.reset();
  wake_ = WakePipe();
  discard_locked();
}

}  // namespace elmpad::headless
