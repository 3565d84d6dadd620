// The SSE2 kernel: the SSSE3 block check of UTF-8, and the reader compiled
// around the 16-byte scan.
#include "json/kernels/sse2.h"

#include "json/kernel.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <immintrin.h>

#include "json/kernels/portable.h"
#include "json/kernels/utf8_lookup.h"
#include "json/reader_generic.h"

TAMSEL_TARGET_REGION_BEGIN("ssse3")
#include "json/kernels/utf8_blocks.h"

namespace tamsel::json::sse2 {

namespace {

// The vector operations of the block check (utf8_blocks.h), 16 bytes wide.
struct Ops {
  using Vector = __m128i;
  static constexpr size_t kBytes = 16;
  static Vector zero() { return _mm_setzero_si128(); }
  static Vector load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  // A last partial block is read where it stands, the bytes past it
  // cleared, when a whole block can be read there, and copied out only when
  // it cannot: the copy costs a call, and loading the block from the copy's
  // fresh stores stalls store forwarding.
  static Vector load_last(const unsigned char* p, size_t n, size_t readable) {
    if (readable >= kBytes) {
      const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
      return _mm_and_si128(load(p), _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)), index));
    }
    alignas(16) unsigned char tail[kBytes] = {0};
    std::memcpy(tail, p, n);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
  }
  static Vector lookup(const uint8_t (&table)[16], Vector v) {
    return _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(table)), v);
  }
  static Vector splat(uint8_t byte) { return _mm_set1_epi8(static_cast<char>(byte)); }
  static Vector high_nibbles(Vector v) { return _mm_and_si128(_mm_srli_epi16(v, 4), splat(0x0f)); }
  static Vector low_nibbles(Vector v) { return _mm_and_si128(v, splat(0x0f)); }
  template <int N>
  static Vector previous(Vector v, Vector before) {
    return _mm_alignr_epi8(v, before, 16 - N);
  }
  static Vector both(Vector a, Vector b) { return _mm_and_si128(a, b); }
  static Vector either(Vector a, Vector b) { return _mm_or_si128(a, b); }
  static Vector differ(Vector a, Vector b) { return _mm_xor_si128(a, b); }
  static Vector minus(Vector a, Vector b) { return _mm_subs_epu8(a, b); }
  static bool is_ascii(Vector v) { return _mm_movemask_epi8(v) == 0; }
  static bool is_zero(Vector v) { return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xffff; }
};

bool valid_blocks(const unsigned char* p, size_t size, size_t readable) {
  return utf8_blocks::valid<Ops>(p, size, readable);
}

}  // namespace

}  // namespace tamsel::json::sse2

TAMSEL_TARGET_REGION_END

namespace tamsel::json::sse2 {

namespace {

// Asked once; x86-64 processors before 2006 lack SSSE3.
bool have_ssse3() {
  static const bool supported = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return supported;
}

}  // namespace

bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable) {
  if ((size >= 16 || readable >= 16) && have_ssse3()) {
    return valid_blocks(reinterpret_cast<const unsigned char*>(data), size, readable);
  }
  return portable::is_valid_utf8(data, size);
}

namespace {

bool processor_runs() { return true; }  // part of x86-64

}  // namespace

constinit const KernelEntry kEntry =
    make_kernel_entry<&find_string_special, &is_valid_utf8, &is_valid_utf8_with_room>(Kernel::sse2, &processor_runs);

}  // namespace tamsel::json::sse2

#endif
