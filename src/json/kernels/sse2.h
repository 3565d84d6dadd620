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

// As portable::find_string_special, and `high` may also be set by a byte of
// 0x80 or above shortly after the returned position.
inline const char* find_string_special(const char* p, const char* end, bool& high) {
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
  return find_string_special_bytewise(p, end, high);
}

// 16-byte blocks with SSSE3, else the portable automaton.
bool is_valid_utf8(const char* data, size_t size);

}  // namespace tamsel::json::sse2

#endif
