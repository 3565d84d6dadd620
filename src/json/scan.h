// Byte scanning shared by the reader and the writer: the bytes of a string
// that are not copied as they are (quote, backslash, control byte). The
// scans themselves, in words of 8 to 64 bytes, are the kernels' (see
// kernel.h and kernels/); this holds what they share, and what the reader
// needs of a kernel.
#pragma once

#include <cstddef>
#include <concepts>
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

// What the reader (reader_generic.h) needs of a kernel: the scan for the
// end of a string's plain run, as KernelEntry::find_string_special
// (kernel.h); the UTF-8 check of a string; and the same check told that
// `readable` bytes from `data` on may be read, so that a last partial block
// can be read in place. A kernel that lacks one does not compile.
template <class K>
concept ScanKernel = requires(const char* p, const char* end, bool& high, size_t size) {
  { K::find_string_special(p, end, high) } -> std::same_as<const char*>;
  { K::is_valid_utf8(p, size) } -> std::same_as<bool>;
  { K::is_valid_utf8_with_room(p, size, size) } -> std::same_as<bool>;
};

// A kernel's three functions as one ScanKernel type; the calls go straight
// to them, inlined where they are inline.
template <const char* (*FindStringSpecial)(const char*, const char*, bool&),
          bool (*IsValidUtf8)(const char*, size_t), bool (*IsValidUtf8WithRoom)(const char*, size_t, size_t)>
struct ScanFunctions {
  static const char* find_string_special(const char* p, const char* end, bool& high) {
    return FindStringSpecial(p, end, high);
  }
  static bool is_valid_utf8(const char* data, size_t size) { return IsValidUtf8(data, size); }
  static bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable) {
    return IsValidUtf8WithRoom(data, size, readable);
  }
};

// The first special byte in [p, end), or end, by the active kernel. One
// call each: for the writer's escaped strings and for tests; the reader
// has the scan of its own kernel inlined.
const char* find_string_special(const char* p, const char* end);

}  // namespace tamsel::json
