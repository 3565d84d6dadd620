#include "json/writer.h"

#include <cmath>
#include <cstring>

#include "json/escape_form.h"
#include "json/scan.h"
#include "json/shortest_double.h"

namespace tamsel::json {

namespace {

void write_array(std::span<const JsonValue> items, ByteBuffer& out) {
  out.push('[');
  for (size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out.push(',');
    write_compact(items[i], out);
  }
  out.push(']');
}

void write_object(const JsonObject& object, ByteBuffer& out) {
  out.push('{');
  for (size_t i = 0; i < object.size; ++i) {
    if (i != 0) out.push(',');
    write_key(*object.keys[i], out);
    out.push(':');
    write_compact(object.values[i], out);
  }
  out.push('}');
}

// `digits` x 10^`exponent`, laid out by the decimal exponent of the first
// digit: positional from -5 to 15, else exponential.
void write_decimal(bool negative, uint64_t digits_value, int exponent_of_last, ByteBuffer& out) {
  char* out_start = out.room(40);
  char* w = out_start;
  if (negative) *w++ = '-';
  char digit_buffer[24];
  char* digits_end = digit_buffer + sizeof digit_buffer;
  const char* digits = digits_backwards(digits_value, digits_end);
  const int n = static_cast<int>(digits_end - digits);
  const int exponent = exponent_of_last + n - 1;

  if (exponent >= -5 && exponent <= 15) {
    if (n - 1 <= exponent) {
      std::memcpy(w, digits, static_cast<size_t>(n));
      w += n;
      for (int i = 0; i < exponent + 1 - n; ++i) *w++ = '0';
      *w++ = '.';
      *w++ = '0';
    } else if (exponent >= 0) {
      std::memcpy(w, digits, static_cast<size_t>(exponent + 1));
      w += exponent + 1;
      *w++ = '.';
      std::memcpy(w, digits + exponent + 1, static_cast<size_t>(n - exponent - 1));
      w += n - exponent - 1;
    } else {
      *w++ = '0';
      *w++ = '.';
      for (int i = 0; i < -exponent - 1; ++i) *w++ = '0';
      std::memcpy(w, digits, static_cast<size_t>(n));
      w += n;
    }
  } else {
    *w++ = digits[0];
    if (n > 1) {
      *w++ = '.';
      std::memcpy(w, digits + 1, static_cast<size_t>(n - 1));
      w += n - 1;
    }
    *w++ = 'e';
    *w++ = exponent < 0 ? '-' : '+';
    unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    char buf[8];
    char* end = buf + sizeof buf;
    char* begin = digits_backwards(magnitude, end);
    std::memcpy(w, begin, static_cast<size_t>(end - begin));
    w += end - begin;
  }
  out.advance(static_cast<size_t>(w - out_start));
}

}  // namespace

void write_float(double value, ByteBuffer& out) {
  if (!std::isfinite(value)) {
    out.append("null", 4);
    return;
  }
  if (value == 0) {
    if (std::signbit(value)) {
      out.append("-0.0", 4);
    } else {
      out.append("0.0", 3);
    }
    return;
  }
  // Shortest round-trip digits, nearest when several qualify.
  DecimalForm form = shortest_decimal(std::fabs(value));
  write_decimal(value < 0, form.digits, form.exponent, out);
}

void write_escaped_string(const char* data, size_t size, ByteBuffer& out) {
  out.push('"');
  const char* p = data;
  const char* end = data + size;
  while (p < end) {
    const char* stop = find_string_special(p, end);
    out.append(p, static_cast<size_t>(stop - p));
    if (stop == end) break;
    unsigned char c = static_cast<unsigned char>(*stop);
    char letter = kEscapes.letter[c];
    if (letter == 'u') {
      char esc[6] = {'\\', 'u', '0', '0', kLowerHexDigits[c >> 4], kLowerHexDigits[c & 15]};
      out.append(esc, 6);
    } else {
      char esc[2] = {'\\', letter};
      out.append(esc, 2);
    }
    p = stop + 1;
  }
  out.push('"');
}

void write_compound(const JsonValue& value, ByteBuffer& out) {
  switch (value.kind()) {
    case JsonKind::number:
      if (value.is_short_decimal()) {
        write_decimal(value.as_double() < 0, value.short_decimal_digits(), value.short_decimal_exponent(), out);
      } else {
        write_float(value.as_double(), out);
      }
      return;
    case JsonKind::string: write_escaped_string(value.string_data(), value.string_size(), out); return;
    case JsonKind::array: write_array(value.as_array(), out); return;
    case JsonKind::object: write_object(value.as_object(), out); return;
    default: write_compact(value, out); return;
  }
}

std::string compact_text(const JsonValue& value) {
  ByteBuffer buffer;
  write_compact(value, buffer);
  return std::string(buffer.view());
}

}  // namespace tamsel::json
