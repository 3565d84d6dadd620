// The look the transform takes at each row while the reader has it: which
// columns there are, in first-seen order, which hold any value, and which
// agree with row 0 in every row.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "json/arena.h"
#include "json/reader.h"
#include "json/value.h"

namespace tamsel {

inline constexpr uint32_t kNoColumn = std::numeric_limits<uint32_t>::max();

// What one pass over the rows learns about a column.
struct Column {
  const json::JsonKey* key;
  const json::JsonValue* first;  // row 0's value, when row 0 has the member
  uint64_t rows_matching;        // rows holding a value equal to `first`
  uint64_t rows_present;         // rows holding the member, null or not
  bool has_value;                // some row holds a non-null value
  bool may_be_constant;
};

// The bytes the column's member names took in the input, quotes and colon
// included: each row's member counted once, however often the row repeats
// the name.
inline size_t name_text_bytes(const Column& c) { return (c.key->size + 3) * c.rows_present; }

// Whether a column goes to "constants": two rows or more, all holding (not
// lacking) row 0's value.
inline bool goes_to_constants(const Column& c, size_t row_count) {
  return row_count >= 2 && c.may_be_constant && c.rows_matching == row_count;
}

// The column of each member position of a row, remembered per shape. Rows
// repeat a few shapes, so a small cache of recent ones answers most rows
// without looking any name up. Each address may sit in either of two
// entries, the one used last first: two shapes that rows alternate between
// then never push each other out, wherever the arena put their names. The
// lists live in the document's arena.
class ShapeColumns {
 public:
  struct Entry {
    const json::JsonKey* const* keys;
    uint32_t* columns;
    uint32_t size;
    uint32_t capacity;
  };

  explicit ShapeColumns(json::Arena& arena) : arena_(arena) {}

  // The columns of `row`'s members when its shape was met lately, else
  // null; then remember(row) gives the room where they are to be put.
  const uint32_t* find(const json::JsonObject& row);
  uint32_t* remember(const json::JsonObject& row);

 private:
  static constexpr size_t kSets = 8;
  static constexpr int kSetShift = 64 - std::countr_zero(kSets);
  json::Arena& arena_;
  // Which sets hold anything: the table itself is left as it is until a set
  // is first used, which costs a small document less than clearing it.
  uint32_t filled_ = 0;
  Entry cache_[2 * kSets];
  Entry* refill_ = nullptr;  // where the shape last missed goes
};

// Names are interned per document, so a name's column is found through its
// key's id; rows that share a shape (the same names in the same order) share
// one list of member columns. The tables live in the document's arena.
class RowSurvey final : public json::RowVisitor {
 public:
  explicit RowSurvey(json::Arena& arena) : column_of_key_(arena), columns_(arena), shapes_(arena) {}

  void row(size_t r, const json::JsonValue& value) override;

  static constexpr size_t kNoRow = SIZE_MAX;
  size_t first_non_object() const { return first_non_object_; }
  const json::ArenaArray<Column>& columns() const { return columns_; }
  // The column of each key id met in a row, or kNoColumn.
  const json::ArenaArray<uint32_t>& column_of_key() const { return column_of_key_; }

 private:
  uint32_t add_column(const json::JsonKey* key, const json::JsonValue& value, size_t r);
  void count(Column& column, const json::JsonValue& member, size_t r);

  json::ArenaArray<uint32_t> column_of_key_;
  json::ArenaArray<Column> columns_;
  ShapeColumns shapes_;
  size_t first_non_object_ = kNoRow;
};

}  // namespace tamsel
