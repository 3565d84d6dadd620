// UTF-8 checking and encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tamsel::json {

// Well-formed UTF-8 has no overlong forms, no encoded surrogates, nothing
// above U+10FFFF and no truncated sequence; each kernel checks it in its own
// way (KernelEntry::is_valid_utf8, kernel.h).

// Appends the UTF-8 form of `code_point` (at most U+10FFFF, not a surrogate)
// at `out`; returns the number of bytes written (1 to 4).
inline size_t encode_utf8(uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xc0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3f));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xe0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3f));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3f));
    return 3;
  }
  out[0] = static_cast<char>(0xf0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3f));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3f));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3f));
  return 4;
}

// Decodes one code point from well-formed UTF-8 at `p`; advances `p`.
inline uint32_t decode_utf8(const unsigned char*& p) {
  uint32_t c = *p++;
  if (c < 0x80) return c;
  if (c < 0xe0) return ((c & 0x1f) << 6) | (*p++ & 0x3f);
  if (c < 0xf0) {
    uint32_t v = ((c & 0x0f) << 12) | ((p[0] & 0x3fu) << 6) | (p[1] & 0x3fu);
    p += 2;
    return v;
  }
  uint32_t v = ((c & 0x07) << 18) | ((p[0] & 0x3fu) << 12) | ((p[1] & 0x3fu) << 6) | (p[2] & 0x3fu);
  p += 3;
  return v;
}

}  // namespace tamsel::json
