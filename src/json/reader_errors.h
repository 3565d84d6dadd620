// The texts of the reader's failures: every fixed message in one table, the
// description of a top-level value that is not an array, and the position
// (line and column) of a failure, worked out from its byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "json/reader.h"
#include "json/value.h"

namespace tamsel::json {

// Why a read failed. Each kind has one text in kReadFailureTexts; a reading
// step names the kind, never the text.
enum class ReadFailure : uint8_t {
  eof_in_value,
  eof_in_list,
  eof_in_object,
  eof_in_string,
  expected_value,
  expected_ident,
  expected_comma_or_bracket,
  expected_comma_or_brace,
  expected_colon,
  key_not_string,
  trailing_comma,
  trailing_characters,
  recursion_limit,
  invalid_number,
  number_out_of_range,
  control_character,
  invalid_escape,
  lone_surrogate,
  unexpected_end_of_hex_escape,
  invalid_code_point,
  // The top-level value is not an array: the text is followed by that
  // value's description (describe_top_level_value).
  invalid_type,
};

// The fuzz checks (fuzz/properties.h) keep their own list of these texts on
// purpose: an independent statement of what the reader may say, against
// which every message the reader gives is checked.
inline constexpr std::string_view kReadFailureTexts[] = {
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
    "invalid type: ",
};
static_assert(std::size(kReadFailureTexts) == static_cast<size_t>(ReadFailure::invalid_type) + 1,
              "one text per failure kind");

inline std::string_view failure_text(ReadFailure kind) { return kReadFailureTexts[static_cast<size_t>(kind)]; }

// What follows the invalid_type text for a top-level `value` that is not an
// array: its description, then ", expected a sequence". A string value must
// hold its content (not the escaped form); an object is named by its kind
// alone, so its members need not have been read.
std::string describe_top_level_value(const JsonValue& value);

// The failure of `kind` (with `detail` after its text) at byte `offset` of
// `input`, with its line and column counted now: reading never tracks lines.
JsonError locate_failure(std::string_view input, size_t offset, ReadFailure kind, std::string_view detail);

// The string as the invalid-type description shows it: in double quotes,
// with quote, backslash, controls and invisible characters escaped.
std::string debug_quote(std::string_view utf8);

}  // namespace tamsel::json
