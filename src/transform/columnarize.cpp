#include "transform/columnarize.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"

namespace tamsel {

namespace {

using json::JsonKey;
using json::JsonObject;
using json::JsonValue;
using json::NumberVariant;

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// Whether the double `d` is exactly the integer held by `integer`.
bool float_equals_integer(double d, const JsonValue& integer) {
  if (d != std::trunc(d)) return false;  // fractional, or NaN
  if (integer.number_variant() == NumberVariant::unsigned_int) {
    // 18446744073709551616.0 is 2^64, the first double past the range.
    return d >= 0.0 && d < 18446744073709551616.0 && static_cast<uint64_t>(d) == integer.as_unsigned();
  }
  return d >= -9223372036854775808.0 && d < 0.0 && static_cast<int64_t>(d) == integer.as_negative();
}

// Two numbers that are whole row values are equal when they have the same
// mathematical value, whatever their variants: 1 equals 1.0 and 0 equals
// -0.0, but two different integers never compare equal, however large.
bool numbers_same_value(const JsonValue& a, const JsonValue& b) {
  NumberVariant va = a.number_variant();
  NumberVariant vb = b.number_variant();
  if (va == vb) {
    if (va == NumberVariant::floating) return a.as_double() == b.as_double();
    return a.as_unsigned() == b.as_unsigned();
  }
  if (va == NumberVariant::floating) return float_equals_integer(a.as_double(), b);
  if (vb == NumberVariant::floating) return float_equals_integer(b.as_double(), a);
  return false;  // a negative integer never equals an unsigned one
}

bool row_values_equal(const JsonValue& a, const JsonValue& b) {
  if (a.kind() == json::JsonKind::number && b.kind() == json::JsonKind::number) {
    return numbers_same_value(a, b);
  }
  return json::values_equal(a, b);
}

// What one pass over the rows learns about a column.
struct Column {
  const JsonKey* key;
  const JsonValue* first;  // row 0's value, when row 0 has the member
  uint64_t rows_matching;  // rows holding a value equal to `first`
  uint64_t rows_present;   // rows holding the member, null or not
  bool has_value;          // some row holds a non-null value
  bool may_be_constant;
};

// Whether a column goes to "constants": two rows or more, all holding (not
// lacking) row 0's value.
bool goes_to_constants(const Column& c, size_t row_count) {
  return row_count >= 2 && c.may_be_constant && c.rows_matching == row_count;
}

// The column of each member position of a row, remembered per shape. Rows
// repeat a few shapes, so a small cache of recent ones answers most rows
// without looking any name up.
class ShapeColumns {
 public:
  struct Entry {
    const JsonKey* const* keys = nullptr;
    std::vector<uint32_t> columns;
    size_t name_text_bytes = 0;  // the names as read: quotes and colon included
  };

  template <class ColumnOfMember>
  const Entry& columns_of(const JsonObject& row, ColumnOfMember&& column_of_member) {
    // All bits of the address pick the entry: arrays of names sit wherever
    // the arena put them, so a few low bits alone would often collide.
    Entry& entry = cache_[(reinterpret_cast<uintptr_t>(row.keys) * 0x9E3779B97F4A7C15ULL) >> kEntryShift];
    if (entry.keys != row.keys || entry.columns.size() != row.size) {
      entry.keys = row.keys;
      entry.columns.resize(row.size);
      entry.name_text_bytes = 0;
      for (size_t i = 0; i < row.size; ++i) {
        entry.columns[i] = column_of_member(row.keys[i], row.values[i]);
        entry.name_text_bytes += row.keys[i]->size + 3;
      }
    }
    return entry;
  }

 private:
  static constexpr size_t kEntries = 16;
  static constexpr int kEntryShift = 64 - std::countr_zero(kEntries);
  Entry cache_[kEntries];
};

// What one look at each row, as soon as the reader has it, learns: the
// columns in first-seen order, which of them hold any value, and which still
// agree with row 0 in every row so far. Names are interned per document, so
// a name's column is found through its key's id; rows that share a shape (the
// same names in the same order) share one list of member columns.
class RowSurvey final : public json::RowVisitor {
 public:
  // Room for the columns of a usual document, so that few need to grow.
  RowSurvey() : column_of_key_(16, kNone) { columns_.reserve(16); }

  void row(size_t r, const JsonValue& value) override {
    if (first_non_object_ != kNoRow) return;
    if (!value.is_object()) {
      first_non_object_ = r;
      return;
    }
    const JsonObject& row = value.as_object();
    const ShapeColumns::Entry& shape = columns_of(row, r);
    name_text_bytes_ += shape.name_text_bytes;
    const uint32_t* row_columns = shape.columns.data();
    for (size_t i = 0; i < row.size; ++i) {
      Column& column = columns_[row_columns[i]];
      ++column.rows_present;
      const JsonValue& member = row.values[i];
      if (!member.is_null()) column.has_value = true;
      if (column.may_be_constant) {
        if (r == 0 || row_values_equal(member, *column.first)) {
          ++column.rows_matching;
        } else {
          column.may_be_constant = false;
        }
      }
    }
  }

  static constexpr size_t kNoRow = SIZE_MAX;
  size_t first_non_object() const { return first_non_object_; }
  const std::vector<Column>& columns() const { return columns_; }
  // The column of each key id met in a row, or kNone.
  const std::vector<uint32_t>& column_of_key() const { return column_of_key_; }
  // The bytes the rows' member names took in the input.
  size_t name_text_bytes() const { return name_text_bytes_; }

 private:
  // The column of each member of `row`, in member order; `r` is its index.
  const ShapeColumns::Entry& columns_of(const JsonObject& row, size_t r) {
    return shapes_.columns_of(row, [&](const JsonKey* key, const JsonValue& value) {
      if (key->id >= column_of_key_.size()) column_of_key_.resize(key->id + 1 + key->id / 2, kNone);
      uint32_t& slot = column_of_key_[key->id];
      if (slot == kNone) {
        slot = static_cast<uint32_t>(columns_.size());
        bool in_first_row = r == 0;
        columns_.push_back(
            Column{key, in_first_row ? &value : nullptr, 0, 0, false, in_first_row && !value.is_null()});
      }
      return slot;
    });
  }

  std::vector<uint32_t> column_of_key_;
  std::vector<Column> columns_;
  ShapeColumns shapes_;
  size_t first_non_object_ = kNoRow;
  size_t name_text_bytes_ = 0;
};

// `count` elements set to `value`, in the document's arena: the tables that
// writing needs live as long as the document and cost a small document no
// allocation of their own.
template <class T>
std::span<T> scratch_array(json::Arena& arena, size_t count, T value) {
  T* items = arena.allocate_array<T>(count);
  std::fill_n(items, count, value);
  return {items, count};
}

// Writes runs of null cells from one prepared text, in 32-byte pieces that
// may run past the end of the run (the next write covers them), so a short
// run costs a store or two rather than a call.
class NullRuns {
 public:
  NullRuns(uint32_t cells, json::Arena& arena) : text_(scratch_array<char>(arena, 5 * size_t{cells} + kPiece, '\0')) {
    for (uint32_t i = 0; i < cells; ++i) std::memcpy(text_.data() + 5 * static_cast<size_t>(i), ",null", 5);
  }

  // The nulls of cells [from, to); no comma before cell 0.
  void write(uint32_t from, uint32_t to, json::ByteBuffer& out) const {
    if (from == to) return;
    const size_t skip = from == 0 ? 1 : 0;
    const size_t n = 5 * static_cast<size_t>(to - from) - skip;
    const char* source = text_.data() + skip;
    char* target = out.room(n + kPiece);
    for (size_t done = 0; done < n; done += kPiece) std::memcpy(target + done, source + done, kPiece);
    out.advance(n);
  }

 private:
  static constexpr size_t kPiece = 32;
  std::span<char> text_;
};

}  // namespace

// What reading and surveying the payload left for writing.
struct Columnarizer::Survey {
  RowSurvey rows_seen;
  std::optional<json::ParseOutcome> parsed;
  size_t payload_size = 0;
};

Columnarizer::Columnarizer(std::string_view payload) : survey_(std::make_unique<Survey>()) {
  survey_->payload_size = payload.size();
  survey_->parsed.emplace(json::parse_row_array(payload, survey_->rows_seen));
  const json::ParseOutcome& parsed = *survey_->parsed;
  if (!parsed.ok()) {
    failure_ = "invalid row-oriented JSON: " + json::describe(parsed.error());
    return;
  }
  if (survey_->rows_seen.first_non_object() != RowSurvey::kNoRow) {
    failure_ = "expected a JSON object row, got: " +
               json::compact_text(parsed.rows().rows()[survey_->rows_seen.first_non_object()]);
  }
}

Columnarizer::~Columnarizer() = default;

size_t Columnarizer::expected_output_size() const {
  // Values are written much as they were read: the payload less its member
  // names, plus brackets for each row and a null for each cell a row lacks.
  const RowSurvey& seen = survey_->rows_seen;
  const size_t rows = survey_->parsed->rows().rows().size();
  size_t expected = 64 + survey_->payload_size - std::min(survey_->payload_size, seen.name_text_bytes()) + 3 * rows;
  for (const Column& c : seen.columns()) {
    expected += 2 * (c.key->size + 3);
    if (c.has_value && !goes_to_constants(c, rows)) expected += 5 * (rows - c.rows_present);
  }
  return expected;
}

void Columnarizer::write(json::ByteBuffer& out) const {
  const RowSurvey& survey = survey_->rows_seen;
  std::span<const JsonValue> rows = survey_->parsed->rows().rows();
  const std::vector<Column>& columns = survey.columns();
  // Position of each varying column in the row arrays.
  json::Arena& arena = survey_->parsed->rows().document().arena();
  std::span<uint32_t> cell_of_column = scratch_array(arena, columns.size(), kNone);
  uint32_t cell_count = 0;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].has_value && !goes_to_constants(columns[c], rows.size())) cell_of_column[c] = cell_count++;
  }

  out.reserve(expected_output_size());
  out.append(R"({"columns":[)");
  bool first = true;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (cell_of_column[c] == kNone) continue;
    const Column& column = columns[c];
    if (!first) out.push(',');
    first = false;
    json::write_key(*column.key, out);
  }
  out.append(R"(],"rows":[)");
  // Each row array: the row's own cells in column order, and between them
  // runs of nulls (sparse rows are mostly nulls).
  NullRuns nulls(cell_count, arena);
  // The cell of each key id, or kNone: a row's members find their cells
  // with one look each.
  std::span<uint32_t> cell_of_key = scratch_array(arena, survey.column_of_key().size(), kNone);
  for (size_t id = 0; id < cell_of_key.size(); ++id) {
    uint32_t column = survey.column_of_key()[id];
    if (column != kNone) cell_of_key[id] = cell_of_column[column];
  }
  // A row's cells by column position, and a bitmap of which are present:
  // walking the set bits gives them in order, nulls being the gaps.
  std::span<const JsonValue*> cells = scratch_array<const JsonValue*>(arena, cell_count, nullptr);
  std::span<uint64_t> present = scratch_array<uint64_t>(arena, (size_t{cell_count} + 63) / 64, 0);
  for (size_t r = 0; r < rows.size(); ++r) {
    out.append(r == 0 ? "[" : ",[", r == 0 ? 1 : 2);
    const JsonObject& row = rows[r].as_object();
    for (size_t i = 0; i < row.size; ++i) {
      uint32_t cell = cell_of_key[row.keys[i]->id];
      if (cell == kNone) continue;
      cells[cell] = &row.values[i];
      present[cell >> 6] |= uint64_t{1} << (cell & 63);
    }
    uint32_t next = 0;
    for (size_t word = 0; word < present.size(); ++word) {
      for (uint64_t bits = present[word]; bits != 0; bits &= bits - 1) {
        uint32_t cell = static_cast<uint32_t>(word * 64 + static_cast<size_t>(std::countr_zero(bits)));
        nulls.write(next, cell, out);
        if (cell != 0) out.push(',');
        json::write_compact(*cells[cell], out);
        next = cell + 1;
      }
      present[word] = 0;
    }
    nulls.write(next, cell_count, out);
    out.push(']');
  }
  out.append(R"(],"constants":{)");
  first = true;
  for (const Column& column : columns) {
    if (!column.has_value || !goes_to_constants(column, rows.size())) continue;
    if (!first) out.push(',');
    first = false;
    json::write_key(*column.key, out);
    out.push(':');
    json::write_compact(*column.first, out);
  }
  out.append("}}");
}

TransformOutcome columnarize_json(std::string_view payload) {
  Columnarizer columnarizer(payload);
  if (columnarizer.failure()) return TransformOutcome::failure(*columnarizer.failure());
  json::ByteBuffer out;
  columnarizer.write(out);
  return TransformOutcome::success(std::move(out));
}

}  // namespace tamsel
