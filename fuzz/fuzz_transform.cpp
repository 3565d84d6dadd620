// Fuzzes the columnar transform. A failure must carry one of the two message
// forms and agree with what the reader says about the input; a success must
// read back as the three-member document whose columns and constants are
// exactly the ones the rows call for, and which gives back every row's
// non-null members.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "properties.h"
#include "transform/columnarize.h"

namespace {

using tamsel::fuzz::Checker;
using tamsel::json::JsonKind;
using tamsel::json::JsonObject;
using tamsel::json::JsonValue;

constexpr std::string_view kInvalid = "invalid row-oriented JSON: ";
constexpr std::string_view kNotObject = "expected a JSON object row, got: ";

// Reads "<n>" at the front of `text`, advancing past it.
bool take_number(std::string_view& text, uint64_t& n) {
  size_t digits = 0;
  n = 0;
  while (digits < text.size() && digits < 19 && text[digits] >= '0' && text[digits] <= '9') {
    n = n * 10 + static_cast<uint64_t>(text[digits] - '0');
    ++digits;
  }
  text.remove_prefix(digits);
  return digits != 0;
}

void check_parse_failure_message(const std::string& message, const tamsel::json::JsonError& error,
                                 const Checker& check) {
  check.that(message.starts_with(kInvalid), "parse failure without its prefix: " + message);
  std::string_view tail = message;
  size_t at = tail.rfind(" at line ");
  check.that(at != std::string_view::npos, "parse failure without a position: " + message);
  tail.remove_prefix(at + 9);
  uint64_t line = 0, column = 0;
  bool well_formed = take_number(tail, line) && tail.starts_with(" column ");
  if (well_formed) {
    tail.remove_prefix(8);
    well_formed = take_number(tail, column) && tail.empty();
  }
  check.that(well_formed, "parse failure position is not \" at line N column M\": " + message);
  size_t offset = 0;
  check.that(tamsel::fuzz::offset_of(check.input(), line, column, offset),
             "parse failure position outside the input: " + message);
  check.that(message == std::string(kInvalid) + tamsel::json::describe(error),
             "parse failure differs from the reader's: " + message);
  tamsel::fuzz::check_reader_failure(error, check);
}

const JsonValue* member(const JsonValue& row, std::string_view name) { return row.as_object().find(name); }

bool holds_value(const JsonValue* v) { return v != nullptr && !v->is_null(); }

// The columns and constants the rows call for, each in first-seen order.
struct Expected {
  std::vector<std::string_view> columns;
  std::vector<std::string_view> constants;
};

Expected classify(std::span<const JsonValue> rows) {
  std::vector<std::string_view> seen;
  std::unordered_map<std::string_view, bool> known;
  for (const JsonValue& row : rows) {
    for (const auto& m : row.as_object().entries()) {
      if (known.emplace(m.key->view(), true).second) seen.push_back(m.key->view());
    }
  }
  Expected want;
  for (std::string_view name : seen) {
    bool any_value = false;
    for (const JsonValue& row : rows) any_value = any_value || holds_value(member(row, name));
    if (!any_value) continue;
    const JsonValue* first = member(rows[0], name);
    bool constant = rows.size() >= 2 && holds_value(first);
    for (size_t r = 1; constant && r < rows.size(); ++r) {
      const JsonValue* v = member(rows[r], name);
      constant = v != nullptr && tamsel::fuzz::row_values_equal(*v, *first);
    }
    (constant ? want.constants : want.columns).push_back(name);
  }
  return want;
}

void check_output(std::span<const JsonValue> rows, std::string_view output, const Checker& check) {
  std::string wrapped = "[" + std::string(output) + "]";
  tamsel::json::ParseOutcome back = tamsel::json::parse_row_array(wrapped);
  if (!back.ok()) check.fail("output does not read back: " + tamsel::json::describe(back.error()));
  check.that(back.rows().rows().size() == 1 && back.rows().rows()[0].is_object(), "output is not one object");
  const JsonObject& document = back.rows().rows()[0].as_object();
  check.that(document.count() == 3 && document.keys[0]->view() == "columns" && document.keys[1]->view() == "rows" &&
                 document.keys[2]->view() == "constants",
             "output members are not columns, rows, constants");
  check.that(document.values[0].kind() == JsonKind::array && document.values[1].kind() == JsonKind::array &&
                 document.values[2].kind() == JsonKind::object,
             "output members have the wrong kinds");
  auto columns = document.values[0].as_array();
  auto out_rows = document.values[1].as_array();
  const JsonObject& constants = document.values[2].as_object();

  Expected want = classify(rows);
  check.that(columns.size() == want.columns.size(), "wrong number of columns");
  for (size_t c = 0; c < columns.size(); ++c) {
    check.that(columns[c].kind() == JsonKind::string && tamsel::json::string_content(columns[c]) == want.columns[c],
               "columns differ from the varying names in first-seen order");
  }
  check.that(constants.count() == want.constants.size(), "wrong number of constants");
  for (size_t k = 0; k < constants.count(); ++k) {
    check.that(constants.keys[k]->view() == want.constants[k],
               "constants differ from the constant names in first-seen order");
    if (!tamsel::fuzz::read_back_matches(*member(rows[0], want.constants[k]), constants.values[k])) {
      check.fail("constant is not row 0's value: " + tamsel::json::compact_text(constants.values[k]));
    }
  }

  check.that(out_rows.size() == rows.size(), "one row array per input row");
  for (size_t r = 0; r < rows.size(); ++r) {
    check.that(out_rows[r].kind() == JsonKind::array, "row entry is not an array");
    auto cells = out_rows[r].as_array();
    check.that(cells.size() == columns.size(), "row array length differs from the columns");
    for (size_t c = 0; c < cells.size(); ++c) {
      const JsonValue* original = member(rows[r], want.columns[c]);
      if (!holds_value(original)) {
        check.that(cells[c].is_null(), "absent or null member gives a non-null cell");
      } else if (!tamsel::fuzz::read_back_matches(*original, cells[c])) {
        check.fail("cell differs from the row's member: " + tamsel::json::compact_text(*original) + " became " +
                   tamsel::json::compact_text(cells[c]));
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Checker check(input);
  tamsel::TransformOutcome outcome = tamsel::columnarize_json(input);
  tamsel::json::ParseOutcome parsed = tamsel::json::parse_row_array(input);

  if (!parsed.ok()) {
    check.that(!outcome.ok(), "input the reader rejects was transformed");
    check_parse_failure_message(outcome.message(), parsed.error(), check);
    return 0;
  }
  std::span<const JsonValue> rows = parsed.rows().rows();
  for (const JsonValue& row : rows) {
    if (row.is_object()) continue;
    check.that(!outcome.ok(), "a non-object row was transformed");
    check.that(outcome.message() == std::string(kNotObject) + tamsel::json::compact_text(row),
               "row failure does not show the first non-object row: " + outcome.message());
    return 0;
  }
  if (!outcome.ok()) check.fail("rows of objects were refused: " + outcome.message());
  check_output(rows, outcome.output().view(), check);

  // Written into given memory, of a size the input picks, the bytes are the same.
  tamsel::Columnarizer columnarizer(input);
  check.that(!columnarizer.failure(), "the two-step transform refused what the transform took");
  const size_t n = outcome.output().size();
  const size_t given = size == 0 ? 1 : std::max<size_t>(1, n - 2 + data[0] % 5);
  std::vector<char> memory(given);
  tamsel::json::ByteBuffer lent(memory.data(), given);
  columnarizer.write(lent);
  check.that(lent.view() == outcome.output().view(), "output written into given memory differs");
  return 0;
}
