// The AVX2 kernel: the string scan 32 bytes per step, after a first step of
// 16 bytes: most strings end there, and that step leaves the upper halves
// of the vector registers untouched, so their short reads need no
// `vzeroupper` on the way out.
//
// Every function here carries the AVX2 target attribute itself, and lives in
// this kernel's namespace: nothing compiled for AVX2 can stand in for a
// shared inline function, which a translation unit built with -mavx2 would
// risk (the linker keeps any one copy of an inline function, and might keep
// the one that faults on a processor without AVX2).
#pragma once

#include "support/platform.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "json/kernels/sse2.h"
#include "json/scan.h"

// What the processor must have; kernel.cpp asks for the same.
#define TAMSEL_AVX2_TARGET "avx2,bmi"

namespace tamsel::json::avx2 {

[[gnu::target(TAMSEL_AVX2_TARGET)]] inline const char* find_string_special(const char* p, const char* end,
                                                                           bool& high) {
  if (end - p < 16) return find_string_special_bytewise(p, end, high);
  if (unsigned mask = sse2::special_bytes16(p, high)) return p + std::countr_zero(mask);
  p += 16;
  const __m256i quote = _mm256_set1_epi8('"');
  const __m256i backslash = _mm256_set1_epi8('\\');
  const __m256i control_max = _mm256_set1_epi8(0x1f);
  for (; end - p >= 32; p += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i is_control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, control_max), v);
    __m256i hits = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, backslash)), is_control);
    // As in the 16-byte step, a high byte past the stop may set `high`.
    high |= _mm256_movemask_epi8(v) != 0;
    if (uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(hits))) return p + std::countr_zero(mask);
  }
  return sse2::find_string_special(p, end, high);
}

// 32-byte blocks; shorter strings go to the SSE2 kernel's check.
bool is_valid_utf8(const char* data, size_t size);

}  // namespace tamsel::json::avx2

#endif
