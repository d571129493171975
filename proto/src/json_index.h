// Where the values of one JSON text lie. A scanner checks the text once,
// accepting nothing that parse_json refuses, and indexes it, without
// building a tree: members are then found and values printed (json_print.h)
// straight from the text. The application's large answers and every MCP
// request are read this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace elmpad {

/// The index refers to the text by offsets, so the text is passed to every
/// call; it must be the text scanned.
class JsonIndex {
 public:
  enum class Kind : std::uint8_t { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };
  using NodeId = std::uint32_t;
  static constexpr NodeId kRoot = 0;

  /// What scan() takes beyond the JSON that it and the library read alike.
  enum class Accept : std::uint8_t {
    /// Nothing more: a key repeated in an object or a byte order mark is
    /// refused, for the library to decide and word.
    kStrict,
    /// Also what the library reads leniently: a key given twice (the last
    /// one counts, as in the library's value) and a byte order mark before
    /// the value.
    kAsLibrary,
  };

  /// Checks and indexes `text`: one JSON value, space, tab, CR and LF allowed
  /// around it. nullopt when the text is invalid, and also when it is valid
  /// in a way left to parse_json (see Accept; deep nesting; a text of 4 GiB
  /// or more): the caller then parses the text, and parse_json decides and
  /// words the fault.
  [[nodiscard]] static std::optional<JsonIndex> scan(std::string_view text, Accept accept = Accept::kStrict);

  Kind kind(NodeId n) const { return nodes_[n].kind; }
  /// The value of member `key` of object `object`, or nullopt (also when
  /// `object` is not an object).
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

 private:
  friend class JsonScanner;
  friend class JsonPrinter;
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Node {
    std::uint32_t begin = 0;  // first byte (a string's opening quote)
    std::uint32_t end = 0;    // one past the last byte
    NodeId next = 0;          // the node after this value and all inside it
    // Objects: where in order_ their keys' nodes stand sorted, when the text
    // has them in another order or repeats one. Strings with escapes (keys
    // only) and numbers the library writes otherwise: their span in decoded_.
    std::uint32_t aux = kNone;
    // Elements, or members; of an object with keys in order_, its keys
    // there, each once.
    std::uint32_t count = 0;
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

}  // namespace elmpad
