#include "mcp/in_flight.h"

#include <algorithm>
#include <sys/socket.h>

namespace elmpad::mcp {

InFlightSlot& IN_FLIGHT = *new InFlightSlot;

bool InFlightSlot::set(RequestId id, std::uint64_t line, bool early_cancellation) {
  std::lock_guard lock(mu_);
  slot_.reset();
  // Lines are answered in order: a cancellation read before this one can
  // concern no call from here on.
  std::erase_if(kept_, [line](const Kept& kept) { return kept.line < line; });
  bool cancelled = false;
  if (early_cancellation) {
    auto it = std::find_if(kept_.begin(), kept_.end(), [&id](const Kept& kept) { return same_id(kept.id, id); });
    if (it != kept_.end()) {
      kept_.erase(it);
      cancelled = true;
    }
  }
  slot_.emplace(InFlight{std::move(id), UniqueFd(), cancelled, early_cancellation});
  return !cancelled;
}

void InFlightSlot::clear() {
  std::lock_guard lock(mu_);
  slot_.reset();
}

bool InFlightSlot::register_socket(int socket) {
  std::lock_guard lock(mu_);
  if (!slot_) return true;
  if (slot_->cancelled) return false;
  auto copy = dup_cloexec(socket);
  slot_->socket = copy ? std::move(*copy) : UniqueFd();
  return true;
}

bool InFlightSlot::abort_if_matches(const RequestId& id, std::uint64_t line) {
  std::lock_guard lock(mu_);
  if (slot_ && same_id(slot_->id, id)) {
    if (!slot_->socket && !slot_->early_cancellation) return false;
    // Flag first, under the same lock: the tool that wakes from the shutdown
    // and asks was_cancelled() must see true.
    slot_->cancelled = true;
    // Shutting the duplicate down acts on the connection itself, so the read
    // blocked on the tool's own handle ends with end of stream.
    if (slot_->socket) (void)::shutdown(slot_->socket.get(), SHUT_RDWR);
    return true;
  }
  if (kept_.size() == kMaxKept) kept_.pop_front();
  kept_.push_back({id, line});
  return false;
}

bool InFlightSlot::was_cancelled() {
  std::lock_guard lock(mu_);
  return slot_ && slot_->cancelled;
}

}  // namespace elmpad::mcp
