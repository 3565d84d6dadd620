#include "json/reader_errors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "json/byte_buffer.h"
#include "json/utf8.h"
#include "json/writer.h"
#include "support/fault.h"

namespace tamsel::json {

namespace {

// Which non-ASCII code points the debug quoting shows escaped.
struct CodePointRange {
  uint32_t first;
  uint32_t last;
};
constexpr CodePointRange kDebugEscaped[] = {
#include "json/debug_escape_table.inc"
};

bool debug_escaped(uint32_t cp) {
  const CodePointRange* it =
      std::upper_bound(std::begin(kDebugEscaped), std::end(kDebugEscaped), cp,
                       [](uint32_t v, const CodePointRange& r) { return v < r.first; });
  return it != std::begin(kDebugEscaped) && cp <= (it - 1)->last;
}

// A number as the description shows it, in backticks after its kind.
std::string describe_number(const JsonValue& number) {
  ByteBuffer text;
  switch (number.number_variant()) {
    case NumberVariant::unsigned_int:
      write_unsigned(number.as_unsigned(), text);
      return "integer `" + std::string(text.view()) + "`";
    case NumberVariant::negative_int:
      write_negative(number.as_negative(), text);
      return "integer `" + std::string(text.view()) + "`";
    case NumberVariant::floating: break;
  }
  write_float(number.as_double(), text);
  return "floating point `" + std::string(text.view()) + "`";
}

}  // namespace

std::string describe_top_level_value(const JsonValue& value) {
  std::string what;
  switch (value.kind()) {
    case JsonKind::null: what = "null"; break;
    case JsonKind::boolean: what = value.as_bool() ? "boolean `true`" : "boolean `false`"; break;
    case JsonKind::number: what = describe_number(value); break;
    case JsonKind::string: what = "string " + debug_quote(value.as_string()); break;
    case JsonKind::object: what = "map"; break;
    case JsonKind::array: raise_fault("an array described as a value of the wrong type");
  }
  return what + ", expected a sequence";
}

JsonError locate_failure(std::string_view input, size_t offset, ReadFailure kind, std::string_view detail) {
  JsonError e;
  e.message = std::string(failure_text(kind));
  e.message += detail;
  const char* begin = input.data();
  const char* at = begin + offset;
  uint64_t line = 1;
  const char* line_start = begin;
  for (const char* q = begin; q < at; ++q) {
    q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(at - q)));
    if (q == nullptr) break;
    ++line;
    line_start = q + 1;
  }
  e.line = line;
  e.column = static_cast<uint64_t>(at - line_start);
  return e;
}

std::string debug_quote(std::string_view utf8) {
  std::string out = "\"";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    const unsigned char* char_start = p;
    uint32_t cp = decode_utf8(p);
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case 0: out += "\\0"; continue;
      default: break;
    }
    bool escaped = cp < 0x20 || cp == 0x7f || (cp >= 0x80 && debug_escaped(cp));
    if (escaped) {
      char buf[16];
      int n = std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
      out.append(buf, static_cast<size_t>(n));
    } else {
      out.append(reinterpret_cast<const char*>(char_start), static_cast<size_t>(p - char_start));
    }
  }
  out += '"';
  return out;
}

std::string describe(const JsonError& error) {
  return error.message + " at line " + std::to_string(error.line) + " column " +
         std::to_string(error.column);
}

}  // namespace tamsel::json
