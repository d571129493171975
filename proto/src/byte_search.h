// Searching long strings a block at a time: 16 bytes with SSE2 (every
// x86-64), else 8 bytes in a 64-bit word (the portable way, also used where
// SSE2 is missing). Each search answers the index of the first byte of
// interest in the block at `p`, or the block's size when there is none;
// `p` must have that many bytes readable.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace elmpad::byte_search {

/// The portable searches, 8 bytes at a time.
namespace word {

inline constexpr std::ptrdiff_t kBlock = 8;

inline std::uint64_t load(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// The high bit of each zero byte. A borrow can also flag bytes after the
// first zero byte, so only the first flagged byte is to be trusted.
inline std::uint64_t zero_bytes(std::uint64_t v) { return (v - kOnes) & ~v & kHighs; }

inline std::ptrdiff_t first_flagged(std::uint64_t flags) {
  if (flags == 0) return kBlock;
  if constexpr (std::endian::native == std::endian::little) return std::countr_zero(flags) / 8;
  else return std::countl_zero(flags) / 8;
}

/// A quote, a backslash, a control character or a byte of a multi-byte
/// character: what a scanner must look at inside a JSON string.
inline std::ptrdiff_t first_string_special(const char* p) {
  std::uint64_t w = load(p);
  return first_flagged(zero_bytes(w ^ (kOnes * '"')) | zero_bytes(w ^ (kOnes * '\\')) |
                       ((w - kOnes * 0x20) & ~w & kHighs) | (w & kHighs));
}

inline std::ptrdiff_t first_backslash(const char* p) { return first_flagged(zero_bytes(load(p) ^ (kOnes * '\\'))); }

}  // namespace word

#if defined(__SSE2__)
inline constexpr std::ptrdiff_t kBlock = 16;

inline std::ptrdiff_t first_set(int mask) {
  return mask == 0 ? kBlock : std::countr_zero(static_cast<unsigned>(mask));
}

inline std::ptrdiff_t first_string_special(const char* p) {
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
  __m128i backslash = _mm_cmpeq_epi8(x, _mm_set1_epi8('\\'));
  __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  return first_set(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, backslash), control)) | _mm_movemask_epi8(x));
}

inline std::ptrdiff_t first_backslash(const char* p) {
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return first_set(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('\\'))));
}
#else
using word::kBlock;
using word::first_backslash;
using word::first_string_special;
#endif

}  // namespace elmpad::byte_search
