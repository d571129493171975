#include "utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace elmpad {
namespace {

// Length of the well-formed sequence at `i`, or 0 when it is ill-formed; in
// that case `bad` receives the length of its maximal ill-formed subpart.
std::size_t sequence_length(std::string_view s, std::size_t i, std::size_t& bad) {
  auto b = static_cast<unsigned char>(s[i]);
  bad = 1;
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
    unsigned char klo = k == 1 ? lo : 0x80, khi = k == 1 ? hi : 0xBF;
    if (bk < klo || bk > khi) return 0;
    bad = k + 1;
  }
  return len;
}

}  // namespace

bool is_utf8(std::string_view bytes) {
  std::size_t i = 0, bad = 0;
  while (i < bytes.size()) {
    // ASCII, the bulk of most text, eight bytes at a time.
    while (bytes.size() - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      if ((word & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i == bytes.size()) break;
    std::size_t len = sequence_length(bytes, i, bad);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0, bad = 0;
  while (i < bytes.size()) {
    std::size_t len = sequence_length(bytes, i, bad);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      i += bad;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

}  // namespace elmpad
