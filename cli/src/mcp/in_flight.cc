#include "mcp/in_flight.h"

#include <sys/socket.h>

namespace elmpad::mcp {

InFlightSlot& IN_FLIGHT = *new InFlightSlot;

void InFlightSlot::set(RequestId id) {
  std::lock_guard lock(mu_);
  slot_.reset();
  slot_.emplace(InFlight{std::move(id), UniqueFd(), false});
}

void InFlightSlot::clear() {
  std::lock_guard lock(mu_);
  slot_.reset();
}

void InFlightSlot::register_socket(int socket) {
  std::lock_guard lock(mu_);
  if (!slot_) return;
  auto copy = dup_cloexec(socket);
  slot_->socket = copy ? std::move(*copy) : UniqueFd();
}

bool InFlightSlot::abort_if_matches(const RequestId& id) {
  std::lock_guard lock(mu_);
  if (!slot_ || !slot_->socket || !same_id(slot_->id, id)) return false;
  // Flag first, under the same lock: the tool that wakes from the shutdown
  // and asks was_cancelled() must see true.
  slot_->cancelled = true;
  // Shutting the duplicate down acts on the connection itself, so the read
  // blocked on the tool's own handle ends with end of stream.
  (void)::shutdown(slot_->socket.get(), SHUT_RDWR);
  return true;
}

bool InFlightSlot::was_cancelled() {
  std::lock_guard lock(mu_);
  return slot_ && slot_->cancelled;
}

}  // namespace elmpad::mcp
