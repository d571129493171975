// A reply's text with the application's data spliced in, printed only as the
// reply is written.
#pragma once

#include <optional>
#include <string>

#include "raw_json.h"

namespace elmpad::mcp {

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

}  // namespace elmpad::mcp
