// Reply text with the application's data spliced in, printed only as the
// reply is written; and JSON objects built from such texts, their members in
// key order whatever order they were added in.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "raw_json.h"

namespace elmpad::mcp {

/// Compact JSON text with RawJson values spliced in, each either as JSON or
/// escaped as the inside of a JSON string. A value is printed only as the
/// text is written out, so its compact text is never held whole in memory;
/// one value may be spliced in at several places.
class SplicedText {
 public:
  // Implicit: plain text is the common case.
  SplicedText(std::string text = {}) : head_(std::move(text)) {}
  SplicedText(const char* text) : head_(text) {}
  /// Just `value`, as JSON or, with `as_string_contents`, escaped.
  SplicedText(std::shared_ptr<RawJson> value, bool as_string_contents);

  SplicedText& operator+=(std::string_view text);
  SplicedText& append(SplicedText other);

  /// Prints the whole text into `sink`, and drains it.
  void print(TextSink& sink) const;
  [[nodiscard]] std::string text() const;
  /// The spliced value's text, for its storage to be reused, once nothing
  /// else holds it.
  [[nodiscard]] std::optional<std::string> release_value_text() &&;

 private:
  struct Splice {
    std::shared_ptr<RawJson> value;
    bool as_string_contents;
    std::string after;  // text that follows the value
  };
  std::string& last_text() { return splices_.empty() ? head_ : splices_.back().after; }

  std::string head_;
  std::vector<Splice> splices_;
};

/// A JSON object under construction; text() prints its members in key
/// order, so no caller has to place a member by hand.
class ObjectText {
 public:
  /// Sets member `key` to the compact JSON `value`.
  ObjectText& set(std::string key, SplicedText value);
  [[nodiscard]] bool has(const std::string& key) const { return members_.contains(key); }
  [[nodiscard]] SplicedText text() const&;
  /// The same, taking the members' texts rather than copying them: what a
  /// reply does on its way out.
  [[nodiscard]] SplicedText text() &&;

 private:
  std::map<std::string, SplicedText> members_;
};

}  // namespace elmpad::mcp
