#include "raw_json.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "byte_search.h"
#include "json_text.h"
#include "utf8.h"

namespace elmpad {
namespace {

using namespace byte_search;
using Kind = JsonIndex::Kind;
using NodeId = JsonIndex::NodeId;

// Four hex digits at `p`, or -1.
inline int hex4(const char* p, const char* end) {
  if (end - p < 4) return -1;
  int v = 0;
  for (int k = 0; k < 4; ++k) {
    char c = p[k];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The code point of the escape at `p` (a backslash); `p` moves past it. The
// escape is known to be well formed.
char32_t unescape(const char*& p) {
  char c = p[1];
  p += 2;
  switch (c) {
    case 'b': return 0x08;
    case 'f': return 0x0C;
    case 'n': return 0x0A;
    case 'r': return 0x0D;
    case 't': return 0x09;
    case 'u': {
      char32_t cp = static_cast<char32_t>(hex4(p, p + 4));
      p += 4;
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        char32_t low = static_cast<char32_t>(hex4(p + 2, p + 6));
        p += 6;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      return cp;
    }
    default: return static_cast<unsigned char>(c);  // " \ /
  }
}

// The text that the inside of a checked JSON string stands for.
void append_decoded(std::string& out, std::string_view inside) {
  for (const char* q = inside.data(); q < inside.data() + inside.size();) {
    if (*q != '\\') {
      out += *q++;
      continue;
    }
    char bytes[4];
    out.append(bytes, encode_utf8(unescape(q), bytes));
  }
}

}  // namespace

// Recursive descent over the text, one node per value, in document order.
class JsonScanner {
 public:
  JsonScanner(std::string_view text, JsonIndex& index) : t_(text), index_(index) {}

  bool run() {
    if (t_.size() >= JsonIndex::kNone) return false;
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
  // once here. A repeated key is left to the parser.
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
        if (c == 0) return false;
        if (c > 0) sorted = false;
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
    std::sort(keys.begin(), keys.end(),
              [this](NodeId a, NodeId b) { return index_.key(t_, a) < index_.key(t_, b); });
    for (std::size_t i = 1; i < keys.size(); ++i) {
      if (index_.key(t_, keys[i - 1]) == index_.key(t_, keys[i])) return false;
    }
    index_.nodes_[id].aux = static_cast<std::uint32_t>(index_.order_.size());
    index_.order_.insert(index_.order_.end(), keys.begin(), keys.end());
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
};

namespace {

// Writes compact JSON text into a sink; in `twice` mode every quote and
// backslash of that text is escaped again.
class Printer {
 public:
  Printer(TextSink& sink, bool twice, std::size_t used)
      : sink_(sink), p_(sink.buffer() + used), limit_(sink.buffer() + sink.capacity()), twice_(twice) {}

  std::size_t used() const { return static_cast<std::size_t>(p_ - sink_.buffer()); }

  void put(char c) {
    room(2);
    if (twice_ && (c == '"' || c == '\\')) *p_++ = '\\';
    *p_++ = c;
  }
  // Bytes that hold no quote and no backslash.
  void copy(const char* s, std::size_t n) {
    while (n > 0) {
      room(1);
      std::size_t k = std::min(n, static_cast<std::size_t>(limit_ - p_));
      std::memcpy(p_, s, k);
      p_ += k;
      s += k;
      n -= k;
    }
  }
  void put_all(std::string_view s) {
    for (char c : s) put(c);
  }
  // One character of a string's content, escaped as the library escapes it.
  void code_point(char32_t cp) {
    switch (cp) {
      case 0x08: return escape('b');
      case 0x09: return escape('t');
      case 0x0A: return escape('n');
      case 0x0C: return escape('f');
      case 0x0D: return escape('r');
      case '"': return escape('"');
      case '\\': return escape('\\');
      default: break;
    }
    if (cp < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      put('\\');
      put('u');
      put('0');
      put('0');
      put(kHex[cp >> 4]);
      put(kHex[cp & 0xF]);
      return;
    }
    char bytes[4];
    copy(bytes, encode_utf8(cp, bytes));
  }
  // The content of a string as written in JSON text, re-escaped. Text
  // between escapes is copied a block at a time: a whole block is stored
  // and only the bytes before its first backslash are kept.
  void string_content(const char* s, const char* e, bool escaped) {
    if (!escaped) {
      copy(s, static_cast<std::size_t>(e - s));
      return;
    }
    while (e - s >= kBlock) {
      room(kBlock);
      std::ptrdiff_t i = first_backslash(s);
      std::memcpy(p_, s, kBlock);
      p_ += i;
      s += i;
      if (i < kBlock) code_point(unescape(s));
    }
    while (s < e) {
      if (*s == '\\') {
        code_point(unescape(s));
      } else {
        room(1);
        *p_++ = *s++;
      }
    }
  }
  // Decoded text (the extra member's key), escaped as the library escapes it.
  void text(std::string_view s) {
    put('"');
    for (char c : s) {
      auto b = static_cast<unsigned char>(c);
      if (b >= 0x20 && c != '"' && c != '\\') copy(&c, 1);
      else code_point(b);
    }
    put('"');
  }

 private:
  // The escape of one character, `\\` and `letter`, itself escaped in
  // `twice` mode.
  void escape(char letter) {
    room(4);
    *p_++ = '\\';
    if (twice_) *p_++ = '\\';
    if (twice_ && (letter == '"' || letter == '\\')) *p_++ = '\\';
    *p_++ = letter;
  }

  void room(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - p_) < n) {
      sink_.drain(used());
      p_ = sink_.buffer();
    }
  }

  TextSink& sink_;
  char* p_;
  char* limit_;
  bool twice_;
};

// Collects printed text in a string.
class StringSink : public TextSink {
 public:
  explicit StringSink(std::string& out) : TextSink(4096), out_(out) {}
  void drain(std::size_t size) override { out_.append(buffer(), size); }

 private:
  std::string& out_;
};

}  // namespace

std::optional<JsonIndex> JsonIndex::scan(std::string_view text) {
  JsonIndex index;
  if (!JsonScanner(text, index).run()) return std::nullopt;
  return index;
}

std::string_view JsonIndex::key(std::string_view text, NodeId key_node) const {
  const Node& node = nodes_[key_node];
  if (node.escaped) return decoded(node.aux);
  return text.substr(node.begin + 1, node.end - node.begin - 2);
}

std::optional<JsonIndex::NodeId> JsonIndex::member(std::string_view text, NodeId object, std::string_view name) const {
  if (kind(object) != Kind::kObject) return std::nullopt;
  NodeId k = object + 1;
  for (std::uint32_t i = 0; i < nodes_[object].count; ++i) {
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

void JsonIndex::print(std::string_view text, NodeId n, TextSink& sink, bool as_string_contents,
                      const Extra* extra, std::size_t& used) const {
  Printer printer(sink, as_string_contents, used);
  auto print = [&](auto&& self, NodeId id, const Extra* with) -> void {
    const Node& node = nodes_[id];
    switch (node.kind) {
      case Kind::kNull: printer.copy("null", 4); return;
      case Kind::kFalse: printer.copy("false", 5); return;
      case Kind::kTrue: printer.copy("true", 4); return;
      case Kind::kNumber:
        if (node.aux == kNone) printer.copy(text.data() + node.begin, node.end - node.begin);
        else printer.copy(decoded(node.aux).data(), decoded(node.aux).size());
        return;
      case Kind::kString:
        printer.put('"');
        printer.string_content(text.data() + node.begin + 1, text.data() + node.end - 1, node.escaped);
        printer.put('"');
        return;
      case Kind::kArray: {
        printer.put('[');
        NodeId e = id + 1;
        for (std::uint32_t i = 0; i < node.count; ++i) {
          if (i > 0) printer.put(',');
          self(self, e, nullptr);
          e = nodes_[e].next;
        }
        printer.put(']');
        return;
      }
      case Kind::kObject: {
        bool first = true;
        auto separate = [&] {
          if (!first) printer.put(',');
          first = false;
        };
        auto print_extra = [&] {
          separate();
          printer.text(with->key);
          printer.put(':');
          printer.put_all(with->compact_value);
        };
        bool extra_done = with == nullptr;
        printer.put('{');
        NodeId cursor = id + 1;
        for (std::uint32_t i = 0; i < node.count; ++i) {
          NodeId k = cursor;
          if (node.aux != kNone) k = order_[node.aux + i];
          else cursor = nodes_[k + 1].next;
          if (!extra_done) {
            int c = with->key.compare(key(text, k));
            if (c <= 0) {
              print_extra();
              extra_done = true;
              if (c == 0) continue;
            }
          }
          separate();
          self(self, k, nullptr);
          printer.put(':');
          self(self, k + 1, nullptr);
        }
        if (!extra_done) print_extra();
        printer.put('}');
        return;
      }
    }
  };
  print(print, n, extra);
  used = printer.used();
}

void JsonIndex::append_compact(std::string_view text, NodeId n, std::string& out, bool as_string_contents,
                               const Extra* extra) const {
  StringSink sink(out);
  std::size_t used = 0;
  print(text, n, sink, as_string_contents, extra, used);
  sink.drain(used);
}

void RawJson::print(TextSink& sink, bool as_string_contents, std::size_t& used) const {
  if (!extra_key_) {
    index_.print(text_, node_, sink, as_string_contents, nullptr, used);
    return;
  }
  JsonIndex::Extra extra{*extra_key_, extra_value_};
  index_.print(text_, node_, sink, as_string_contents, &extra, used);
}

void RawJson::append_compact(std::string& out, bool as_string_contents) const {
  StringSink sink(out);
  std::size_t used = 0;
  print(sink, as_string_contents, used);
  sink.drain(used);
}

void SplicedText::print(TextSink& sink) const {
  // The head and tail go through the sink's buffer too, so that the whole
  // text leaves in as few pieces as its size allows.
  auto put = [&sink](std::string_view s, std::size_t& used) {
    while (!s.empty()) {
      if (used == sink.capacity()) {
        sink.drain(used);
        used = 0;
      }
      std::size_t k = std::min(s.size(), sink.capacity() - used);
      std::memcpy(sink.buffer() + used, s.data(), k);
      used += k;
      s.remove_prefix(k);
    }
  };
  std::size_t used = 0;
  put(head, used);
  if (value) value->print(sink, true, used);
  put(tail, used);
  sink.drain(used);
}

std::string SplicedText::text() const {
  std::string out = head;
  if (value) value->append_compact(out, true);
  return out + tail;
}

}  // namespace elmpad
