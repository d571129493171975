// UTF-8 checks and the lossy conversion that turns file-system bytes into text.
#pragma once

#include <string>
#include <string_view>

namespace elmpad {

/// Whether `bytes` is well-formed UTF-8.
bool is_utf8(std::string_view bytes);

/// `bytes` with every ill-formed sequence replaced by U+FFFD (one replacement
/// per maximal ill-formed subpart, as the Unicode standard recommends).
std::string utf8_lossy(std::string_view bytes);

}  // namespace elmpad
