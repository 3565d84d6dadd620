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
// digit: positional from -5 to 15, else exponential. `digits` has at most
// 17 digits. They are made straight into the output where they belong, and
// the point is put in by moving what follows it with one fixed-size copy,
// so that no copy's length depends on the number. That copy reads back
// bytes just stored, which stalls, yet it is faster on float-heavy rows than
// writing the two sides of the point apart or moving them in a register
// (docs/design.md, Numbers).
[[gnu::always_inline]] inline char* put_decimal(bool negative, uint64_t digits_value, int exponent_of_last, char* w) {
  *w = '-';
  w += negative ? 1 : 0;
  const int n = static_cast<int>(decimal_digits(digits_value));
  const int exponent = exponent_of_last + n - 1;

  if (exponent < -5 || exponent > 15) {
    // The first digit moves ahead of the point.
    write_digits(digits_value, static_cast<unsigned>(n), w + 1);
    w[0] = w[1];
    w[1] = '.';
    w += n > 1 ? n + 1 : 1;
    w[0] = 'e';
    w[1] = exponent < 0 ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    const unsigned exponent_digits = decimal_digits(magnitude);
    write_digits(magnitude, exponent_digits, w + 2);
    w += 2 + exponent_digits;
  } else if (exponent < 0) {
    // "0." and the zeros that follow it, at most four, then the digits.
    std::memcpy(w, "0.000000", 8);
    write_digits(digits_value, static_cast<unsigned>(n), w + 1 - exponent);
    w += n + 1 - exponent;
  } else if (exponent < n - 1) {
    write_digits(digits_value, static_cast<unsigned>(n), w);
    char after_point[16];
    std::memcpy(after_point, w + exponent + 1, 16);
    w[exponent + 1] = '.';
    std::memcpy(w + exponent + 2, after_point, 16);
    w += n + 1;
  } else {
    // All digits before the point, padded with zeros, then ".0".
    write_digits(digits_value, static_cast<unsigned>(n), w);
    std::memcpy(w + n, "0000000000000000", 16);
    w += exponent + 1;
    std::memcpy(w, ".0", 2);
    w += 2;
  }
  return w;
}

}  // namespace

char* put_float_value(const JsonValue& value, char* p) {
  const double x = value.as_double();
  // The digits the literal had, or the power of ten where they ended.
  const bool kept = value.is_short_decimal();
  int exponent = kept ? value.short_decimal_exponent() : 0;
  uint64_t digits = kept ? value.short_decimal_digits() : 0;
  if (digits == 0 && exponent < 0) digits = shortest_digits_at(std::fabs(x), -exponent);
  if (digits == 0) {
    if (!std::isfinite(x)) {
      std::memcpy(p, "null", 4);
      return p + 4;
    }
    if (x == 0) {
      if (std::signbit(x)) {
        std::memcpy(p, "-0.0", 4);
        return p + 4;
      }
      std::memcpy(p, "0.0", 3);
      return p + 3;
    }
    // Shortest round-trip digits, nearest when several qualify.
    const DecimalForm form = shortest_decimal(std::fabs(x));
    digits = form.digits;
    exponent = form.exponent;
  }
  return put_decimal(x < 0, digits, exponent, p);
}

void write_float_value(const JsonValue& value, ByteBuffer& out) {
  char* p = out.room(kFloatRoom);
  out.advance(static_cast<size_t>(put_float_value(value, p) - p));
}

void write_float(double value, ByteBuffer& out) { write_float_value(JsonValue::make_double(value), out); }

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
    case JsonKind::number: write_float_value(value, out); return;
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
