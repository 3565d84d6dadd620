#include "transform/row_survey.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tamsel {

namespace {

// Key ids a survey makes room for at once: most documents have fewer names.
constexpr size_t kFirstKeys = 4;

using json::JsonKey;
using json::JsonObject;
using json::JsonValue;
using json::NumberVariant;

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

}  // namespace

const uint32_t* ShapeColumns::find(const JsonObject& row) {
  // All bits of the address pick the set: arrays of names sit wherever the
  // arena put them, so a few low bits alone would often collide.
  const size_t set = (reinterpret_cast<uintptr_t>(row.keys) * 0x9E3779B97F4A7C15ULL) >> kSetShift;
  Entry* const ways = &cache_[2 * set];
  const uint32_t bit = uint32_t{1} << set;
  if ((filled_ & bit) == 0) {
    // A set not used before holds no shape: nothing to compare.
    for (size_t w = 0; w < 2; ++w) ways[w] = Entry{nullptr, nullptr, 0, 0};
    filled_ |= bit;
    refill_ = &ways[0];
    return nullptr;
  }
  if (ways[0].keys == row.keys && ways[0].size == row.size) return ways[0].columns;
  // The other way, or the one to refill: either way it is the one used last now.
  std::swap(ways[0], ways[1]);
  if (ways[0].keys == row.keys && ways[0].size == row.size) return ways[0].columns;
  refill_ = &ways[0];
  return nullptr;
}

uint32_t* ShapeColumns::remember(const JsonObject& row) {
  Entry& entry = *refill_;
  if (entry.capacity < row.size) {
    entry.columns = arena_.allocate_array<uint32_t>(row.size);
    entry.capacity = row.size;
  }
  entry.keys = row.keys;
  entry.size = row.size;
  return entry.columns;
}

// Counts `member`, of row `r`, into its column.
inline void RowSurvey::count(Column& column, const JsonValue& member, size_t r) {
  ++column.rows_present;
  column.has_value |= !member.is_null();
  if (column.may_be_constant) {
    if (r == 0 || row_values_equal(member, *column.first)) {
      ++column.rows_matching;
    } else {
      column.may_be_constant = false;
    }
  }
}

// Adds the column of the member `key` of row `r`, which has none yet.
inline uint32_t RowSurvey::add_column(const JsonKey* key, const JsonValue& value, size_t r) {
  if (key->id >= column_of_key_.size()) {
    column_of_key_.resize(std::max<size_t>(kFirstKeys, key->id + 1 + key->id / 2), kNoColumn);
  }
  const uint32_t c = static_cast<uint32_t>(columns_.size());
  column_of_key_[key->id] = c;
  const bool in_first_row = r == 0;
  columns_.push_back(Column{key, in_first_row ? &value : nullptr, 0, 0, false, in_first_row && !value.is_null()});
  return c;
}

void RowSurvey::row(size_t r, const JsonValue& value) {
  if (first_non_object_ != kNoRow) return;
  if (!value.is_object()) {
    first_non_object_ = r;
    return;
  }
  const JsonObject& row = value.as_object();
  if (const uint32_t* known = shapes_.find(row)) {
    // Held in locals: the counts stored on the way would otherwise have
    // the compiler read these again for every member.
    Column* const columns = columns_.data();
    const JsonValue* const values = row.values;
    const size_t size = row.size;
    for (size_t i = 0; i < size; ++i) count(columns[known[i]], values[i], r);
    return;
  }
  // A shape not met lately: its members' columns are looked up by name, and
  // counted on the way. The tables are held in locals, as above; they move
  // only when a column is added.
  uint32_t* fresh = shapes_.remember(row);
  const JsonKey* const* const keys = row.keys;
  const JsonValue* const values = row.values;
  const size_t size = row.size;
  const uint32_t* column_of_key = column_of_key_.data();
  size_t key_ids = column_of_key_.size();
  Column* columns = columns_.data();
  for (size_t i = 0; i < size; ++i) {
    const uint32_t id = keys[i]->id;
    uint32_t c = id < key_ids ? column_of_key[id] : kNoColumn;
    if (c == kNoColumn) [[unlikely]] {
      c = add_column(keys[i], values[i], r);
      column_of_key = column_of_key_.data();
      key_ids = column_of_key_.size();
      columns = columns_.data();
    }
    fresh[i] = c;
    count(columns[c], values[i], r);
  }
}

}  // namespace tamsel
