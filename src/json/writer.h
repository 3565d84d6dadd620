// The compact writer: no whitespace outside strings, minimal string escapes,
// integers as digits, floats as the shortest text that reads back the same.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "json/byte_buffer.h"
#include "json/powers_of_ten.h"
#include "json/value.h"

namespace tamsel::json {

// The eight ASCII digits of `v` (below 10^8, leading zeros included) as one
// word whose lowest byte is the first digit: the halves, quarters and single
// digits are split off in parallel lanes of the word, each split one
// multiplication by a reciprocal, so that no step waits on a division.
inline uint64_t eight_digits(uint32_t v) {
  const uint64_t fours = (v / 10000) | (static_cast<uint64_t>(v % 10000) << 32);
  // x / 100 is (x * 10486) >> 20 for x below 10^4; x / 10 is (x * 103) >> 10
  // for x below 100. Neither product leaves its lane.
  const uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007f0000007fULL;
  const uint64_t twos = hundreds | ((fours - hundreds * 100) << 16);
  const uint64_t tens = ((twos * 103) >> 10) & 0x000f000f000f000fULL;
  return (tens | ((twos - tens * 10) << 8)) | 0x3030303030303030ULL;
}

inline void store_word(char* p, uint64_t word) { std::memcpy(p, &word, 8); }

// Writes the `n` digits of `v` (n = decimal_digits(v)) from `dst`. Up to
// 8 bytes are stored even when n is smaller, so the room past `dst` must be
// at least max(n, 8); bytes past the n digits are left undefined.
inline void write_digits(uint64_t v, unsigned n, char* dst) {
  if (n == 1) {
    *dst = static_cast<char>('0' + v);
  } else if (n <= 8) {
    store_word(dst, eight_digits(static_cast<uint32_t>(v)) >> (8 * (8 - n)));
  } else if (n <= 16) {
    store_word(dst, eight_digits(static_cast<uint32_t>(v / 100000000)) >> (8 * (16 - n)));
    store_word(dst + n - 8, eight_digits(static_cast<uint32_t>(v % 100000000)));
  } else {
    const uint64_t low16 = v % 10000000000000000ULL;
    store_word(dst, eight_digits(static_cast<uint32_t>(v / 10000000000000000ULL)) >> (8 * (24 - n)));
    store_word(dst + n - 16, eight_digits(static_cast<uint32_t>(low16 / 100000000)));
    store_word(dst + n - 8, eight_digits(static_cast<uint32_t>(low16 % 100000000)));
  }
}

// How many decimal digits `v` has (1 for 0).
inline unsigned decimal_digits(uint64_t v) {
  v |= 1;
  // 1233 / 4096 is just above log10(2): a guess that is exact or one short.
  unsigned guess = static_cast<unsigned>((64 - std::countl_zero(v)) * 1233) >> 12;
  return guess + (v >= kPow10Integer[guess] ? 1 : 0);
}

// Writers into room their caller has made, for callers that keep the write
// position in a local: each returns where its text ends.
inline constexpr size_t kUnsignedRoom = 20;  // write_digits stores at least 8
inline constexpr size_t kNegativeRoom = 21;
inline constexpr size_t kFloatRoom = 48;

inline char* put_unsigned(uint64_t value, char* p) {
  unsigned n = decimal_digits(value);
  write_digits(value, n, p);
  return p + n;
}

inline char* put_negative(int64_t value, char* p) {
  // The magnitude of INT64_MIN does not fit in int64_t; negate as unsigned.
  uint64_t magnitude = 0 - static_cast<uint64_t>(value);
  unsigned n = decimal_digits(magnitude);
  p[0] = '-';
  write_digits(magnitude, n, p + 1);
  return p + 1 + n;
}

// The text of a float value, at most kFloatRoom bytes with the room past it.
char* put_float_value(const JsonValue& value, char* p);

inline void write_unsigned(uint64_t value, ByteBuffer& out) {
  char* p = out.room(kUnsignedRoom);
  out.advance(static_cast<size_t>(put_unsigned(value, p) - p));
}

inline void write_negative(int64_t value, ByteBuffer& out) {
  char* p = out.room(kNegativeRoom);
  out.advance(static_cast<size_t>(put_negative(value, p) - p));
}

// The float text: positional for decimal exponents -5 to 15, else exponential.
void write_float(double value, ByteBuffer& out);
// The same for a float value, using the digits it kept from its literal.
void write_float_value(const JsonValue& value, ByteBuffer& out);
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

// Arrays, objects and strings to escape: the part of write_compact kept out
// of line (floats have write_float_value).
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
      return write_float_value(value, out);
    case JsonKind::string: return write_string_value(value, out);
    default: break;
  }
  write_compound(value, out);
}

// The compact text of `value` as a string.
std::string compact_text(const JsonValue& value);

}  // namespace tamsel::json
