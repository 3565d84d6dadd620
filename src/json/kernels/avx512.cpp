// The AVX-512 kernel: the 64-byte steps of the string scan and the 64-byte
// block check of UTF-8, and the reader compiled around the scan (for the
// baseline processor: see avx512.h).
//
// Built as the AVX2 kernel is (see avx2.cpp): every header first, with the
// baseline target, then a target region whose functions are all in the
// namespace avx512; run only when processor_runs() below has found
// AVX-512 (with byte and word instructions) on the processor and its
// registers saved by the system.
#include "json/kernels/avx512.h"

#include "json/kernel.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <immintrin.h>

#include <cstdint>

#include "json/kernels/utf8_lookup.h"
#include "json/reader_generic.h"

TAMSEL_TARGET_REGION_BEGIN(TAMSEL_AVX512_TARGET)
#if !defined(__clang__)
// GCC 12's AVX-512 intrinsics start some results from _mm512_undefined_*,
// which its uninitialized-use warning then reports where they are inlined
// (GCC bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tamsel::json::avx512 {

namespace {

using namespace utf8_lookup;

// The first `n` bytes of a block, n below 64.
inline __mmask64 first_bytes(size_t n) { return (uint64_t{1} << n) - 1; }

inline __m512i table(const uint8_t (&entries)[16]) {
  return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(entries)));
}

inline __m512i high_nibbles(__m512i v) { return _mm512_and_si512(_mm512_srli_epi16(v, 4), _mm512_set1_epi8(0x0f)); }

// The block's bytes moved N places later, the last N of `previous` first.
template <int N>
inline __m512i previous_bytes(__m512i input, __m512i previous) {
  // Lanes: (previous's last, input's first three), then shifted per lane.
  return _mm512_alignr_epi8(input, _mm512_alignr_epi64(input, previous, 6), 16 - N);
}

// The error bits of a 64-byte block, given the block before it: the AVX2
// kernel's block_errors, twice as wide.
inline __m512i block_errors(__m512i input, __m512i previous) {
  const __m512i prev1 = previous_bytes<1>(input, previous);
  const __m512i byte_1_high = _mm512_shuffle_epi8(table(kByte1High), high_nibbles(prev1));
  const __m512i byte_1_low = _mm512_shuffle_epi8(table(kByte1Low), _mm512_and_si512(prev1, _mm512_set1_epi8(0x0f)));
  const __m512i byte_2_high = _mm512_shuffle_epi8(table(kByte2High), high_nibbles(input));
  const __m512i special = _mm512_and_si512(_mm512_and_si512(byte_1_high, byte_1_low), byte_2_high);
  const __m512i third =
      _mm512_subs_epu8(previous_bytes<2>(input, previous), _mm512_set1_epi8(static_cast<char>(kThirdByteBias)));
  const __m512i fourth =
      _mm512_subs_epu8(previous_bytes<3>(input, previous), _mm512_set1_epi8(static_cast<char>(kFourthByteBias)));
  const __m512i must_continue =
      _mm512_and_si512(_mm512_or_si512(third, fourth), _mm512_set1_epi8(static_cast<char>(0x80)));
  return _mm512_xor_si512(must_continue, special);
}

bool valid_blocks(const unsigned char* p, size_t size) {
  const unsigned char* end = p + (size & ~size_t{63});
  __m512i previous = _mm512_setzero_si512();
  __m512i errors = _mm512_setzero_si512();
  bool previous_ascii = true;
  auto step = [&](__m512i input) {
    const bool ascii = _mm512_movepi8_mask(input) == 0;
    // An ASCII block after an ASCII block has nothing to check.
    if (!(ascii && previous_ascii)) errors = _mm512_or_si512(errors, block_errors(input, previous));
    previous = input;
    previous_ascii = ascii;
  };
  for (; p != end; p += 64) step(_mm512_loadu_si512(p));
  // The bytes past the end read as zeros, which are ASCII.
  if (const size_t rest = size % 64; rest != 0) step(_mm512_maskz_loadu_epi8(first_bytes(rest), p));
  // A zero block after the end: a sequence cut short there is an error.
  step(_mm512_setzero_si512());
  return _mm512_test_epi8_mask(errors, errors) == 0;
}

}  // namespace

const char* find_string_special_from_17th(const char* p, const char* end, bool& high) {
  // One 32-byte step first: most strings that get here end within it, and
  // a 32-byte load crosses a cache line half as often as a 64-byte one.
  if (end - p >= 32) {
    if (uint32_t mask = avx2::special_bytes32(p, high)) return p + std::countr_zero(mask);
    p += 32;
  }
  const __m512i quote = _mm512_set1_epi8('"');
  const __m512i backslash = _mm512_set1_epi8('\\');
  const __m512i control_max = _mm512_set1_epi8(0x1f);
  for (;; p += 64) {
    const size_t left = static_cast<size_t>(end - p);
    // Past the end the masked load gives zeros: never high, and control
    // bytes, so a scan that finds nothing before the end stops there.
    const __mmask64 inside = left >= 64 ? ~__mmask64{0} : first_bytes(left);
    const __m512i v = _mm512_maskz_loadu_epi8(inside, p);
    const __mmask64 hits = _mm512_cmpeq_epi8_mask(v, quote) | _mm512_cmpeq_epi8_mask(v, backslash) |
                           _mm512_cmple_epu8_mask(v, control_max);
    // As in the 16-byte step, a high byte past the stop may set `high`.
    high |= _mm512_movepi8_mask(v) != 0;
    if (hits != 0) return p + std::countr_zero(static_cast<uint64_t>(hits));
    if (left == 64) return end;
  }
}

bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable) {
  if (size >= 64) return valid_blocks(reinterpret_cast<const unsigned char*>(data), size);
  return avx2::is_valid_utf8_with_room(data, size, readable);
}

}  // namespace tamsel::json::avx512

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
TAMSEL_TARGET_REGION_END

namespace tamsel::json::avx512 {

namespace {

// As for the AVX2 kernel, for the 64-byte registers and the mask registers;
// the kernel also calls the AVX2 kernel's functions. AVX512-VBMI2, which the
// kernel does not use, marks the processors (Ice Lake and Zen 4 on) whose
// clock drops little or not at all while they run 512-bit integer code; on
// earlier ones the whole core would slow down for a while after each long
// string.
bool processor_runs() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
}

}  // namespace

constinit const KernelEntry kEntry =
    make_kernel_entry<&find_string_special, &is_valid_utf8, &is_valid_utf8_with_room>(Kernel::avx512, &processor_runs);

}  // namespace tamsel::json::avx512

#endif
