#include "json/utf8.h"

namespace tamsel::json {

bool is_valid_utf8(const char* data, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* end = p + size;
  while (p < end) {
    // Runs of ASCII go eight bytes at a time.
    while (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if ((w & 0x8080808080808080ULL) != 0) break;
      p += 8;
    }
    if (p == end) break;
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t left = static_cast<size_t>(end - p);
    if (c >= 0xc2 && c <= 0xdf) {
      if (left < 2 || (p[1] & 0xc0) != 0x80) return false;
      p += 2;
    } else if (c >= 0xe0 && c <= 0xef) {
      if (left < 3 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80) return false;
      if (c == 0xe0 && p[1] < 0xa0) return false;   // overlong
      if (c == 0xed && p[1] >= 0xa0) return false;  // surrogates
      p += 3;
    } else if (c >= 0xf0 && c <= 0xf4) {
      if (left < 4 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80 || (p[3] & 0xc0) != 0x80) {
        return false;
      }
      if (c == 0xf0 && p[1] < 0x90) return false;   // overlong
      if (c == 0xf4 && p[1] >= 0x90) return false;  // above U+10FFFF
      p += 4;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace tamsel::json
