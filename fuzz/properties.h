// Property checks shared by the fuzz drivers. A broken property prints what
// went wrong and the input, then aborts, so libFuzzer keeps the input as a
// crash artifact.
//
// What is checked independently of the library, and what reuses it:
// - the text of every value, byte for byte: written again here from the
//   layout rules (reference_text.h: floats from std::to_chars, strings from
//   the escape table), over the values the library's reader made, with their
//   content taken through the library's string_content;
// - the reader's messages: a list of their own below, not the library's;
// - UTF-8 validity, and the places of failures (by cutting the input short);
// - equality, plainly restated (plainly_equal, row_values_equal);
// - reading: only through the library's reader, against itself (cut short,
//   written and read again).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/cpp/reference_text.h"
#include "../tests/cpp/test_support.h"
#include "json/kernel.h"
#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"

namespace tamsel::fuzz {

using json::JsonError;
using json::JsonKind;
using json::JsonValue;
using json::NumberVariant;

class Checker {
 public:
  explicit Checker(std::string_view input) : input_(input) {}

  std::string_view input() const { return input_; }

  void that(bool holds, std::string_view what) const {
    if (!holds) fail(what);
  }

  [[noreturn]] void fail(std::string_view what) const {
    std::fprintf(stderr, "\n*** property broken: %.*s\n*** input (%zu bytes): ", static_cast<int>(what.size()),
                 what.data(), input_.size());
    for (size_t i = 0; i < input_.size() && i < 2048; ++i) {
      unsigned char c = static_cast<unsigned char>(input_[i]);
      if (c >= 0x20 && c < 0x7f && c != '\\') {
        std::fputc(c, stderr);
      } else {
        std::fprintf(stderr, "\\x%02x", c);
      }
    }
    std::fputc('\n', stderr);
    std::abort();
  }

 private:
  std::string_view input_;
};

// ---- Kernels

// The whole input read by the active kernel's reader into a document the
// outcome owns.
inline json::ParseOutcome read_document(std::string_view input) {
  return json::active_kernel_entry().read_rows(input, nullptr, nullptr);
}

// With TAMSEL_LIST_KERNELS set, prints the kernels this build has and this
// processor runs, one a line, and ends: fuzz/run.sh runs each of them.
// Otherwise the kernel forced by TAMSEL_KERNEL must be the one in use: an
// unknown or unavailable one stops the run at its start.
inline int check_forced_kernel() {
  if (std::getenv("TAMSEL_LIST_KERNELS") != nullptr) {
    for (json::Kernel kernel : json::kKernels) {
      if (json::kernel_available(kernel)) std::printf("%s\n", json::kernel_name(kernel));
    }
    std::exit(0);
  }
  const json::KernelChoice& choice = json::kernel_choice();
  if (!choice.problem.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(choice.problem.size()), choice.problem.data());
    std::exit(1);
  }
  return 0;
}

// The active kernel's reader gives what the portable one gives: the same
// rows, written, or the same failure at the same place.
inline void check_same_as_portable(std::string_view input, const json::ParseOutcome& parsed, const Checker& check) {
  if (json::active_kernel() == json::Kernel::portable) return;
  json::ParseOutcome portable = json::kernel_entry(json::Kernel::portable).read_rows(input, nullptr, nullptr);
  check.that(parsed.ok() == portable.ok(), "the kernels disagree on whether the input is valid");
  if (!parsed.ok()) {
    check.that(json::describe(parsed.error()) == json::describe(portable.error()),
               "the kernels fail differently: " + json::describe(parsed.error()) + " / " +
                   json::describe(portable.error()));
    return;
  }
  std::span<const JsonValue> a = parsed.rows().rows(), b = portable.rows().rows();
  check.that(a.size() == b.size(), "the kernels read different numbers of rows");
  for (size_t i = 0; i < a.size(); ++i) {
    check.that(json::compact_text(a[i]) == json::compact_text(b[i]), "the kernels read different rows");
  }
}

// ---- Values

// Exact comparison of two numbers by mathematical value. long double holds
// every 64-bit integer and every double exactly here.
static_assert(std::numeric_limits<long double>::digits >= 64);

inline long double exact_value(const JsonValue& n) {
  switch (n.number_variant()) {
    case NumberVariant::unsigned_int: return static_cast<long double>(n.as_unsigned());
    case NumberVariant::negative_int: return static_cast<long double>(n.as_negative());
    case NumberVariant::floating: break;
  }
  return static_cast<long double>(n.as_double());
}

// Equality written out plainly: strings by decoded content, numbers of one
// variant by value, objects member by member whatever their order.
inline bool plainly_equal(const JsonValue& a, const JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::null: return true;
    case JsonKind::boolean: return a.as_bool() == b.as_bool();
    case JsonKind::number:
      if (a.number_variant() != b.number_variant()) return false;
      if (a.number_variant() == NumberVariant::floating) return a.as_double() == b.as_double();
      return a.as_unsigned() == b.as_unsigned();
    case JsonKind::string: return json::string_content(a) == json::string_content(b);
    case JsonKind::array: {
      auto x = a.as_array(), y = b.as_array();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!plainly_equal(x[i], y[i])) return false;
      }
      return true;
    }
    case JsonKind::object: {
      const json::JsonObject &x = a.as_object(), &y = b.as_object();
      if (x.count() != y.count()) return false;
      for (size_t i = 0; i < x.count(); ++i) {
        size_t j = 0;
        while (j < y.count() && y.keys[j]->view() != x.keys[i]->view()) ++j;
        if (j == y.count() || !plainly_equal(x.values[i], y.values[j])) return false;
      }
      return true;
    }
  }
  return false;
}

// How two whole row values compare when deciding a constant column.
inline bool row_values_equal(const JsonValue& a, const JsonValue& b) {
  if (a.kind() == JsonKind::number && b.kind() == JsonKind::number) return exact_value(a) == exact_value(b);
  return plainly_equal(a, b);
}

// Steps between two finite doubles in the ordered sequence of all doubles.
inline uint64_t ulps_apart(double a, double b) {
  auto ordered = [](double d) {
    int64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
  };
  int64_t x = ordered(a), y = ordered(b);
  return x > y ? static_cast<uint64_t>(x) - static_cast<uint64_t>(y) : static_cast<uint64_t>(y) - static_cast<uint64_t>(x);
}

// The reader does not round correctly, so a float written with its shortest
// digits may read back a unit or two away. Everything else must match. (The
// text itself is held to the reference with no tolerance: check_written_form
// and check_fixed_point.)
constexpr uint64_t kFloatReadBackUlps = 2;

// `back` is `original` after writing and reading again: same kinds, same
// number variants, same member order, floats within kFloatReadBackUlps.
inline bool read_back_matches(const JsonValue& original, const JsonValue& back) {
  if (original.kind() != back.kind()) return false;
  switch (original.kind()) {
    case JsonKind::null: return true;
    case JsonKind::boolean: return original.as_bool() == back.as_bool();
    case JsonKind::number:
      if (original.number_variant() != back.number_variant()) return false;
      if (original.number_variant() != NumberVariant::floating) return original.as_unsigned() == back.as_unsigned();
      return original.as_double() == back.as_double() ||
             ulps_apart(original.as_double(), back.as_double()) <= kFloatReadBackUlps;
    case JsonKind::string: return json::string_content(original) == json::string_content(back);
    case JsonKind::array: {
      auto a = original.as_array(), b = back.as_array();
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (!read_back_matches(a[i], b[i])) return false;
      }
      return true;
    }
    case JsonKind::object: {
      const json::JsonObject &a = original.as_object(), &b = back.as_object();
      if (a.count() != b.count()) return false;
      for (size_t i = 0; i < a.count(); ++i) {
        if (a.keys[i]->view() != b.keys[i]->view() || !read_back_matches(a.values[i], b.values[i])) return false;
      }
      return true;
    }
  }
  return false;
}

inline bool well_formed_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra;
    uint32_t cp, min;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xc2 && c <= 0xdf) {
      extra = 1, cp = c & 0x1f, min = 0x80;
    } else if (c >= 0xe0 && c <= 0xef) {
      extra = 2, cp = c & 0x0f, min = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    i += extra + 1;
  }
  return true;
}

// What every value the reader makes satisfies: valid UTF-8 strings and keys,
// negative integers below zero, finite floats, unique keys that lookup finds,
// and containers nested within the limit (the top-level array is level 1;
// a scalar may sit inside a container of the deepest level).
inline void check_value(const JsonValue& v, int level, const Checker& check) {
  if (v.kind() == JsonKind::array || v.kind() == JsonKind::object) {
    check.that(level <= 127, "container nested deeper than the limit");
  }
  switch (v.kind()) {
    case JsonKind::number:
      if (v.number_variant() == NumberVariant::negative_int) check.that(v.as_negative() < 0, "negative integer >= 0");
      if (v.number_variant() == NumberVariant::floating) {
        double d = v.as_double();
        check.that(d - d == 0.0, "float not finite");
      }
      break;
    case JsonKind::string: check.that(well_formed_utf8(json::string_content(v)), "string is not valid UTF-8"); break;
    case JsonKind::array:
      for (const JsonValue& item : v.as_array()) check_value(item, level + 1, check);
      break;
    case JsonKind::object: {
      const json::JsonObject& object = v.as_object();
      for (size_t i = 0; i < object.count(); ++i) {
        std::string_view key = object.keys[i]->view();
        check.that(well_formed_utf8(key), "key is not valid UTF-8");
        check.that(testing::find_member(object, key) == &object.values[i], "lookup by key misses its member (or the key repeats)");
        check_value(object.values[i], level + 1, check);
      }
      break;
    }
    case JsonKind::null:
    case JsonKind::boolean: break;
  }
}

// ---- Written form

// The compact text of `v` as the layout rules give it, written here without
// the library's writer.
inline std::string reference_text(const JsonValue& v) {
  switch (v.kind()) {
    case JsonKind::null: return "null";
    case JsonKind::boolean: return v.as_bool() ? "true" : "false";
    case JsonKind::number:
      switch (v.number_variant()) {
        case NumberVariant::unsigned_int: return std::to_string(v.as_unsigned());
        case NumberVariant::negative_int: return std::to_string(v.as_negative());
        case NumberVariant::floating: return reference::float_text(v.as_double());
      }
      break;
    case JsonKind::string: return reference::string_text(json::string_content(v));
    case JsonKind::array: {
      std::string out = "[";
      for (const JsonValue& item : v.as_array()) out += (out.size() > 1 ? "," : "") + reference_text(item);
      return out + "]";
    }
    case JsonKind::object: {
      const json::JsonObject& object = v.as_object();
      std::string out = "{";
      for (size_t i = 0; i < object.count(); ++i) {
        if (i != 0) out += ',';
        out += reference::string_text(object.keys[i]->view()) + ":" + reference_text(object.values[i]);
      }
      return out + "}";
    }
  }
  return "?";
}

// The tokens of compact JSON text: strings whole, punctuation, and the runs
// between them (numbers and literals).
inline std::vector<std::string_view> tokens(std::string_view text) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    if (text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) i += text[i] == '\\' ? 1 : 0;
      ++i;
    } else if (std::string_view("[]{},:").find(text[i]) != std::string_view::npos) {
      ++i;
    } else {
      while (i < text.size() && std::string_view("[]{},:\"").find(text[i]) == std::string_view::npos) ++i;
    }
    out.push_back(text.substr(start, std::min(i, text.size()) - start));
  }
  return out;
}

inline bool float_token(std::string_view token) {
  return !token.empty() && (token[0] == '-' || (token[0] >= '0' && token[0] <= '9')) &&
         token.find_first_of(".eE") != std::string_view::npos;
}

// `text` is compact text the library wrote: read back and written again it
// must come out byte for byte the same. The reader's float conversion is not
// correctly rounded, so a float token may read back as a neighbouring
// double; such a token must then come out as that double's reference text.
inline void check_fixed_point(std::string_view text, const Checker& check) {
  // An array is read as the top level, anything else as its only element.
  const bool array = text.starts_with('[');
  std::string wrapped = array ? std::string(text) : "[" + std::string(text) + "]";
  json::ParseOutcome back = read_document(wrapped);
  if (!back.ok()) {
    // The output nests a row's values one level deeper than the input did,
    // which may be past what the reader takes.
    if (!array && back.error().message == "recursion limit exceeded") return;
    check.fail("written text does not read back: " + json::describe(back.error()));
  }
  std::string again;
  if (array) {
    again = "[";
    for (const JsonValue& item : back.rows().rows()) again += (again.size() > 1 ? "," : "") + json::compact_text(item);
    again += "]";
  } else {
    again = json::compact_text(back.rows().rows()[0]);
  }
  if (again == text) return;
  auto before = tokens(text), after = tokens(again);
  check.that(before.size() == after.size(), "written text changes its tokens when read and written again");
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    if (!float_token(before[i])) {
      check.fail("written text changes when read and written again: " + std::string(before[i]) + " became " +
                 std::string(after[i]));
    }
    std::string one = "[" + std::string(before[i]) + "]";
    json::ParseOutcome number = read_document(one);
    check.that(number.ok() && number.rows().rows()[0].kind() == JsonKind::number, "float token does not read");
    check.that(after[i] == reference::float_text(number.rows().rows()[0].as_double()),
               "float written again is not the shortest text of what it read as: " + std::string(after[i]));
  }
}

// Every value the library writes is the reference text of that value.
inline void check_written_form(std::span<const JsonValue> rows, const Checker& check) {
  for (const JsonValue& row : rows) {
    std::string written = json::compact_text(row), want = reference_text(row);
    if (written != want) check.fail("value written as " + written + ", not as " + want);
  }
}

// Writes `rows` as one compact array, reads it back and compares.
inline void check_write_read_back(std::span<const JsonValue> rows, const Checker& check) {
  json::ByteBuffer text;
  text.push('[');
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i != 0) text.push(',');
    json::write_compact(rows[i], text);
  }
  text.push(']');
  // No whitespace outside strings, no raw control byte inside them.
  bool in_string = false, escaped = false;
  for (char c : text.view()) {
    check.that(static_cast<unsigned char>(c) >= 0x20, "compact text holds a raw control byte");
    if (in_string) {
      in_string = escaped || c != '"';
      escaped = !escaped && c == '\\';
    } else {
      check.that(c != ' ', "compact text holds a space outside strings");
      in_string = c == '"';
    }
  }
  check_fixed_point(text.view(), check);
  json::ParseOutcome back = read_document(text.view());
  if (!back.ok()) check.fail("compact text does not read back: " + json::describe(back.error()));
  auto again = back.rows().rows();
  check.that(again.size() == rows.size(), "read-back array has another length");
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!read_back_matches(rows[i], again[i])) {
      check.fail("value differs after write and read: " + json::compact_text(rows[i]) + " became " +
                 json::compact_text(again[i]));
    }
  }
}

// ---- Reader failures

// The reader's messages, listed here on purpose apart from the library's own
// table: a message changed or mistyped there does not pass unnoticed.
inline bool known_reader_message(std::string_view m) {
  static constexpr std::string_view kFixed[] = {
      "EOF while parsing a value",
      "EOF while parsing a list",
      "EOF while parsing an object",
      "EOF while parsing a string",
      "expected value",
      "expected ident",
      "expected `,` or `]`",
      "expected `,` or `}`",
      "expected `:`",
      "key must be a string",
      "trailing comma",
      "trailing characters",
      "recursion limit exceeded",
      "invalid number",
      "number out of range",
      "control character (\\u0000-\\u001F) found while parsing a string",
      "invalid escape",
      "lone leading surrogate in hex escape",
      "unexpected end of hex escape",
      "invalid unicode code point",
  };
  for (std::string_view fixed : kFixed) {
    if (m == fixed) return true;
  }
  constexpr std::string_view kHead = "invalid type: ", kTail = ", expected a sequence";
  if (!m.starts_with(kHead) || !m.ends_with(kTail)) return false;
  std::string_view what = m.substr(kHead.size(), m.size() - kHead.size() - kTail.size());
  if (what == "null" || what == "map" || what == "boolean `true`" || what == "boolean `false`") return true;
  return (what.starts_with("integer `") || what.starts_with("floating point `")) ? what.ends_with('`')
         : what.starts_with("string \"")                                         ? what.ends_with('"')
                                                                                 : false;
}

// The byte offset that a line and column stand for, if they name a place
// inside the input: line N starts after the (N-1)th line feed, and the column
// runs to at most the end of that line (a line feed itself ends the line).
inline bool offset_of(std::string_view input, uint64_t line, uint64_t column, size_t& offset) {
  if (line < 1) return false;
  size_t start = 0;
  for (uint64_t l = 1; l < line; ++l) {
    size_t feed = input.find('\n', start);
    if (feed == std::string_view::npos) return false;
    start = feed + 1;
  }
  if (column > input.size() - start) return false;
  offset = start + static_cast<size_t>(column);
  return input.substr(start, offset - start).find('\n') == std::string_view::npos;
}

// A reader failure has a known message and names a place inside the input.
// Since the reader makes one pass, the failure can be placed exactly: an
// end-of-input failure is at the end, and the input cut just before an
// offending byte fails at its end (or, for trailing characters, reads).
inline void check_reader_failure(const JsonError& error, const Checker& check) {
  std::string_view input = check.input();
  check.that(known_reader_message(error.message), "unknown reader message: " + error.message);
  size_t offset = 0;
  if (!offset_of(input, error.line, error.column, offset)) {
    check.fail("position outside the input: " + json::describe(error));
  }
  const std::string& m = error.message;
  if (m.starts_with("EOF while parsing")) {
    check.that(offset == input.size(), "end-of-input failure before the end: " + json::describe(error));
    return;
  }
  if (m.starts_with("invalid type") || m == "number out of range") return;  // current offset, not a byte
  check.that(offset >= 1, "offending byte before the input: " + json::describe(error));
  json::ParseOutcome cut = read_document(input.substr(0, offset - 1));
  if (m == "trailing characters") {
    check.that(cut.ok(), "input before trailing characters does not read: " + json::describe(error));
    return;
  }
  if (cut.ok()) check.fail("input before the offending byte reads: " + json::describe(error));
  // Cut short, a top-level scalar may end cleanly and be refused by type.
  const JsonError& earlier = cut.error();
  bool top_level_array = input.substr(std::min(input.find_first_not_of(" \t\r\n"), input.size())).starts_with('[');
  bool refused_by_type = !top_level_array && earlier.message.starts_with("invalid type");
  if (!earlier.message.starts_with("EOF while parsing") && !refused_by_type) {
    check.fail("input before the offending byte fails otherwise: " + json::describe(earlier) + " vs " +
               json::describe(error));
  }
}

}  // namespace tamsel::fuzz
