// Compact JSON printed from an index: keys in byte order, strings escaped as
// compact() escapes them, straight from the text into a buffer that is
// handed on as it fills, so that a large value is never held twice.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "json_index.h"

namespace elmpad {

/// Where printed text goes: a buffer that is handed on each time it fills.
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

/// Prints the compact text of value `n` into `sink`, after the `used` bytes
/// already in its buffer; `used` then counts the bytes not yet drained. With
/// `as_string_contents`, that text is escaped once more, as the inside of a
/// JSON string (what compact() of a string holding it writes between the
/// quotes).
void print_compact(const JsonIndex& index, std::string_view text, JsonIndex::NodeId n, TextSink& sink,
                   bool as_string_contents, std::size_t& used);

/// The same, appended to `out`.
void append_compact(const JsonIndex& index, std::string_view text, JsonIndex::NodeId n, std::string& out,
                    bool as_string_contents);

/// The compact text of value `n` with every number spelled as written, not
/// as the library would print it: what echoes a client's id exactly.
[[nodiscard]] std::string compact_as_written(const JsonIndex& index, std::string_view text, JsonIndex::NodeId n);

}  // namespace elmpad
