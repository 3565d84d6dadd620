// The AVX2 kernel: the 32-byte steps of the string scan and the 32-byte
// block check of UTF-8, and the reader compiled around the scan (for the
// baseline processor: see avx2.h).
//
// Only the functions in this file's target region get the AVX2 target: the
// headers, the standard library's included, come first and keep the
// baseline target, and so does every template they define, wherever it is
// instantiated; what the region defines is in the namespace avx2. This file
// is not built with -mavx2 for the same reason; its AVX2 code is run only
// when the kernel table has found AVX2 on the processor (processor_runs
// below).
#include "json/kernels/avx2.h"

#include "json/kernel.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <immintrin.h>

#include "json/kernels/utf8_lookup.h"
#include "json/reader_generic.h"

TAMSEL_TARGET_REGION_BEGIN(TAMSEL_AVX2_TARGET)
#include "json/kernels/utf8_blocks.h"

namespace tamsel::json::avx2 {

namespace {

// The vector operations of the block check (utf8_blocks.h), 32 bytes wide.
struct Ops {
  using Vector = __m256i;
  static constexpr size_t kBytes = 32;
  static Vector zero() { return _mm256_setzero_si256(); }
  static Vector load(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  // As the SSE2 kernel's: in place where a whole block can be read.
  static Vector load_last(const unsigned char* p, size_t n, size_t readable) {
    if (readable >= kBytes) {
      const __m256i index = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                             20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
      return _mm256_and_si256(load(p), _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(n)), index));
    }
    alignas(32) unsigned char tail[kBytes] = {0};
    std::memcpy(tail, p, n);
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(tail));
  }
  static Vector lookup(const uint8_t (&table)[16], Vector v) {
    return _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table))), v);
  }
  static Vector splat(uint8_t byte) { return _mm256_set1_epi8(static_cast<char>(byte)); }
  static Vector high_nibbles(Vector v) { return _mm256_and_si256(_mm256_srli_epi16(v, 4), splat(0x0f)); }
  static Vector low_nibbles(Vector v) { return _mm256_and_si256(v, splat(0x0f)); }
  // Lanes: (before's high half, v's low half), then shifted per lane.
  template <int N>
  static Vector previous(Vector v, Vector before) {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(before, v, 0x21), 16 - N);
  }
  static Vector both(Vector a, Vector b) { return _mm256_and_si256(a, b); }
  static Vector either(Vector a, Vector b) { return _mm256_or_si256(a, b); }
  static Vector differ(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
  static Vector minus(Vector a, Vector b) { return _mm256_subs_epu8(a, b); }
  static bool is_ascii(Vector v) { return _mm256_movemask_epi8(v) == 0; }
  static bool is_zero(Vector v) { return _mm256_testz_si256(v, v) != 0; }
};

bool valid_blocks(const unsigned char* p, size_t size, size_t readable) {
  return utf8_blocks::valid<Ops>(p, size, readable);
}

}  // namespace

const char* find_string_special_from_17th(const char* p, const char* end, bool& high) {
  for (; end - p >= 32; p += 32) {
    // As in the 16-byte step, a high byte past the stop may set `high`.
    if (uint32_t mask = special_bytes32(p, high)) return p + std::countr_zero(mask);
  }
  return sse2::find_string_special(p, end, high);
}

bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable) {
  if (size >= 32 || readable >= 32) return valid_blocks(reinterpret_cast<const unsigned char*>(data), size, readable);
  return sse2::is_valid_utf8_with_room(data, size, readable);
}

}  // namespace tamsel::json::avx2

TAMSEL_TARGET_REGION_END

namespace tamsel::json::avx2 {

namespace {

// Asked while the library is being loaded, perhaps before the compiler's
// runtime has set up its answers itself. True only when the system also
// saves the 32-byte registers.
bool processor_runs() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
}

}  // namespace

constinit const KernelEntry kEntry =
    make_kernel_entry<&find_string_special, &is_valid_utf8, &is_valid_utf8_with_room>(Kernel::avx2, &processor_runs);

}  // namespace tamsel::json::avx2

#endif
