// The compact writer: no whitespace outside strings, minimal string escapes,
// integers as digits, floats as the shortest text that reads back the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "json/byte_buffer.h"
#include "json/value.h"

namespace tamsel::json {

// Appends the compact text of `value`. Cannot fail.
void write_compact(const JsonValue& value, ByteBuffer& out);

// The compact text of `value` as a string.
std::string compact_text(const JsonValue& value);

// Pieces of the writer that the transform and the reader's messages share.
void write_escaped_string(const char* data, size_t size, ByteBuffer& out);
void write_unsigned(uint64_t value, ByteBuffer& out);
void write_negative(int64_t value, ByteBuffer& out);
// The float text: positional for decimal exponents -5 to 15, else exponential.
void write_float(double value, ByteBuffer& out);

inline void write_string_value(const JsonValue& s, ByteBuffer& out) {
  if (s.string_is_written_as_is()) {
    size_t n = s.string_size();
    char* p = out.room(n + 2);
    p[0] = '"';
    std::memcpy(p + 1, s.string_data(), n);
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
    std::memcpy(p + 1, key.data, key.size);
    p[key.size + 1] = '"';
    out.advance(key.size + 2);
  } else {
    write_escaped_string(key.data, key.size, out);
  }
}

}  // namespace tamsel::json
