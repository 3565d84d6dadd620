// The SSE2 kernel: the SSSE3 block check of UTF-8, and the reader compiled
// around the 16-byte scan.
#include "json/kernels/sse2.h"

#include "json/kernel.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <immintrin.h>

#include "json/kernels/portable.h"
#include "json/kernels/utf8_lookup.h"
#include "json/reader_generic.h"

namespace tamsel::json::sse2 {

namespace {

using namespace utf8_lookup;

__attribute__((target("ssse3"))) inline __m128i table(const uint8_t (&entries)[16]) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(entries));
}

__attribute__((target("ssse3"))) inline __m128i high_nibbles(__m128i v) {
  return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0f));
}

// The error bits of a 16-byte block, given the block before it.
__attribute__((target("ssse3"))) inline __m128i block_errors(__m128i input, __m128i previous) {
  const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
  const __m128i byte_1_high = _mm_shuffle_epi8(table(kByte1High), high_nibbles(prev1));
  const __m128i byte_1_low = _mm_shuffle_epi8(table(kByte1Low), _mm_and_si128(prev1, _mm_set1_epi8(0x0f)));
  const __m128i byte_2_high = _mm_shuffle_epi8(table(kByte2High), high_nibbles(input));
  const __m128i special = _mm_and_si128(_mm_and_si128(byte_1_high, byte_1_low), byte_2_high);
  // Two places after E0..EF and three after F0..FF a continuation must
  // follow; that sets the high bit, which must match kTwoConts above.
  const __m128i prev2 = _mm_alignr_epi8(input, previous, 14);
  const __m128i prev3 = _mm_alignr_epi8(input, previous, 13);
  const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(kThirdByteBias)));
  const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(kFourthByteBias)));
  const __m128i must_continue = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
  return _mm_xor_si128(must_continue, special);
}

// `readable` bytes (at least `size`) may be read from `p`. The last block
// of the content, when partial, is read where it stands with the bytes past
// `size` cleared if a whole block can be read there, and copied out only
// when it cannot: the copy costs a call, and loading the block from the
// copy's fresh stores stalls store forwarding.
__attribute__((target("ssse3"))) bool valid_blocks(const unsigned char* p, size_t size, size_t readable) {
  const unsigned char* end = p + (size & ~size_t{15});
  __m128i previous = _mm_setzero_si128();
  __m128i errors = _mm_setzero_si128();
  bool previous_ascii = true;
  auto step = [&](__m128i input) {
    bool ascii = _mm_movemask_epi8(input) == 0;
    // An ASCII block after an ASCII block has nothing to check.
    if (!(ascii && previous_ascii)) errors = _mm_or_si128(errors, block_errors(input, previous));
    previous = input;
    previous_ascii = ascii;
  };
  for (; p != end; p += 16) step(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  const size_t rest = size % 16;
  if (readable - (size & ~size_t{15}) >= 16) {
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i kept = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(rest)), index);
    step(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), kept));
  } else {
    alignas(16) unsigned char tail[16] = {0};
    std::memcpy(tail, p, rest);
    step(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)));
  }
  // A zero block after the end: a sequence cut short there is an error.
  step(_mm_setzero_si128());
  return _mm_movemask_epi8(_mm_cmpeq_epi8(errors, _mm_setzero_si128())) == 0xffff;
}

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
