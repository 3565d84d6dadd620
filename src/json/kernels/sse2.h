// The SSE2 kernel: the string scan 16 bytes per step. SSE2 is part of every
// x86-64 processor, so this needs no target attribute; the UTF-8 check uses
// SSSE3 shuffles where the processor has them (asked once).
#pragma once

#include "support/platform.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <emmintrin.h>

#include <bit>
#include <cstddef>

#include "json/scan.h"

namespace tamsel::json::sse2 {

// The special bytes among the 16 at `p`, one bit each, first byte lowest.
// Bytes of 0x80 and above anywhere in the block set `high`, even past the
// first special one: `high` only asks for a check that then finds nothing
// to object to.
inline unsigned special_bytes16(const char* p, bool& high) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i is_control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v);
  __m128i hits = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))), is_control);
  high |= _mm_movemask_epi8(v) != 0;
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// As portable::find_string_special, and `high` may also be set by a byte of
// 0x80 or above shortly after the returned position.
inline const char* find_string_special(const char* p, const char* end, bool& high) {
  for (; end - p >= 16; p += 16) {
    if (unsigned mask = special_bytes16(p, high)) return p + std::countr_zero(mask);
  }
  return find_string_special_bytewise(p, end, high);
}

// The scan of the wider kernels: one 16-byte step here, inlined into the
// reader, as most strings end within it; only a longer string goes on, from
// its 17th byte, through one call of the kernel's `Rest`.
template <const char* (*Rest)(const char*, const char*, bool&)>
inline const char* find_string_special_then(const char* p, const char* end, bool& high) {
  if (end - p < 16) return find_string_special_bytewise(p, end, high);
  if (unsigned mask = special_bytes16(p, high)) return p + std::countr_zero(mask);
  return Rest(p + 16, end, high);
}

// 16-byte blocks with SSSE3, else the portable automaton. `readable` bytes
// (at least `size`) may be read from `data`: a last partial block that can
// be read whole is read in place, the bytes past `size` cleared.
bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable);

inline bool is_valid_utf8(const char* data, size_t size) { return is_valid_utf8_with_room(data, size, size); }

}  // namespace tamsel::json::sse2

#endif
