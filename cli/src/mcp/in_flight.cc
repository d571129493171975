#include "mcp/in_flight.h"

#include <sys/socket.h>

namespace elmpad::mcp {
namespace {

// The exact value of a JSON number: whether it was written as an integer, its
// sign, its significant digits and the power of ten of the last one. Nothing
// for an exponent too large to hold, which then compares by its text.
struct Decimal {
  bool integer = true;
  bool negative = false;
  std::string digits;
  long long exponent = 0;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

std::optional<Decimal> decimal_of(std::string_view text) {
  constexpr long long kMaxExponent = 1'000'000'000'000'000;
  auto is_digit = [&text](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  Decimal d;
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') d.negative = true, ++i;
  while (is_digit(i)) d.digits += text[i++];
  if (d.digits.empty()) return std::nullopt;  // not a number's text
  if (i < text.size() && text[i] == '.') {
    d.integer = false;
    for (++i; is_digit(i); ++i, --d.exponent) d.digits += text[i];
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    d.integer = false;
    ++i;
    bool minus = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    long long e = 0;
    for (; is_digit(i); ++i) {
      e = e * 10 + (text[i] - '0');
      if (e > kMaxExponent) return std::nullopt;
    }
    d.exponent += minus ? -e : e;
  }
  std::size_t lead = d.digits.find_first_not_of('0');
  if (lead == std::string::npos) return Decimal{.integer = d.integer};  // zero, whatever its sign
  std::size_t last = d.digits.find_last_not_of('0');
  d.exponent += static_cast<long long>(d.digits.size() - 1 - last);
  d.digits = d.digits.substr(lead, last + 1 - lead);
  return d;
}

bool same_number(std::string_view a, std::string_view b) {
  auto da = decimal_of(a);
  auto db = decimal_of(b);
  return da && db ? *da == *db : a == b;
}

}  // namespace

RequestId::RequestId(json id, std::optional<std::string> number_text) : value(std::move(id)) {
  if (value.is_number() && number_text) this->number_text = std::move(*number_text);
}

RequestId read_request_id(std::string_view line, json value, std::initializer_list<std::string_view> path) {
  // Integers print as they were written, but for -0; any other number may not.
  bool respelled = value.is_number_float() || (value.is_number_integer() && !value.is_number_unsigned() && value == 0);
  if (!respelled) return RequestId(std::move(value));
  return RequestId(std::move(value), number_text_at(line, path));
}

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

std::optional<RequestId> cancelled_request_id(std::string_view line) {
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
  return read_request_id(line, std::move(*request_id), {"params", "requestId"});
}

bool same_id(const RequestId& a, const RequestId& b) {
  if (!a.value.is_number() || !b.value.is_number()) return same_json(a.value, b.value);
  return same_number(a.text(), b.text());
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
