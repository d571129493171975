#include "mcp/request_id.h"

#include <optional>

#include "json_print.h"

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

// The end of the number token that starts at `i`.
std::size_t number_end(std::string_view text, std::size_t i) {
  while (i < text.size() && std::string_view("+-.0123456789eE").find(text[i]) != std::string_view::npos) ++i;
  return i;
}

}  // namespace

RequestId request_id_at(std::string_view line, const JsonIndex& index, JsonIndex::NodeId n) {
  RequestId id;
  id.text_ = compact_as_written(index, line, n);
  return id;
}

bool same_id(const RequestId& a, const RequestId& b) {
  // Both texts are compact with keys in order and strings escaped one way,
  // so they differ only in how numbers are spelled: walk them together and
  // compare each pair of numbers by value.
  std::string_view x = a.text(), y = b.text();
  std::size_t i = 0, j = 0;
  bool in_string = false;
  while (i < x.size() && j < y.size()) {
    char c = x[i];
    if (!in_string && (c == '-' || (c >= '0' && c <= '9'))) {
      std::size_t ei = number_end(x, i), ej = number_end(y, j);
      if (ej == j || !same_number(x.substr(i, ei - i), y.substr(j, ej - j))) return false;
      i = ei, j = ej;
      continue;
    }
    if (c != y[j]) return false;
    if (in_string && c == '\\') {  // the escaped character cannot end the string
      if (++i == x.size() || ++j == y.size() || x[i] != y[j]) return false;
    } else if (c == '"') {
      in_string = !in_string;
    }
    ++i, ++j;
  }
  return i == x.size() && j == y.size();
}

}  // namespace elmpad::mcp
