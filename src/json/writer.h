// The compact writer: no whitespace outside strings, minimal string escapes,
// integers as digits, floats as the shortest text that reads back the same.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/byte_buffer.h"
#include "json/powers_of_ten.h"
#include "json/value.h"

namespace tamsel::json {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the digits of `v` ending just before `end`; returns the first digit.
inline char* digits_backwards(uint64_t v, char* end) {
  while (v >= 100) {
    unsigned pair = static_cast<unsigned>(v % 100) * 2;
    v /= 100;
    end -= 2;
    end[0] = kDigitPairs[pair];
    end[1] = kDigitPairs[pair + 1];
  }
  if (v >= 10) {
    unsigned pair = static_cast<unsigned>(v) * 2;
    end -= 2;
    end[0] = kDigitPairs[pair];
    end[1] = kDigitPairs[pair + 1];
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// How many decimal digits `v` has (1 for 0).
inline unsigned decimal_digits(uint64_t v) {
  v |= 1;
  // 1233 / 4096 is just above log10(2): a guess that is exact or one short.
  unsigned guess = static_cast<unsigned>((64 - std::countl_zero(v)) * 1233) >> 12;
  return guess + (v >= kPow10Integer[guess] ? 1 : 0);
}

inline void write_unsigned(uint64_t value, ByteBuffer& out) {
  unsigned n = decimal_digits(value);
  digits_backwards(value, out.room(20) + n);
  out.advance(n);
}

inline void write_negative(int64_t value, ByteBuffer& out) {
  // The magnitude of INT64_MIN does not fit in int64_t; negate as unsigned.
  uint64_t magnitude = 0 - static_cast<uint64_t>(value);
  unsigned n = decimal_digits(magnitude) + 1;
  *(digits_backwards(magnitude, out.room(21) + n) - 1) = '-';
  out.advance(n);
}

// The float text: positional for decimal exponents -5 to 15, else exponential.
void write_float(double value, ByteBuffer& out);
void write_escaped_string(const char* data, size_t size, ByteBuffer& out);

inline void write_string_value(const JsonValue& s, ByteBuffer& out) {
  if (s.string_is_written_as_is()) {
    size_t n = s.string_size();
    char* p = out.room(n + 2);
    p[0] = '"';
    copy_bytes(p + 1, s.string_data(), n);
    p[n + 1] = '"';
    out.advance(n + 2);
  } else {
    write_escaped_string(s.string_data(), s.string_size(), out);
  }
}

inline void write_key(const JsonKey& key, ByteBuffer& out) {
  if (key.plain) {
    char* p = out.room(key.size + 2);
    p[0] = '"';
    copy_bytes(p + 1, key.data, key.size);
    p[key.size + 1] = '"';
    out.advance(key.size + 2);
  } else {
    write_escaped_string(key.data, key.size, out);
  }
}

// Floats, arrays and objects: the part of write_compact kept out of line.
void write_compound(const JsonValue& value, ByteBuffer& out);

// Appends the compact text of `value`. Cannot fail.
inline void write_compact(const JsonValue& value, ByteBuffer& out) {
  switch (value.kind()) {
    case JsonKind::null: out.append("null", 4); return;
    case JsonKind::boolean:
      if (value.as_bool()) {
        out.append("true", 4);
      } else {
        out.append("false", 5);
      }
      return;
    case JsonKind::number:
      if (value.number_variant() == NumberVariant::unsigned_int) return write_unsigned(value.as_unsigned(), out);
      if (value.number_variant() == NumberVariant::negative_int) return write_negative(value.as_negative(), out);
      break;
    case JsonKind::string: return write_string_value(value, out);
    default: break;
  }
  write_compound(value, out);
}

// The compact text of `value` as a string.
std::string compact_text(const JsonValue& value);

}  // namespace tamsel::json
