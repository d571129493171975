#include "json_print.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "byte_search.h"
#include "json_escape.h"
#include "utf8.h"

namespace elmpad {
namespace {

using namespace byte_search;
using json_escape::unescape;
using Kind = JsonIndex::Kind;
using NodeId = JsonIndex::NodeId;

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

// What the printer reads of an index's insides.
class JsonPrinter {
 public:
  using Node = JsonIndex::Node;
  static constexpr auto kNone = JsonIndex::kNone;
  static const std::vector<Node>& nodes(const JsonIndex& index) { return index.nodes_; }
  static const std::vector<NodeId>& order(const JsonIndex& index) { return index.order_; }
  static std::string_view decoded(const JsonIndex& index, std::uint32_t span) { return index.decoded(span); }
};

namespace {

void print_index(const JsonIndex& index, std::string_view text, NodeId n, TextSink& sink, bool as_string_contents,
                 std::size_t& used, bool numbers_as_written = false) {
  using Node = JsonPrinter::Node;
  const auto& nodes = JsonPrinter::nodes(index);
  const auto& order = JsonPrinter::order(index);
  auto decoded = [&index](std::uint32_t span) { return JsonPrinter::decoded(index, span); };
  constexpr auto kNone = JsonPrinter::kNone;
  Printer printer(sink, as_string_contents, used);
  auto print = [&](auto&& self, NodeId id) -> void {
    const Node& node = nodes[id];
    switch (node.kind) {
      case Kind::kNull: printer.copy("null", 4); return;
      case Kind::kFalse: printer.copy("false", 5); return;
      case Kind::kTrue: printer.copy("true", 4); return;
      case Kind::kNumber:
        if (node.aux == kNone || numbers_as_written) printer.copy(text.data() + node.begin, node.end - node.begin);
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
          self(self, e);
          e = nodes[e].next;
        }
        printer.put(']');
        return;
      }
      case Kind::kObject: {
        printer.put('{');
        NodeId cursor = id + 1;
        for (std::uint32_t i = 0; i < node.count; ++i) {
          NodeId k = cursor;
          if (node.aux != kNone) k = order[node.aux + i];
          else cursor = nodes[k + 1].next;
          if (i > 0) printer.put(',');
          self(self, k);
          printer.put(':');
          self(self, k + 1);
        }
        printer.put('}');
        return;
      }
    }
  };
  print(print, n);
  used = printer.used();
}

}  // namespace

void print_compact(const JsonIndex& index, std::string_view text, JsonIndex::NodeId n, TextSink& sink,
                   bool as_string_contents, std::size_t& used) {
  print_index(index, text, n, sink, as_string_contents, used);
}

void append_compact(const JsonIndex& index, std::string_view text, JsonIndex::NodeId n, std::string& out,
                    bool as_string_contents) {
  StringSink sink(out);
  std::size_t used = 0;
  print_compact(index, text, n, sink, as_string_contents, used);
  sink.drain(used);
}

std::string compact_as_written(const JsonIndex& index, std::string_view text, JsonIndex::NodeId n) {
  std::string out;
  StringSink sink(out);
  std::size_t used = 0;
  print_index(index, text, n, sink, false, used, true);
  sink.drain(used);
  return out;
}

}  // namespace elmpad
