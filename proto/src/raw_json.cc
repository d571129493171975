#include "raw_json.h"

namespace elmpad {

void RawJson::print(TextSink& sink, bool as_string_contents, std::size_t& used) const {
  if (!extra_key_) {
    print_compact(index_, text_, node_, sink, as_string_contents, nullptr, used);
    return;
  }
  ExtraMember extra{*extra_key_, extra_value_};
  print_compact(index_, text_, node_, sink, as_string_contents, &extra, used);
}

void RawJson::append_compact(std::string& out, bool as_string_contents) const {
  if (!extra_key_) return elmpad::append_compact(index_, text_, node_, out, as_string_contents, nullptr);
  ExtraMember extra{*extra_key_, extra_value_};
  elmpad::append_compact(index_, text_, node_, out, as_string_contents, &extra);
}

}  // namespace elmpad
