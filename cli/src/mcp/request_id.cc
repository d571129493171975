#include "mcp/request_id.h"

#include <optional>

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

RequestId request_id_at(std::string_view line, const JsonIndex& index, JsonIndex::NodeId n) {
  // The scanner has checked the text: the library reads it too.
  RequestId id(parse_json(index.raw(line, n)).value_or(json()));
  if (index.kind(n) == JsonIndex::Kind::kNumber) id.number_text = index.raw(line, n);
  return id;
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
