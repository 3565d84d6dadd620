// The writer's escape form: how each byte that cannot stand as itself inside
// a string is written. The writer writes it; the reader recognises string
// text already in this form, which it then keeps as it is instead of
// decoding it; string_content decodes it. All three use these definitions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "json/scan.h"

namespace tamsel::json {

// For each byte, the letter written after the backslash, or 0 for a byte
// written as itself. The escaped bytes are the special ones of the string
// scan; those with a short escape get its letter, the other controls 'u'
// (written \u00xx, in lower-case hexadecimal).
struct EscapeTable {
  char letter[256];
  constexpr EscapeTable() : letter() {
    for (int c = 0; c < 256; ++c) {
      if (kStringSpecial.special[c]) letter[c] = 'u';
    }
    letter[0x08] = 'b';
    letter[0x09] = 't';
    letter[0x0a] = 'n';
    letter[0x0c] = 'f';
    letter[0x0d] = 'r';
    letter[0x22] = '"';
    letter[0x5c] = '\\';
  }
};
inline constexpr EscapeTable kEscapes;

// The digits of the \u00xx form.
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

// Whether the escape of `letter` (not 'u'), which stands for `byte`, is the
// one the writer writes for that byte.
constexpr bool is_written_short_escape(char letter, char byte) {
  return kEscapes.letter[static_cast<unsigned char>(byte)] == letter;
}

// Whether the \u escape of the four hexadecimal digits at `hex`, which stand
// for `unit`, is the one the writer writes for that unit.
inline bool is_written_unit_escape(uint32_t unit, const char* hex) {
  return unit < 0x20 && kEscapes.letter[unit] == 'u' && hex[0] == '0' && hex[1] == '0' &&
         hex[2] == kLowerHexDigits[unit >> 4] && hex[3] == kLowerHexDigits[unit & 15];
}

namespace escape_detail {
// The byte each short escape letter stands for.
struct UnescapeTable {
  char byte[256];
  constexpr UnescapeTable() : byte() {
    for (int c = 0; c < 256; ++c) {
      char letter = kEscapes.letter[c];
      if (letter != 0 && letter != 'u') byte[static_cast<unsigned char>(letter)] = static_cast<char>(c);
    }
  }
};
inline constexpr UnescapeTable kUnescape;

inline int lower_hex_value(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }
}  // namespace escape_detail

// The byte that the escape at `backslash`, in the writer's form, stands for;
// `length` is set to the escape's length in bytes.
inline char decode_written_escape(const char* backslash, size_t& length) {
  if (backslash[1] == 'u') {
    length = 6;
    return static_cast<char>(escape_detail::lower_hex_value(backslash[4]) * 16 +
                             escape_detail::lower_hex_value(backslash[5]));
  }
  length = 2;
  return escape_detail::kUnescape.byte[static_cast<unsigned char>(backslash[1])];
}

}  // namespace tamsel::json
