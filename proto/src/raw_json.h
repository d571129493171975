// A JSON value kept as the text it came in. A scanner checks the text once,
// accepting nothing that parse_json refuses, and indexes it; the value is
// then printed in compact form (keys in byte order, strings escaped as
// compact() escapes them) straight from the text, without building a tree.
// The application's large answers pass through this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace elmpad {

/// Where printed text goes: a buffer that is handed on each time it fills,
/// so that a large text is never held whole.
class TextSink {
 public:
  explicit TextSink(std::size_t capacity) : buffer_(new char[capacity]), capacity_(capacity) {}
  virtual ~TextSink() = default;
  char* buffer() const { return buffer_.get(); }
  std::size_t capacity() const { return capacity_; }
  /// Takes the first `size` bytes of the buffer, which is then free again.
  virtual void drain(std::size_t size) = 0;

 private:
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
};

/// Where the values of one JSON text lie. It refers to the text by offsets,
/// so the text is passed to every call; it must be the text scanned.
class JsonIndex {
 public:
  enum class Kind : std::uint8_t { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };
  using NodeId = std::uint32_t;
  static constexpr NodeId kRoot = 0;

  /// Checks and indexes `text`: one JSON value, space, tab, CR and LF allowed
  /// around it. nullopt when the text is invalid, and also when it is valid
  /// in a way left to parse_json (a key repeated in an object, a byte order
  /// mark, deep nesting, a text of 4 GiB or more): the caller then parses
  /// the text, and parse_json decides and words the fault.
  [[nodiscard]] static std::optional<JsonIndex> scan(std::string_view text);

  Kind kind(NodeId n) const { return nodes_[n].kind; }
  /// The value of member `key` of object `object`, or nullopt.
  [[nodiscard]] std::optional<NodeId> member(std::string_view text, NodeId object, std::string_view key) const;
  /// A number written as a non-negative integer that fits in 64 bits: what
  /// the library keeps as an unsigned number.
  [[nodiscard]] std::optional<std::uint64_t> as_u64(std::string_view text, NodeId n) const;
  /// The text that value `n` is written as.
  std::string_view raw(std::string_view text, NodeId n) const {
    return text.substr(nodes_[n].begin, nodes_[n].end - nodes_[n].begin);
  }
  /// The text string `n` stands for, its escapes decoded.
  std::string decoded_string(std::string_view text, NodeId n) const;

  /// A member printed in place of the object's own (or added in key order).
  struct Extra {
    std::string_view key;
    std::string_view compact_value;  // compact JSON text, printed as it is
  };

  /// Prints the compact text of value `n` into `sink`, after the `used`
  /// bytes already in its buffer; `used` then counts the bytes not yet
  /// drained. With `as_string_contents`, that text is escaped once more, as
  /// the inside of a JSON string (what compact() of a string holding it
  /// writes between the quotes). `extra` applies to `n` itself, which must
  /// then be an object.
  void print(std::string_view text, NodeId n, TextSink& sink, bool as_string_contents, const Extra* extra,
             std::size_t& used) const;
  /// The same, appended to `out`.
  void append_compact(std::string_view text, NodeId n, std::string& out, bool as_string_contents,
                      const Extra* extra = nullptr) const;

 private:
  friend class JsonScanner;
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Node {
    std::uint32_t begin = 0;  // first byte (a string's opening quote)
    std::uint32_t end = 0;    // one past the last byte
    NodeId next = 0;          // the node after this value and all inside it
    // Objects: where in order_ their keys' nodes stand sorted, when the text
    // has them in another order. Strings with escapes (keys only) and numbers
    // the library writes otherwise: their span in decoded_.
    std::uint32_t aux = kNone;
    std::uint32_t count = 0;  // members or elements
    Kind kind = Kind::kNull;
    bool escaped = false;     // a string holding a backslash escape
  };
  struct Span {
    std::uint32_t begin, size;
  };

  std::string_view key(std::string_view text, NodeId key_node) const;
  std::string_view decoded(std::uint32_t span) const {
    return std::string_view(decoded_).substr(spans_[span].begin, spans_[span].size);
  }

  std::vector<Node> nodes_;
  std::vector<NodeId> order_;
  std::vector<Span> spans_;
  std::string decoded_;  // decoded keys and re-printed numbers
};

/// One JSON value with the text that holds it, as the application sent it.
class RawJson {
 public:
  RawJson(std::string text, JsonIndex index, JsonIndex::NodeId node)
      : text_(std::move(text)), index_(std::move(index)), node_(node) {}

  [[nodiscard]] bool is_object() const { return index_.kind(node_) == JsonIndex::Kind::kObject; }
  /// Sets member `key` of this object (which it must be) to a compact JSON
  /// text, replacing the member the text has under that key.
  void set_member(std::string key, std::string compact_value) {
    extra_key_ = std::move(key);
    extra_value_ = std::move(compact_value);
  }
  /// Gives up the text, for its storage to be reused.
  std::string release_text() && { return std::move(text_); }
  /// See JsonIndex::print and append_compact.
  void print(TextSink& sink, bool as_string_contents, std::size_t& used) const;
  void append_compact(std::string& out, bool as_string_contents) const;

 private:
  std::string text_;
  JsonIndex index_;
  JsonIndex::NodeId node_;
  std::optional<std::string> extra_key_;
  std::string extra_value_;
};

/// Text with a RawJson spliced in: head, the value's compact text escaped as
/// the inside of a JSON string, tail. The value is printed only as the text
/// is written out, so its compact text is never held whole in memory.
struct SplicedText {
  std::string head;
  std::optional<RawJson> value;
  std::string tail;

  /// Prints the whole text into `sink`, and drains it.
  void print(TextSink& sink) const;
  std::string text() const;
};

}  // namespace elmpad
