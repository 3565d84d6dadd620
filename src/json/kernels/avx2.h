// The AVX2 kernel: the string scan takes a first step of 16 bytes as the
// SSE2 kernel does, inlined into the reader; most strings end there. Only a
// longer string goes on, through one call, in 32-byte steps. The reader
// itself is compiled for the baseline processor: compiled for AVX2 it read
// short strings no faster and the rest of the document a little slower
// (`vzeroupper` on every way out of a function that used the 32-byte
// registers, and other code).
//
// The functions that use AVX2 carry the target attribute themselves, and
// live in this kernel's namespace: nothing compiled for AVX2 can stand in
// for a shared inline function, which a translation unit built with -mavx2
// would risk (the linker keeps any one copy of an inline function, and
// might keep the one that faults on a processor without AVX2).
#pragma once

#include "support/platform.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "json/kernels/sse2.h"
#include "json/scan.h"

// What the processor must have, written once: the target of the inline
// functions below and of avx2.cpp's region; processor_runs() there asks for
// the same.
#define TAMSEL_AVX2_TARGET "avx2,bmi"

namespace tamsel::json::avx2 {

// The special bytes among the 32 at `p`, one bit each, first byte lowest;
// `high` as in sse2::special_bytes16. One step of the scan below, and the
// AVX-512 kernel's first step past the 16th byte.
[[gnu::target(TAMSEL_AVX2_TARGET)]] inline uint32_t special_bytes32(const char* p, bool& high) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i is_control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1f)), v);
  const __m256i hits = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))),
      is_control);
  high |= _mm256_movemask_epi8(v) != 0;
  return static_cast<uint32_t>(_mm256_movemask_epi8(hits));
}

// From the 17th byte of a string on, 32 bytes per step.
[[gnu::target(TAMSEL_AVX2_TARGET)]] const char* find_string_special_from_17th(const char* p, const char* end,
                                                                             bool& high);

inline const char* find_string_special(const char* p, const char* end, bool& high) {
  return sse2::find_string_special_then<find_string_special_from_17th>(p, end, high);
}

// 32-byte blocks, a last partial block read in place as the SSE2 kernel's
// check reads it; strings shorter than a block with less than a block
// readable go to that check.
bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable);

inline bool is_valid_utf8(const char* data, size_t size) { return is_valid_utf8_with_room(data, size, size); }

}  // namespace tamsel::json::avx2

#endif
