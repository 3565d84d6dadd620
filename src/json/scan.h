// Byte scanning shared by the reader and the writer: the bytes of a string
// that are not copied as they are (quote, backslash, control byte). The
// scans themselves, in words of 8, 16 or 32 bytes, are the kernels' (see
// kernel.h and kernels/); this holds what they share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tamsel::json {

// True for the quote, the backslash and the bytes below 0x20.
struct SpecialTable {
  bool special[256];
  constexpr SpecialTable() : special() {
    for (int c = 0; c < 256; ++c) special[c] = c < 0x20 || c == '"' || c == '\\';
  }
};
inline constexpr SpecialTable kStringSpecial;

// The last few bytes of a scan, one at a time: the first special byte in
// [p, end), or end, setting `high` for a byte of 0x80 or above before it.
inline const char* find_string_special_bytewise(const char* p, const char* end, bool& high) {
  for (; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (kStringSpecial.special[c]) return p;
    if (c >= 0x80) high = true;
  }
  return end;
}

// The first special byte in [p, end), or end, by the active kernel. One
// call each: for the writer's escaped strings and for tests; the reader
// has the scan of its own kernel inlined.
const char* find_string_special(const char* p, const char* end);

}  // namespace tamsel::json
