// UTF-8: checks, decoding and encoding, and the lossy conversion that turns
// file-system bytes into text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace elmpad {

/// Length of the well-formed sequence at `i` of `s` (1 for ASCII), or 0 when
/// it is ill-formed; then `bad`, when given, receives the length of its
/// maximal ill-formed subpart. Inline: the JSON scanner calls it per
/// character.
inline std::size_t utf8_sequence_length(std::string_view s, std::size_t i, std::size_t* bad = nullptr) {
  auto b = static_cast<unsigned char>(s[i]);
  if (bad != nullptr) *bad = 1;
  if (b < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= s.size()) return 0;
    auto bk = static_cast<unsigned char>(s[i + k]);
    if (bk < (k == 1 ? lo : 0x80) || bk > (k == 1 ? hi : 0xBF)) return 0;
    if (bad != nullptr) *bad = k + 1;
  }
  return len;
}

/// Whether `bytes` is well-formed UTF-8.
[[nodiscard]] bool is_utf8(std::string_view bytes);

/// Whether well-formed UTF-8 `text` holds only white space (the characters
/// Unicode gives the White_Space property), or nothing; false when it is not
/// well formed.
[[nodiscard]] bool is_white_space_only(std::string_view text);

/// `bytes` with every ill-formed sequence replaced by U+FFFD (one replacement
/// per maximal ill-formed subpart, as the Unicode standard recommends).
std::string utf8_lossy(std::string_view bytes);

/// Writes the UTF-8 bytes of code point `cp` (at most U+10FFFF, not a
/// surrogate) to `out`, which has room for four; returns how many.
std::size_t encode_utf8(char32_t cp, char* out);

}  // namespace elmpad
