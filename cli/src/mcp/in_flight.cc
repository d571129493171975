#include "mcp/in_flight.h"

#include <sys/socket.h>

namespace elmpad::mcp {

InFlightSlot& IN_FLIGHT = *new InFlightSlot;

void InFlightSlot::set(json id) {
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

bool InFlightSlot::abort_if_matches(const json& id) {
  std::lock_guard lock(mu_);
  if (!slot_ || !slot_->socket || !same_json(slot_->id, id)) return false;
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

std::optional<json> cancelled_request_id(std::string_view line) {
  // Lines can be megabytes long. The method can only be the cancellation if
  // its letters appear literally, or if the line has an escape able to spell
  // one of them (\/ or \uXXXX); any other line is passed on unparsed.
  if (line.find("notifications/cancelled") == std::string_view::npos &&
      line.find("\\/") == std::string_view::npos && line.find("\\u") == std::string_view::npos) {
    return std::nullopt;
  }
  auto value = parse_json(line);
  if (!value || !value->is_object() || value->contains("id")) return std::nullopt;
  auto method = value->find("method");
  if (method == value->end() || !method->is_string() || method->get_ref<const std::string&>() != "notifications/cancelled") {
    return std::nullopt;
  }
  auto params = value->find("params");
  if (params == value->end() || !params->is_object()) return std::nullopt;
  auto request_id = params->find("requestId");
  if (request_id == params->end()) return std::nullopt;
  return std::move(*request_id);
}

bool same_json(const json& a, const json& b) {
  auto is_integer = [](const json& v) { return v.is_number_integer(); };  // signed or unsigned
  if (is_integer(a) && is_integer(b)) {
    if (a.is_number_unsigned() == b.is_number_unsigned()) return a == b;
    const json& u = a.is_number_unsigned() ? a : b;
    const json& s = a.is_number_unsigned() ? b : a;
    auto signed_value = s.get<std::int64_t>();
    return signed_value >= 0 && static_cast<std::uint64_t>(signed_value) == u.get<std::uint64_t>();
  }
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case json::value_t::array: {
      if (a.size() != b.size()) return false;
      for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_json(a[i], b[i])) return false;
      }
      return true;
    }
    case json::value_t::object: {
      if (a.size() != b.size()) return false;
      for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
        if (ia.key() != ib.key() || !same_json(ia.value(), ib.value())) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace elmpad::mcp
