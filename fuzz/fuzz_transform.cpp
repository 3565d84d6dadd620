// Fuzzes the columnar transform. A failure must carry one of the two message
// forms and agree with what the reader says about the input; a success must
// be, byte for byte, the output that the column rules restated here and the
// reference text give for the rows the reader read, and be written again
// unchanged when read back.
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

// A row's member by a plain scan of its names (not the library's lookup).
const JsonValue* member(const JsonValue& row, std::string_view name) {
  const JsonObject& object = row.as_object();
  for (size_t i = 0; i < object.count(); ++i) {
    if (object.keys[i]->view() == name) return &object.values[i];
  }
  return nullptr;
}

bool holds_value(const JsonValue* v) { return v != nullptr && !v->is_null(); }

// The output the rows call for, written from the column rules restated:
// names in first-seen order; a name null or absent in every row is dropped;
// with two rows or more, a name whose every row holds a value equal to row
// 0's (numbers by mathematical value, all else kind by kind) is a constant
// holding row 0's value; every other name is a column, and each row gives its
// own value for it, or null.
std::string expected_output(std::span<const JsonValue> rows) {
  std::vector<std::string_view> seen;
  std::unordered_map<std::string_view, bool> known;
  for (const JsonValue& row : rows) {
    for (const auto& m : row.as_object().entries()) {
      if (known.emplace(m.key->view(), true).second) seen.push_back(m.key->view());
    }
  }
  std::vector<std::string_view> columns;
  std::string constants;
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
    if (!constant) {
      columns.push_back(name);
      continue;
    }
    if (!constants.empty()) constants += ',';
    constants += tamsel::reference::string_text(name) + ":" + tamsel::fuzz::reference_text(*first);
  }
  std::string out = "{\"columns\":[";
  for (size_t c = 0; c < columns.size(); ++c) out += (c ? "," : "") + tamsel::reference::string_text(columns[c]);
  out += "],\"rows\":[";
  for (size_t r = 0; r < rows.size(); ++r) {
    out += r ? ",[" : "[";
    for (size_t c = 0; c < columns.size(); ++c) {
      const JsonValue* v = member(rows[r], columns[c]);
      out += (c ? "," : "") + (v ? tamsel::fuzz::reference_text(*v) : std::string("null"));
    }
    out += "]";
  }
  return out + "],\"constants\":{" + constants + "}}";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return tamsel::fuzz::check_forced_kernel(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Checker check(input);
  tamsel::TransformOutcome outcome = tamsel::columnarize_json(input);
  tamsel::json::ParseOutcome parsed = tamsel::fuzz::read_document(input);

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
  const std::string want = expected_output(rows);
  if (outcome.output().view() != want) {
    check.fail("output differs from the restated rules:\n    got  " + std::string(outcome.output().view()) +
               "\n    want " + want);
  }
  tamsel::fuzz::check_fixed_point(outcome.output().view(), check);

  // Written into given memory, of a size the input picks, the bytes are the same.
  tamsel::Columnarizer columnarizer(input);
  check.that(!columnarizer.failure(), "the two-step transform refused what the transform took");
  const size_t n = want.size();
  const size_t given = size == 0 ? 1 : std::max<size_t>(1, n - 2 + data[0] % 5);
  std::vector<char> memory(given);
  tamsel::json::ByteBuffer lent(memory.data(), given);
  columnarizer.write(lent);
  check.that(lent.view() == want, "output written into given memory differs from the restated rules");
  return 0;
}
