// Where one read stands in its input, and the first failure it met. The
// structural reader, the string reader and the number reader all move the
// same cursor; a failure is recorded as a kind and an offset, and its text
// and position are only made once the read has given up (reader_errors.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/reader_errors.h"
#include "json/value.h"

namespace tamsel::json {

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

struct ReadCursor {
  explicit ReadCursor(std::string_view input)
      : begin(input.data()), p(input.data()), end(input.data() + input.size()) {}

  const char* const begin;
  const char* p;  // the next unread byte
  const char* const end;

  ReadFailure failure = ReadFailure::eof_in_value;  // meaningful once a step failed
  size_t failure_offset = 0;
  std::string failure_detail;  // what follows the failure's text, if anything

  // Each failure records its kind and offset and returns false, so that a
  // step can end with `return in.fail_...(...)`.

  // The input ended where more was needed: the offset is the input's length.
  bool fail_eof(ReadFailure kind) { return fail(kind, static_cast<size_t>(end - begin)); }
  // The byte at `byte` decided the failure. The offset is the one just past
  // it: a column counts the bytes of its line before the offset, so this
  // makes the column the byte's own 1-based column, and an offending line
  // feed is reported at column 0 of the line it starts.
  bool fail_at(ReadFailure kind, const char* byte) { return fail(kind, static_cast<size_t>(byte - begin) + 1); }
  // At the read offset: just past the last byte consumed.
  bool fail_here(ReadFailure kind) { return fail(kind, static_cast<size_t>(p - begin)); }

  bool fail(ReadFailure kind, size_t offset) {
    failure = kind;
    failure_offset = offset;
    return false;
  }

  // For the steps that return a value: the failure is recorded already.
  static JsonValue absent(bool /*failed*/) { return JsonValue::absent(); }

  // Compact text has nothing between its tokens, so one test of the next
  // byte usually settles it: every byte that is space is below '!'.
  void skip_space() {
    if (p != end && static_cast<unsigned char>(*p) > ' ') [[likely]] return;
    while (p < end && is_space(*p)) ++p;
  }
};

}  // namespace tamsel::json
