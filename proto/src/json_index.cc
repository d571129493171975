#include "json_index.h"

#include <algorithm>
#include <cstddef>

#include "byte_search.h"
#include "json_escape.h"
#include "json_text.h"
#include "utf8.h"

namespace elmpad {
namespace {

using namespace byte_search;
using json_escape::append_decoded;
using json_escape::hex4;
using Kind = JsonIndex::Kind;
using NodeId = JsonIndex::NodeId;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// Recursive descent over the text, one node per value, in document order.
class JsonScanner {
 public:
  JsonScanner(std::string_view text, JsonIndex& index, JsonIndex::Accept accept)
      : t_(text), index_(index), lenient_(accept == JsonIndex::Accept::kAsLibrary) {}

  bool run() {
    if (t_.size() >= JsonIndex::kNone) return false;
    if (lenient_ && t_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    skip_space();
    if (!value(0)) return false;
    skip_space();
    return pos_ == t_.size();
  }

 private:
  using Node = JsonIndex::Node;

  void skip_space() {
    while (pos_ < t_.size()) {
      char c = t_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }
  bool at(char c) const { return pos_ < t_.size() && t_[pos_] == c; }

  NodeId push(Kind kind) {
    index_.nodes_.push_back(Node{.begin = static_cast<std::uint32_t>(pos_), .kind = kind});
    return static_cast<NodeId>(index_.nodes_.size() - 1);
  }
  // Closes node `id` at the current position.
  void close(NodeId id) {
    Node& node = index_.nodes_[id];
    node.end = static_cast<std::uint32_t>(pos_);
    node.next = static_cast<NodeId>(index_.nodes_.size());
  }

  // `depth`: containers around the value.
  bool value(std::size_t depth) {
    if (pos_ >= t_.size()) return false;
    switch (t_[pos_]) {
      case '{': return object(depth + 1);
      case '[': return array(depth + 1);
      case '"': return string(false);
      case 't': return literal("true", Kind::kTrue);
      case 'f': return literal("false", Kind::kFalse);
      case 'n': return literal("null", Kind::kNull);
      default: return number();
    }
  }

  bool object(std::size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    NodeId id = push(Kind::kObject);
    bool members = items(id, '}', [&] {
      if (!at('"') || !string(true)) return false;
      skip_space();
      if (!at(':')) return false;
      ++pos_;
      skip_space();
      return value(depth);
    });
    return members && order_keys(id);
  }

  // Objects print their keys in byte order. Keys already in order (as a
  // sorted writer sends them) cost one comparison each; others are sorted
  // once here. A repeated key is left to the parser, or, read as the library
  // reads, only its last value is kept.
  bool order_keys(NodeId id) {
    std::uint32_t count = index_.nodes_[id].count;
    if (count < 2) return true;
    bool sorted = true;
    NodeId k = id + 1;
    std::string_view previous;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string_view key = index_.key(t_, k);
      if (i > 0) {
        int c = previous.compare(key);
        if (c >= 0) sorted = false;
        if (c == 0 && !lenient_) return false;
      }
      previous = key;
      k = index_.nodes_[k + 1].next;
    }
    if (sorted) return true;
    std::vector<NodeId> keys;
    keys.reserve(count);
    k = id + 1;
    for (std::uint32_t i = 0; i < count; ++i) {
      keys.push_back(k);
      k = index_.nodes_[k + 1].next;
    }
    auto key_less = [this](NodeId a, NodeId b) { return index_.key(t_, a) < index_.key(t_, b); };
    std::stable_sort(keys.begin(), keys.end(), key_less);
    // Of keys given more than once, the last in the text, last among its
    // equals after a stable sort, is the one kept.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      bool repeated = i + 1 < keys.size() && !key_less(keys[i], keys[i + 1]);
      if (repeated && !lenient_) return false;
      if (!repeated) keys[kept++] = keys[i];
    }
    index_.nodes_[id].aux = static_cast<std::uint32_t>(index_.order_.size());
    index_.nodes_[id].count = static_cast<std::uint32_t>(kept);
    index_.order_.insert(index_.order_.end(), keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(kept));
    return true;
  }

  bool array(std::size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    NodeId id = push(Kind::kArray);
    return items(id, ']', [&] { return value(depth); });
  }

  // The comma-separated items of the container `id`, from its opening
  // bracket to `closing`; `item` reads one.
  template <class Item>
  bool items(NodeId id, char closing, Item item) {
    ++pos_;
    skip_space();
    std::uint32_t count = 0;
    if (at(closing)) {
      ++pos_;
    } else {
      while (true) {
        if (!item()) return false;
        ++count;
        skip_space();
        if (at(',')) {
          ++pos_;
          skip_space();
          continue;
        }
        if (!at(closing)) return false;
        ++pos_;
        break;
      }
    }
    close(id);
    index_.nodes_[id].count = count;
    return true;
  }

  // The library's rules: the escapes \" \\ \/ \b \f \n \r \t and \uXXXX
  // (a high surrogate only with its low one), no control character, and
  // well-formed UTF-8.
  bool string(bool is_key) {
    NodeId id = push(Kind::kString);
    const char* p = t_.data() + pos_ + 1;
    const char* end = t_.data() + t_.size();
    bool escaped = false;
    while (true) {
      while (end - p >= kBlock) {
        std::ptrdiff_t i = first_string_special(p);
        p += i;
        if (i < kBlock) break;
      }
      if (p >= end) return false;
      auto c = static_cast<unsigned char>(*p);
      if (c == '"') {
        ++p;
        break;
      }
      if (c == '\\') {
        escaped = true;
        if (end - p < 2) return false;
        switch (p[1]) {
          case '"':
          case '\\':
          case '/':
          case 'b':
          case 'f':
          case 'n':
          case 'r':
          case 't':
            p += 2;
            break;
          case 'u': {
            int cp = hex4(p + 2, end);
            if (cp < 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
            p += 6;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return false;
              int low = hex4(p + 2, end);
              if (low < 0xDC00 || low > 0xDFFF) return false;
              p += 6;
            }
            break;
          }
          default:
            return false;
        }
        continue;
      }
      if (c < 0x20) return false;
      if (c < 0x80) {
        ++p;
        continue;
      }
      // A run of multi-byte characters is checked in one go.
      do {
        std::size_t len = utf8_sequence_length(std::string_view(p, static_cast<std::size_t>(end - p)), 0);
        if (len == 0) return false;
        p += len;
      } while (p < end && static_cast<unsigned char>(*p) >= 0x80);
    }
    pos_ = static_cast<std::size_t>(p - t_.data());
    close(id);
    Node& node = index_.nodes_[id];
    node.escaped = escaped;
    if (is_key && escaped) {
      // Keys are compared as the text they stand for.
      std::uint32_t from = static_cast<std::uint32_t>(index_.decoded_.size());
      append_decoded(index_.decoded_, t_.substr(node.begin + 1, node.end - node.begin - 2));
      node.aux = add_span(from);
    }
    return true;
  }

  std::uint32_t add_span(std::uint32_t from) {
    index_.spans_.push_back({from, static_cast<std::uint32_t>(index_.decoded_.size() - from)});
    return static_cast<std::uint32_t>(index_.spans_.size() - 1);
  }

  // The grammar is checked here; the value is the library's: a number it
  // would print otherwise than written (a fraction, an exponent, -0, more
  // digits than 64 bits hold) is handed to it, and printed as it prints it.
  bool number() {
    NodeId id = push(Kind::kNumber);
    const char* p = t_.data() + pos_;
    const char* end = t_.data() + t_.size();
    bool negative = p < end && *p == '-';
    if (negative) ++p;
    const char* digits = p;
    if (p >= end || !is_digit(*p)) return false;
    if (*p == '0') {
      ++p;
    } else {
      while (p < end && is_digit(*p)) ++p;
    }
    std::size_t int_digits = static_cast<std::size_t>(p - digits);
    bool plain = true;
    if (p < end && *p == '.') {
      plain = false;
      ++p;
      if (p >= end || !is_digit(*p)) return false;
      while (p < end && is_digit(*p)) ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
      plain = false;
      ++p;
      if (p < end && (*p == '+' || *p == '-')) ++p;
      if (p >= end || !is_digit(*p)) return false;
      while (p < end && is_digit(*p)) ++p;
    }
    pos_ = static_cast<std::size_t>(p - t_.data());
    close(id);
    bool as_written = plain && (negative ? int_digits <= 18 && *digits != '0' : int_digits <= 19);
    if (!as_written) {
      const Node& node = index_.nodes_[id];
      auto parsed = parse_json(t_.substr(node.begin, node.end - node.begin));
      if (!parsed) return false;  // such as a float beyond range
      std::uint32_t from = static_cast<std::uint32_t>(index_.decoded_.size());
      index_.decoded_ += compact(*parsed);
      index_.nodes_[id].aux = add_span(from);
    }
    return true;
  }

  bool literal(std::string_view word, Kind kind) {
    if (t_.substr(pos_, word.size()) != word) return false;
    NodeId id = push(kind);
    pos_ += word.size();
    close(id);
    return true;
  }

  std::string_view t_;
  std::size_t pos_ = 0;
  JsonIndex& index_;
  bool lenient_;
};

std::optional<JsonIndex> JsonIndex::scan(std::string_view text, Accept accept) {
  JsonIndex index;
  if (!JsonScanner(text, index, accept).run()) return std::nullopt;
  return index;
}

std::string_view JsonIndex::key(std::string_view text, NodeId key_node) const {
  const Node& node = nodes_[key_node];
  if (node.escaped) return decoded(node.aux);
  return text.substr(node.begin + 1, node.end - node.begin - 2);
}

std::optional<JsonIndex::NodeId> JsonIndex::member(std::string_view text, NodeId object, std::string_view name) const {
  if (kind(object) != Kind::kObject) return std::nullopt;
  const Node& node = nodes_[object];
  if (node.aux != kNone) {
    auto first = order_.begin() + node.aux;
    auto last = first + node.count;
    auto it = std::lower_bound(first, last, name, [&](NodeId k, std::string_view n) { return key(text, k) < n; });
    if (it == last || key(text, *it) != name) return std::nullopt;
    return *it + 1;
  }
  NodeId k = object + 1;
  for (std::uint32_t i = 0; i < node.count; ++i) {
    if (key(text, k) == name) return k + 1;
    k = nodes_[k + 1].next;
  }
  return std::nullopt;
}

std::string JsonIndex::decoded_string(std::string_view text, NodeId n) const {
  std::string out;
  std::string_view inside = raw(text, n).substr(1, nodes_[n].end - nodes_[n].begin - 2);
  if (!nodes_[n].escaped) return std::string(inside);
  append_decoded(out, inside);
  return out;
}

std::optional<std::uint64_t> JsonIndex::as_u64(std::string_view text, NodeId n) const {
  if (kind(n) != Kind::kNumber) return std::nullopt;
  std::string_view digits = text.substr(nodes_[n].begin, nodes_[n].end - nodes_[n].begin);
  std::uint64_t value = 0;
  for (char c : digits) {
    if (!is_digit(c)) return std::nullopt;
    auto d = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  return value;
}

}  // namespace elmpad
