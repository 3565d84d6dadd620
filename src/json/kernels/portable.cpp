// The portable kernel: the UTF-8 automaton, and the reader compiled around
// the 8-byte scan.
#include "json/kernels/portable.h"

#include <initializer_list>

#include "json/kernel.h"
#include "json/reader_generic.h"

namespace tamsel::json::portable {

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
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return ((a | b) & 0x8080808080808080ULL) == 0;
}

}  // namespace

bool is_valid_utf8(const char* data, size_t size) {
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

namespace {

bool processor_runs() { return true; }

}  // namespace

constinit const KernelEntry kEntry =
    make_kernel_entry<&find_string_special, &is_valid_utf8, &is_valid_utf8_with_room>(Kernel::portable, &processor_runs);

}  // namespace tamsel::json::portable
