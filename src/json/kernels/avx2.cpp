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

namespace tamsel::json::avx2 {

namespace {

using namespace utf8_lookup;

inline __m256i table(const uint8_t (&entries)[16]) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(entries)));
}

inline __m256i high_nibbles(__m256i v) { return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0f)); }

// The block's bytes moved N places later, the last N of `previous` first.
template <int N>
inline __m256i previous_bytes(__m256i input, __m256i previous) {
  // Lanes: (previous's high half, input's low half), then shifted per lane.
  return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

// The error bits of a 32-byte block, given the block before it.
inline __m256i block_errors(__m256i input, __m256i previous) {
  const __m256i prev1 = previous_bytes<1>(input, previous);
  const __m256i byte_1_high = _mm256_shuffle_epi8(table(kByte1High), high_nibbles(prev1));
  const __m256i byte_1_low = _mm256_shuffle_epi8(table(kByte1Low), _mm256_and_si256(prev1, _mm256_set1_epi8(0x0f)));
  const __m256i byte_2_high = _mm256_shuffle_epi8(table(kByte2High), high_nibbles(input));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(byte_1_high, byte_1_low), byte_2_high);
  const __m256i third =
      _mm256_subs_epu8(previous_bytes<2>(input, previous), _mm256_set1_epi8(static_cast<char>(kThirdByteBias)));
  const __m256i fourth =
      _mm256_subs_epu8(previous_bytes<3>(input, previous), _mm256_set1_epi8(static_cast<char>(kFourthByteBias)));
  const __m256i must_continue =
      _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(must_continue, special);
}

// As the SSE2 kernel's valid_blocks, in 32-byte blocks.
bool valid_blocks(const unsigned char* p, size_t size, size_t readable) {
  const unsigned char* end = p + (size & ~size_t{31});
  __m256i previous = _mm256_setzero_si256();
  __m256i errors = _mm256_setzero_si256();
  bool previous_ascii = true;
  auto step = [&](__m256i input) {
    bool ascii = _mm256_movemask_epi8(input) == 0;
    // An ASCII block after an ASCII block has nothing to check.
    if (!(ascii && previous_ascii)) errors = _mm256_or_si256(errors, block_errors(input, previous));
    previous = input;
    previous_ascii = ascii;
  };
  for (; p != end; p += 32) step(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  const size_t rest = size % 32;
  if (readable - (size & ~size_t{31}) >= 32) {
    const __m256i index = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                           21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i kept = _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(rest)), index);
    step(_mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), kept));
  } else {
    alignas(32) unsigned char tail[32] = {0};
    std::memcpy(tail, p, rest);
    step(_mm256_load_si256(reinterpret_cast<const __m256i*>(tail)));
  }
  // A zero block after the end: a sequence cut short there is an error.
  step(_mm256_setzero_si256());
  return _mm256_testz_si256(errors, errors) != 0;
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
