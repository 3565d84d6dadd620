// The portable kernel: plain C++ on 8-byte words, for any processor. It is
// also what the other kernels fall back on for short UTF-8 checks.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "json/scan.h"

namespace tamsel::json::portable {

// Returns the first special byte in [p, end), or end. `high` is set when a
// byte of 0x80 or above lies before the returned position.
inline const char* find_string_special(const char* p, const char* end, bool& high) {
  constexpr uint64_t ones = 0x0101010101010101ULL;
  constexpr uint64_t tops = 0x8080808080808080ULL;
  while (end - p >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    uint64_t q = w ^ (ones * '"');
    uint64_t b = w ^ (ones * '\\');
    // The high bit of a byte lane is set where that byte is zero after the
    // xor (the quote, the backslash) or below 0x20; a borrow can only set
    // lanes above a real hit, so the lowest set lane is exact.
    uint64_t hits = ((q - ones) & ~q) | ((b - ones) & ~b) | ((w - ones * 0x20) & ~w);
    hits &= tops;
    if (hits != 0) {
      // On a big-endian processor the first byte is the highest lane, where
      // a borrow may also land: that word is finished bytewise instead.
      if constexpr (std::endian::native != std::endian::little) return find_string_special_bytewise(p, end, high);
      unsigned at = static_cast<unsigned>(std::countr_zero(hits)) / 8;
      uint64_t before = at == 0 ? 0 : (w & (~0ULL >> (64 - 8 * at)));
      if ((before & tops) != 0) high = true;
      return p + at;
    }
    if ((w & tops) != 0) high = true;
    p += 8;
  }
  return find_string_special_bytewise(p, end, high);
}

// The byte automaton, skipping ASCII 16 bytes at a time.
bool is_valid_utf8(const char* data, size_t size);

// The same with `readable` bytes readable from `data`; the wide kernels read
// a last partial block in place, this one reads every string as any other.
inline bool is_valid_utf8_with_room(const char* data, size_t size, size_t) { return is_valid_utf8(data, size); }

}  // namespace tamsel::json::portable
