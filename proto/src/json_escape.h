// The escapes of JSON strings, read from text the scanner has checked: shared
// by the scanner (which decodes escaped keys) and the printer (which
// re-escapes string contents).
#pragma once

#include <string>
#include <string_view>

#include "utf8.h"

namespace elmpad::json_escape {

/// Four hex digits at `p`, or -1.
inline int hex4(const char* p, const char* end) {
  if (end - p < 4) return -1;
  int v = 0;
  for (int k = 0; k < 4; ++k) {
    char c = p[k];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

/// The code point of the escape at `p` (a backslash); `p` moves past it. The
/// escape is known to be well formed.
inline char32_t unescape(const char*& p) {
  char c = p[1];
  p += 2;
  switch (c) {
    case 'b': return 0x08;
    case 'f': return 0x0C;
    case 'n': return 0x0A;
    case 'r': return 0x0D;
    case 't': return 0x09;
    case 'u': {
      char32_t cp = static_cast<char32_t>(hex4(p, p + 4));
      p += 4;
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        char32_t low = static_cast<char32_t>(hex4(p + 2, p + 6));
        p += 6;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      return cp;
    }
    default: return static_cast<unsigned char>(c);  // " \ /
  }
}

/// The text that the inside of a checked JSON string stands for.
inline void append_decoded(std::string& out, std::string_view inside) {
  for (const char* q = inside.data(); q < inside.data() + inside.size();) {
    if (*q != '\\') {
      out += *q++;
      continue;
    }
    char bytes[4];
    out.append(bytes, encode_utf8(unescape(q), bytes));
  }
}

}  // namespace elmpad::json_escape
