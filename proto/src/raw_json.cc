#include "raw_json.h"

namespace elmpad {

json RawJson::tree() const {
  // The scan accepted the text, and it accepts only what the library reads
  // to the same value.
  return parse_json(index_.raw(text_, node_)).value_or(json());
}

}  // namespace elmpad
