// Byte scanning shared by the reader and the writer: find the next byte of a
// string that is not copied as it is (quote, backslash, control byte), sixteen
// bytes per step where SSE2 is available and eight per step otherwise.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support/platform.h"

#if TAMSEL_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace tamsel::json {

// True for the quote, the backslash and the bytes below 0x20.
struct SpecialTable {
  bool special[256];
  constexpr SpecialTable() : special() {
    for (int c = 0; c < 256; ++c) special[c] = c < 0x20 || c == '"' || c == '\\';
  }
};
inline constexpr SpecialTable kStringSpecial;

// Returns the first special byte in [p, end), or end. `high` is set when a
// byte of 0x80 or above lies before the returned position (and may be set by
// one shortly after it).
inline const char* find_string_special(const char* p, const char* end, bool& high) {
#if TAMSEL_HAVE_SSE2
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i control_max = _mm_set1_epi8(0x1f);
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i is_control = _mm_cmpeq_epi8(_mm_min_epu8(v, control_max), v);
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                is_control);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    // Bytes of 0x80 and above anywhere in the block count, even past the
    // stop: `high` only asks for a check that then finds nothing to object to.
    high |= _mm_movemask_epi8(v) != 0;
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#else
  constexpr uint64_t ones = 0x0101010101010101ULL;
  constexpr uint64_t tops = 0x8080808080808080ULL;
  while (end - p >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    uint64_t q = w ^ (ones * '"');
    uint64_t b = w ^ (ones * '\\');
    uint64_t hits = ((q - ones) & ~q) | ((b - ones) & ~b) | ((w - ones * 0x20) & ~w);
    hits &= tops;
    if (hits != 0) {
      unsigned at = static_cast<unsigned>(std::countr_zero(hits)) / 8;
      uint64_t before = at == 0 ? 0 : (w & (~0ULL >> (64 - 8 * at)));
      if ((before & tops) != 0) high = true;
      return p + at;
    }
    if ((w & tops) != 0) high = true;
    p += 8;
  }
#endif
  for (; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (kStringSpecial.special[c]) return p;
    if (c >= 0x80) high = true;
  }
  return end;
}

inline const char* find_string_special(const char* p, const char* end) {
  bool high = false;
  return find_string_special(p, end, high);
}

}  // namespace tamsel::json
