// Strings and their escapes, from just after the opening quote to just past
// the closing one. A string without escapes is validated where it stands
// and borrowed from the input; a string value whose escapes are all in the
// writer's own form is kept as its text, also where it stands; only other
// strings are decoded, into the reader's scratch text.
//
// Part of the reader (reader_generic.h): what scans and checks bytes is the
// kernel's, named by the template parameter K (see ScanKernel in scan.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "json/arena.h"
#include "json/escape_form.h"
#include "json/read_cursor.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/value.h"

namespace tamsel::json {

// Each kernel's translation unit compiles a reader of its own (kernel.h):
// internal linkage keeps every copy, and the inlining it gets, its own.
namespace {

// Where the content of a string with escapes is put together. Appends
// check the room once per piece; the buffer is kept for the whole read.
class ScratchText {
 public:
  void assign(const char* begin, const char* end) {
    size_ = 0;
    append(begin, static_cast<size_t>(end - begin));
  }
  void append(const char* bytes, size_t n) {
    if (n == 0) return;
    std::memcpy(room(n), bytes, n);
    size_ += n;
  }
  void push_back(char c) {
    *room(1) = c;
    ++size_;
  }
  char* room(size_t n) {
    if (capacity_ - size_ < n) grow(n);
    return data_.get() + size_;
  }
  void advance(size_t n) { size_ += n; }
  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  void grow(size_t n) {
    size_t capacity = std::max(capacity_ * 2, size_ + n + 64);
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// A string as read: where its content is and whether it can be written back
// without escapes. `borrowed` content points into the input; otherwise into
// the reader's scratch text, valid until the next string is read.
struct StringPiece {
  const char* data;
  size_t size;
  bool plain;
  bool borrowed;
};

namespace string_detail {

// Whether the `size` bytes at `data`, which lie in the input, are UTF-8.
// The input past them may be read too, so that their last block is read in
// place. Out of line: only strings with a byte past ASCII come here.
template <ScanKernel K>
[[gnu::noinline]] inline bool valid_utf8_in(const ReadCursor& in, const char* data, size_t size) {
  return K::is_valid_utf8_with_room(data, size, static_cast<size_t>(in.end - data));
}

// What each letter after a backslash stands for, other than 'u': the byte,
// and, worked out once here, whether that is the writer's escape for it and
// whether the byte needs escaping. Letters that are no escape have none.
struct ShortEscapeTable {
  struct Entry {
    char byte = 0;
    bool valid = false;
    bool written_form = false;
    bool special = false;
  };
  Entry entry[256];
  constexpr ShortEscapeTable() : entry() {
    set('"', '"');
    set('\\', '\\');
    set('/', '/');
    set('b', '\b');
    set('f', '\f');
    set('n', '\n');
    set('r', '\r');
    set('t', '\t');
  }
  constexpr void set(char letter, char byte) {
    entry[static_cast<unsigned char>(letter)] =
        Entry{byte, true, is_written_short_escape(letter, byte), kStringSpecial.special[static_cast<unsigned char>(byte)]};
  }
};
inline constexpr ShortEscapeTable kShortEscapes;

// Each byte's value as a hexadecimal digit, or 0xff: the four digits of an
// escape are then read without a branch each, and checked once.
struct HexDigitTable {
  uint8_t value[256];
  constexpr HexDigitTable() : value() {
    for (int c = 0; c < 256; ++c) value[c] = 0xff;
    for (int d = 0; d < 10; ++d) value['0' + d] = static_cast<uint8_t>(d);
    for (int d = 0; d < 6; ++d) {
      value['a' + d] = static_cast<uint8_t>(10 + d);
      value['A' + d] = static_cast<uint8_t>(10 + d);
    }
  }
};
inline constexpr HexDigitTable kHexDigits;

// Four hexadecimal digits after the 'u' at `u`.
inline bool read_hex_unit(ReadCursor& in, const char* u, uint32_t& unit) {
  if (in.end - (u + 1) < 4) return in.fail_eof(ReadFailure::eof_in_string);
  uint32_t digits[4];
  for (int i = 0; i < 4; ++i) digits[i] = kHexDigits.value[static_cast<unsigned char>(u[i + 1])];
  // A byte that is no digit has its high bits set, which survive the or.
  if (((digits[0] | digits[1] | digits[2] | digits[3]) & 0xf0) != 0) {
    return in.fail_at(ReadFailure::invalid_escape, u + 4);
  }
  const uint32_t value = (digits[0] << 12) | (digits[1] << 8) | (digits[2] << 4) | digits[3];
  unit = value;
  in.p = u + 5;
  return true;
}

// One escape, at its backslash. With kDecode, appends what it stands for to
// `scratch`; without, only checks it. `plain` is cleared when it stands for
// a byte that needs escaping, `high` set when for a non-ASCII character,
// `canonical` cleared when it is not the escape the writer would write.
template <bool kDecode>
inline bool read_escape(ReadCursor& in, ScratchText& scratch, bool& plain, bool& high, bool& canonical) {
  ++in.p;  // backslash
  if (in.p == in.end) return in.fail_eof(ReadFailure::eof_in_string);
  if (*in.p == 'u') {
    const char* u = in.p;
    uint32_t unit;
    if (!read_hex_unit(in, in.p, unit)) return false;
    uint32_t code_point = unit;
    if (!is_written_unit_escape(unit, u + 1)) canonical = false;
    if (unit >= 0xdc00 && unit <= 0xdfff) return in.fail_here(ReadFailure::lone_surrogate);
    if (unit >= 0xd800 && unit <= 0xdbff) {
      if (in.p == in.end) return in.fail_eof(ReadFailure::eof_in_string);
      if (*in.p != '\\') return in.fail_at(ReadFailure::unexpected_end_of_hex_escape, in.p);
      ++in.p;
      if (in.p == in.end) return in.fail_eof(ReadFailure::eof_in_string);
      if (*in.p != 'u') return in.fail_at(ReadFailure::unexpected_end_of_hex_escape, in.p);
      uint32_t low;
      if (!read_hex_unit(in, in.p, low)) return false;
      if (low < 0xdc00 || low > 0xdfff) return in.fail_here(ReadFailure::lone_surrogate);
      code_point = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
    }
    if constexpr (kDecode) scratch.advance(encode_utf8(code_point, scratch.room(4)));
    if (code_point < 0x20 || code_point == '"' || code_point == '\\') plain = false;
    if (code_point >= 0x80) high = true;
    return true;
  }
  const ShortEscapeTable::Entry& escape = kShortEscapes.entry[static_cast<unsigned char>(*in.p)];
  if (!escape.valid) return in.fail_at(ReadFailure::invalid_escape, in.p);
  ++in.p;
  if constexpr (kDecode) scratch.push_back(escape.byte);
  if (!escape.written_form) canonical = false;
  if (escape.special) plain = false;
  return true;
}

// The slow path, from the first backslash: the content is assembled in
// `scratch`.
template <ScanKernel K>
inline bool read_string_escaped(ReadCursor& in, ScratchText& scratch, const char* start, const char* stop,
                                bool high, StringPiece& out) {
  scratch.assign(start, stop);
  bool plain = true;
  bool canonical = true;
  in.p = stop;
  for (;;) {
    // *in.p is a backslash
    if (!read_escape<true>(in, scratch, plain, high, canonical)) return false;
    stop = K::find_string_special(in.p, in.end, high);
    if (stop == in.end) return in.fail_eof(ReadFailure::eof_in_string);
    scratch.append(in.p, static_cast<size_t>(stop - in.p));
    in.p = stop;
    if (*stop == '"') break;
    if (*stop != '\\') return in.fail_at(ReadFailure::control_character, stop);
  }
  ++in.p;  // closing quote
  if (high && !K::is_valid_utf8(scratch.data(), scratch.size())) {
    return in.fail_here(ReadFailure::invalid_code_point);
  }
  out = StringPiece{scratch.data(), scratch.size(), plain, false};
  return true;
}

}  // namespace string_detail

// A string's content, after the opening quote. Kept out of line: its
// callers (member names not met before, the top level, and strings that
// need decoding) are off the hot path, which stays smaller without it.
template <ScanKernel K>
[[gnu::noinline]] inline bool read_string(ReadCursor& in, ScratchText& scratch, StringPiece& out) {
  const char* start = in.p;
  bool high = false;
  const char* stop = K::find_string_special(in.p, in.end, high);
  if (stop == in.end) return in.fail_eof(ReadFailure::eof_in_string);
  if (*stop == '"') {
    in.p = stop + 1;
    size_t size = static_cast<size_t>(stop - start);
    if (high && !string_detail::valid_utf8_in<K>(in, start, size)) return in.fail_here(ReadFailure::invalid_code_point);
    out = StringPiece{start, size, true, true};
    return true;
  }
  if (*stop != '\\') return in.fail_at(ReadFailure::control_character, stop);
  return string_detail::read_string_escaped<K>(in, scratch, start, stop, high, out);
}

namespace string_detail {

// read_string_value past the first byte that is not plain content, at
// `stop`: escapes are checked one by one. Out of line, as most strings
// have none.
template <ScanKernel K>
[[gnu::noinline]] inline JsonValue read_string_value_escaped(ReadCursor& in, ScratchText& scratch, Arena& arena,
                                                             const char* start, const char* stop, bool high) {
  bool plain = false;
  bool canonical = true;
  in.p = stop;
  for (;;) {
    if (*stop != '\\') return in.absent(in.fail_at(ReadFailure::control_character, stop));
    if (!read_escape<false>(in, scratch, plain, high, canonical)) return JsonValue::absent();
    if (!canonical) {
      in.p = start;
      StringPiece s;
      if (!read_string<K>(in, scratch, s)) return JsonValue::absent();
      return JsonValue::make_string_ref(arena.copy_bytes(s.data, s.size), s.size, s.plain);
    }
    stop = K::find_string_special(in.p, in.end, high);
    if (stop == in.end) return in.absent(in.fail_eof(ReadFailure::eof_in_string));
    in.p = stop;
    if (*stop == '"') break;
  }
  ++in.p;  // closing quote
  // Escapes stand for whole characters, so the text is well-formed UTF-8
  // exactly when the content is.
  size_t size = static_cast<size_t>(in.p - 1 - start);
  if (high && !string_detail::valid_utf8_in<K>(in, start, size)) return in.absent(in.fail_here(ReadFailure::invalid_code_point));
  return JsonValue::make_escaped_string_ref(start, size);
}

}  // namespace string_detail

// A string value, after its opening quote; absent on failure. Escapes are
// checked where they stand; while each is in the writer's own form, the
// text between the quotes is exactly what writing the content gives, and
// the value is that text, neither decoded nor copied. The first escape in
// another form sends the string through the decoding path from its start,
// and the decoded content is copied into `arena`. Forced inline into the
// reader's value dispatch, which keeps the call off the path of the
// commonest values; strings with escapes take the call.
template <ScanKernel K>
[[gnu::always_inline]] inline JsonValue read_string_value(ReadCursor& in, ScratchText& scratch, Arena& arena) {
  const char* start = in.p;
  bool high = false;
  const char* stop = K::find_string_special(in.p, in.end, high);
  if (stop == in.end) return in.absent(in.fail_eof(ReadFailure::eof_in_string));
  if (*stop == '"') [[likely]] {
    in.p = stop + 1;
    size_t size = static_cast<size_t>(stop - start);
    if (high && !string_detail::valid_utf8_in<K>(in, start, size)) return in.absent(in.fail_here(ReadFailure::invalid_code_point));
    return JsonValue::make_string_ref(start, size, true);
  }
  return string_detail::read_string_value_escaped<K>(in, scratch, arena, start, stop, high);
}

}  // namespace

}  // namespace tamsel::json
