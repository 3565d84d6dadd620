// The compact text of scalars, stated again from the layout rules alone and
// with no code of the library: the standard library's shortest round-trip
// digits for floats, laid out here; the escape table for strings. The C++
// tests and the fuzz checks hold the library's output to these byte for byte.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

namespace tamsel::reference {

// Positional for decimal exponents -5 to 15 ("1.0", "0.00001",
// "1000000000000000.0"), otherwise exponential with a signed exponent
// ("1e+16", "1.5e-7"); zero is "0.0" or "-0.0"; what is not finite, "null".
inline std::string float_text(double value) {
  if (!std::isfinite(value)) return "null";
  std::string sign = std::signbit(value) ? "-" : "";
  if (value == 0) return sign + "0.0";
  char buffer[64];
  // Scientific form with no precision: the shortest digits that read back as
  // the value, the nearest of them where several qualify: d[.ddd]e±XX.
  char* end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific).ptr;
  std::string_view text(buffer, static_cast<size_t>(end - buffer));
  size_t mark = text.find('e');
  std::string digits;
  for (char c : text.substr(0, mark)) {
    if (c != '.') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int point = std::stoi(std::string(text.substr(mark + 1)));  // the exponent of the first digit
  const int n = static_cast<int>(digits.size());
  if (point >= -5 && point <= 15) {
    if (n - 1 <= point) return sign + digits + std::string(static_cast<size_t>(point + 1 - n), '0') + ".0";
    if (point >= 0) return sign + digits.substr(0, static_cast<size_t>(point + 1)) + "." + digits.substr(static_cast<size_t>(point + 1));
    return sign + "0." + std::string(static_cast<size_t>(-point - 1), '0') + digits;
  }
  std::string mantissa = digits.substr(0, 1);
  if (n > 1) mantissa += "." + digits.substr(1);
  return sign + mantissa + "e" + (point < 0 ? "-" : "+") + std::to_string(point < 0 ? -point : point);
}

// The escape of one byte, or nothing when it is written as it is: quote and
// backslash, the five controls with a letter of their own, the other
// controls as \u00xx in lower case. Nothing else: not the slash, not 0x7f,
// not the bytes of non-ASCII characters.
inline std::string_view escape_of(unsigned char c) {
  static const std::string table[0x20] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
  if (c < 0x20) return table[c];
  if (c == '"') return "\\\"";
  if (c == '\\') return "\\\\";
  return {};
}

// A string (or member name) of the given content, in its quotes.
inline std::string string_text(std::string_view content) {
  std::string out = "\"";
  for (char c : content) {
    std::string_view escape = escape_of(static_cast<unsigned char>(c));
    if (escape.empty()) {
      out += c;
    } else {
      out += escape;
    }
  }
  return out + "\"";
}

}  // namespace tamsel::reference
