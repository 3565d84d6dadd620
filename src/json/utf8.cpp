#include "json/utf8.h"

#include <initializer_list>

#include "support/platform.h"

#if TAMSEL_HAVE_SSE2 || TAMSEL_HAVE_SSSE3_DISPATCH
#include <immintrin.h>
#endif

namespace tamsel::json {

namespace {

// A shift-based automaton for well-formed UTF-8. Each state is a bit offset;
// the row of a byte holds, at each state's offset, the state that byte leads
// to. One table load and one shift per byte, no branches.
enum State : uint32_t {
  kAccept = 0,
  kError = 6,
  kTail1 = 12,   // one continuation byte left
  kTail2 = 18,   // two left
  kTail3 = 24,   // three left
  kAfterE0 = 30, // next must be A0..BF (no overlong forms)
  kAfterED = 36, // next must be 80..9F (no surrogates)
  kAfterF0 = 42, // next must be 90..BF (no overlong forms)
  kAfterF4 = 48, // next must be 80..8F (nothing above U+10FFFF)
};

constexpr uint64_t to(State from, State next) { return static_cast<uint64_t>(next) << from; }

constexpr uint64_t row_for(unsigned byte) {
  // Every transition not set below leads to the error state, which stays.
  uint64_t row = 0;
  auto set = [&row](State from, State next) { row = (row & ~(uint64_t{63} << from)) | to(from, next); };
  for (State s : {kAccept, kError, kTail1, kTail2, kTail3, kAfterE0, kAfterED, kAfterF0, kAfterF4}) set(s, kError);
  if (byte < 0x80) {
    set(kAccept, kAccept);
  } else if (byte < 0xc0) {
    set(kTail1, kAccept);
    set(kTail2, kTail1);
    set(kTail3, kTail2);
    if (byte < 0x90) {
      set(kAfterED, kTail1);
      set(kAfterF4, kTail2);
    } else if (byte < 0xa0) {
      set(kAfterED, kTail1);
      set(kAfterF0, kTail2);
    } else {
      set(kAfterE0, kTail1);
      set(kAfterF0, kTail2);
    }
  } else if (byte >= 0xc2 && byte <= 0xdf) {
    set(kAccept, kTail1);
  } else if (byte == 0xe0) {
    set(kAccept, kAfterE0);
  } else if (byte == 0xed) {
    set(kAccept, kAfterED);
  } else if (byte >= 0xe1 && byte <= 0xef) {
    set(kAccept, kTail2);
  } else if (byte == 0xf0) {
    set(kAccept, kAfterF0);
  } else if (byte >= 0xf1 && byte <= 0xf3) {
    set(kAccept, kTail3);
  } else if (byte == 0xf4) {
    set(kAccept, kAfterF4);
  }
  return row;
}

struct Automaton {
  uint64_t row[256];
  constexpr Automaton() : row() {
    for (unsigned b = 0; b < 256; ++b) row[b] = row_for(b);
  }
};
constexpr Automaton kUtf8;

inline bool ascii16(const unsigned char* p) {
#if TAMSEL_HAVE_SSE2
  return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0;
#else
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return ((a | b) & 0x8080808080808080ULL) == 0;
#endif
}

#if TAMSEL_HAVE_SSSE3_DISPATCH
// Sixteen bytes at a time with byte shuffles as table lookups: each byte
// pair (previous, current) is classified by three 16-entry tables whose
// error bits must not all be set together, and the bytes two and three
// places after a lead byte of a long sequence must be continuations.
// The method is the lookup algorithm of John Keiser and Daniel Lemire,
// "Validating UTF-8 in less than one instruction per byte", Software:
// Practice and Experience 51(5), 2021, here on 16-byte blocks.
namespace blocks {

constexpr uint8_t kTooShort = 1 << 0;   // lead byte or ASCII, then a continuation missing
constexpr uint8_t kTooLong = 1 << 1;    // ASCII followed by a continuation
constexpr uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
constexpr uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5 and above
constexpr uint8_t kSurrogate = 1 << 4;  // ED A0..BF
constexpr uint8_t kOverlong2 = 1 << 5;  // C0, C1
constexpr uint8_t kTooLarge1000 = 1 << 6;
constexpr uint8_t kOverlong4 = 1 << 6;  // F0 80..8F
constexpr uint8_t kTwoConts = 1 << 7;   // a continuation after a continuation, unless expected
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

__attribute__((target("ssse3"))) inline __m128i lookup(__m128i nibbles, __m128i table) {
  return _mm_shuffle_epi8(table, nibbles);
}

__attribute__((target("ssse3"))) inline __m128i high_nibbles(__m128i v) {
  return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0f));
}

__attribute__((target("ssse3"))) inline __m128i block_errors(__m128i input, __m128i previous) {
  const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
  const __m128i byte_1_high = lookup(
      high_nibbles(prev1),
      _mm_setr_epi8(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
                    kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
                    kTooShort | kOverlong3 | kSurrogate,
                    static_cast<char>(kTooShort | kTooLarge | kTooLarge1000 | kOverlong4)));
  const __m128i byte_1_low = lookup(
      _mm_and_si128(prev1, _mm_set1_epi8(0x0f)),
      _mm_setr_epi8(static_cast<char>(kCarry | kOverlong3 | kOverlong2 | kOverlong4),
                    static_cast<char>(kCarry | kOverlong2), static_cast<char>(kCarry),
                    static_cast<char>(kCarry), static_cast<char>(kCarry | kTooLarge),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000 | kSurrogate),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
                    static_cast<char>(kCarry | kTooLarge | kTooLarge1000)));
  const __m128i byte_2_high = lookup(
      high_nibbles(input),
      _mm_setr_epi8(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
                    static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4),
                    static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge),
                    static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge),
                    static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge), kTooShort,
                    kTooShort, kTooShort, kTooShort));
  const __m128i special = _mm_and_si128(_mm_and_si128(byte_1_high, byte_1_low), byte_2_high);
  // Two places after E0..EF and three after F0..FF a continuation must
  // follow; that sets the high bit, which must match kTwoConts above.
  const __m128i prev2 = _mm_alignr_epi8(input, previous, 14);
  const __m128i prev3 = _mm_alignr_epi8(input, previous, 13);
  const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xe0 - 0x80)));
  const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xf0 - 0x80)));
  const __m128i must_continue = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
  return _mm_xor_si128(must_continue, special);
}

__attribute__((target("ssse3"))) bool valid(const unsigned char* p, size_t size) {
  const unsigned char* end = p + size;
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
  for (; end - p >= 16; p += 16) step(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  alignas(16) unsigned char tail[16] = {0};
  std::memcpy(tail, p, static_cast<size_t>(end - p));
  step(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)));
  // A zero block after the end: a sequence cut short there is an error.
  step(_mm_setzero_si128());
  return _mm_movemask_epi8(_mm_cmpeq_epi8(errors, _mm_setzero_si128())) == 0xffff;
}

}  // namespace blocks

// Asked on first use rather than when the library is loaded.
bool have_blocks() {
  static const bool supported = __builtin_cpu_supports("ssse3");
  return supported;
}
#endif

}  // namespace

bool is_valid_utf8(const char* data, size_t size) {
#if TAMSEL_HAVE_SSSE3_DISPATCH
  if (size >= 16 && have_blocks()) return blocks::valid(reinterpret_cast<const unsigned char*>(data), size);
#endif
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* end = p + size;
  uint64_t state = kAccept;
  while (p < end) {
    // Between characters, runs of ASCII go sixteen bytes at a time.
    if (state == kAccept) {
      while (end - p >= 16 && ascii16(p)) p += 16;
    }
    // Then sixteen bytes (or what is left) through the automaton.
    const unsigned char* stop = end - p > 16 ? p + 16 : end;
    for (; p < stop; ++p) state = (kUtf8.row[*p] >> state) & 63;
    if (state == kError) return false;
  }
  return state == kAccept;
}

}  // namespace tamsel::json
