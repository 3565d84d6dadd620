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
#include "json/kernels/utf8_blocks.h"
#if !defined(__clang__)
// GCC 12's AVX-512 intrinsics start some results from _mm512_undefined_*,
// which its uninitialized-use warning then reports where they are inlined
// (GCC bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tamsel::json::avx512 {

namespace {

// The first `n` bytes of a block, n below 64.
inline __mmask64 first_bytes(size_t n) { return (uint64_t{1} << n) - 1; }

// The vector operations of the block check (utf8_blocks.h), 64 bytes wide.
// A last partial block is read by a masked load, which touches no byte past
// it.
struct Ops {
  using Vector = __m512i;
  static constexpr size_t kBytes = 64;
  static Vector zero() { return _mm512_setzero_si512(); }
  static Vector load(const unsigned char* p) { return _mm512_loadu_si512(p); }
  static Vector load_last(const unsigned char* p, size_t n, size_t) { return _mm512_maskz_loadu_epi8(first_bytes(n), p); }
  static Vector lookup(const uint8_t (&table)[16], Vector v) {
    return _mm512_shuffle_epi8(_mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(table))), v);
  }
  static Vector splat(uint8_t byte) { return _mm512_set1_epi8(static_cast<char>(byte)); }
  static Vector high_nibbles(Vector v) { return _mm512_and_si512(_mm512_srli_epi16(v, 4), splat(0x0f)); }
  static Vector low_nibbles(Vector v) { return _mm512_and_si512(v, splat(0x0f)); }
  // Lanes: (before's last, v's first three), then shifted per lane.
  template <int N>
  static Vector previous(Vector v, Vector before) {
    return _mm512_alignr_epi8(v, _mm512_alignr_epi64(v, before, 6), 16 - N);
  }
  static Vector both(Vector a, Vector b) { return _mm512_and_si512(a, b); }
  static Vector either(Vector a, Vector b) { return _mm512_or_si512(a, b); }
  static Vector differ(Vector a, Vector b) { return _mm512_xor_si512(a, b); }
  static Vector minus(Vector a, Vector b) { return _mm512_subs_epu8(a, b); }
  static bool is_ascii(Vector v) { return _mm512_movepi8_mask(v) == 0; }
  static bool is_zero(Vector v) { return _mm512_test_epi8_mask(v, v) == 0; }
};

bool valid_blocks(const unsigned char* p, size_t size) { return utf8_blocks::valid<Ops>(p, size, size); }

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
