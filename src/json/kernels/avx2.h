// The AVX2 kernel: the string scan 32 bytes per step, then one 16-byte step
// for what is left, so that a short string near the end of the input is
// not read a byte at a time.
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
  const __m256i quote = _mm256_set1_epi8('"');
  const __m256i backslash = _mm256_set1_epi8('\\');
  const __m256i control_max = _mm256_set1_epi8(0x1f);
  while (end - p >= 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i is_control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, control_max), v);
    __m256i hits = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, backslash)), is_control);
    uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(hits));
    // As in the SSE2 scan, a high byte past the stop may set `high`.
    high |= _mm256_movemask_epi8(v) != 0;
    if (mask != 0) return p + std::countr_zero(mask);
    p += 32;
  }
  return sse2::find_string_special(p, end, high);
}

// 32-byte blocks; shorter strings go to the SSE2 kernel's check.
bool is_valid_utf8(const char* data, size_t size);

}  // namespace tamsel::json::avx2

#endif
