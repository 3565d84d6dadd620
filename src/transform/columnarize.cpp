#include "transform/columnarize.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <span>
#include <string>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"

namespace tamsel {

namespace {

using json::JsonObject;
using json::JsonValue;

// `count` elements set to `value`, in the document's arena: the tables that
// writing needs live as long as the document and cost a small document no
// allocation of their own.
template <class T>
std::span<T> scratch_array(json::Arena& arena, size_t count, T value) {
  T* items = arena.allocate_array<T>(count);
  std::fill_n(items, count, value);
  return {items, count};
}

// The output's write position, held in locals while the rows are written.
// Any byte stored could be one of the buffer's own fields as far as the
// compiler knows, so each check for room through the buffer reads them all
// again; these copies stay in registers. The buffer is set to the position
// before anything else writes to it or reads its size.
class RowCursor {
 public:
  explicit RowCursor(json::ByteBuffer& out) : out_(out), at_(out.position()), limit_(out.room_limit()) {}

  // Room for `n` bytes at the position, which `advance_to` then moves.
  char* room(size_t n) {
    if (static_cast<size_t>(limit_ - at_) < n) [[unlikely]] {
      out_.settle(at_);
      at_ = out_.room(n);
      limit_ = out_.room_limit();
    }
    return at_;
  }
  void advance_to(char* p) { at_ = p; }
  size_t size() const { return static_cast<size_t>(at_ - out_.data()); }
  // A byte already written, by its offset (the buffer may have moved).
  char& byte_at(size_t offset) { return out_.data()[offset]; }

  // The buffer, set to the position, for a writer that goes through it;
  // `resume` takes the position back afterwards.
  json::ByteBuffer& settle() {
    out_.settle(at_);
    return out_;
  }
  void resume() {
    at_ = out_.position();
    limit_ = out_.room_limit();
  }

 private:
  json::ByteBuffer& out_;
  char* at_;
  char* limit_;
};

// Writes ',' and the cell `value`. Scalars, the most of any row, take one
// check for room for both; anything else goes through the buffer.
inline void write_cell(const JsonValue& value, RowCursor& at) {
  // Room for the comma and `n` bytes; returns where the value goes.
  auto after_comma = [&at](size_t n) {
    char* p = at.room(n + 1);
    p[0] = ',';
    return p + 1;
  };
  switch (value.kind()) {
    case json::JsonKind::null: {
      char* p = after_comma(4);
      std::memcpy(p, "null", 4);
      return at.advance_to(p + 4);
    }
    case json::JsonKind::boolean: {
      // "false" is stored whole, and "true" over its first four bytes.
      char* p = after_comma(5);
      std::memcpy(p, "false", 5);
      if (value.as_bool()) {
        std::memcpy(p, "true", 4);
        return at.advance_to(p + 4);
      }
      return at.advance_to(p + 5);
    }
    case json::JsonKind::number: {
      char* p = after_comma(json::kFloatRoom);  // the most any number takes
      switch (value.number_variant()) {
        case json::NumberVariant::unsigned_int: return at.advance_to(json::put_unsigned(value.as_unsigned(), p));
        case json::NumberVariant::negative_int: return at.advance_to(json::put_negative(value.as_negative(), p));
        default: return at.advance_to(json::put_float_value(value, p));
      }
    }
    case json::JsonKind::string:
      if (value.string_is_written_as_is()) {
        const size_t n = value.string_size();
        char* p = after_comma(n + 2);
        p[0] = '"';
        json::copy_bytes(p + 1, value.string_data(), n);
        p[n + 1] = '"';
        return at.advance_to(p + n + 2);
      }
      break;
    default: break;
  }
  at.advance_to(after_comma(0));
  json::write_compound(value, at.settle());
  at.resume();
}

// Writes runs of null cells from one prepared text, in 32-byte pieces that
// may run past the end of the run (the next write covers them), so a short
// run costs a few stores rather than a call; a long run is one call.
class NullRuns {
 public:
  NullRuns(uint32_t cells, json::Arena& arena) {
    if (cells <= kReadyCells) {
      text_ = kReadyText.data();
      return;
    }
    // A few nulls one by one, then the text doubles by copying itself: a
    // wide document's text takes a handful of copies, not one per cell.
    const size_t bytes = 5 * size_t{cells};
    char* text = arena.allocate_array<char>(bytes + kPiece);
    for (size_t i = 0; i < 8; ++i) std::memcpy(text + 5 * i, ",null", 5);
    for (size_t done = 5 * 8; done < bytes; done *= 2) std::memcpy(text + done, text, std::min(done, bytes - done));
    std::memset(text + bytes, 0, kPiece);  // read past a run, never kept
    text_ = text;
  }

  // The nulls of cells [from, to), each after a comma; from < to.
  void write(uint32_t from, uint32_t to, RowCursor& out) const {
    copy(text_, 5 * static_cast<size_t>(to - from), out);
  }

  // Documents of up to this many cells share one text made at compile time;
  // it and any other text reach at least two pieces past their start.
  static constexpr size_t kReadyCells = 64;

 private:
  static constexpr size_t kPiece = 32;
  // Past this many bytes a call to memcpy, which moves wider pieces and
  // unrolls, costs fewer instructions than stores of pieces.
  static constexpr size_t kLongRunBytes = 4 * kPiece;

  // Two pieces are stored whatever the run's length: most runs fit them.
  // A run of up to four pieces takes the last two pieces' worth of its own
  // bytes (overlapping the first two); a longer run is one call.
  static void copy(const char* source, size_t n, RowCursor& out) {
    char* target = out.room(n + 2 * kPiece);
    std::memcpy(target, source, kPiece);
    std::memcpy(target + kPiece, source + kPiece, kPiece);
    if (n > 2 * kPiece) [[unlikely]] {
      if (n > kLongRunBytes) {
        std::memcpy(target, source, n);
      } else {
        std::memcpy(target + n - 2 * kPiece, source + n - 2 * kPiece, kPiece);
        std::memcpy(target + n - kPiece, source + n - kPiece, kPiece);
      }
    }
    out.advance_to(target + n);
  }

  static constexpr std::array<char, 5 * kReadyCells + kPiece> kReadyText = [] {
    std::array<char, 5 * kReadyCells + kPiece> text{};  // zeros past the nulls
    for (size_t i = 0; i < kReadyCells; ++i) {
      for (size_t j = 0; j < 5; ++j) text[5 * i + j] = ",null"[j];
    }
    return text;
  }();
  const char* text_;
};

// Gives back the payload behind the rows written, following a
// PayloadRelease. A row's values point into its own text or into the arena,
// never into another row's text, and member names are copied out of the
// payload before anything is given back; so once row r is written, the
// bytes before any of its strings are needed no more, except row 0's.
class PayloadReleaser {
 public:
  PayloadReleaser(const PayloadRelease* policy, std::string_view payload, json::JsonDocument& document) {
    if (policy == nullptr || payload.empty() || policy->payload != payload.data()) return;
    policy_ = policy;
    begin_ = payload.data();
    end_ = payload.data() + payload.size();
    document.copy_names_from(begin_, end_);
    next_check_ = 0;
  }

  // Row r has been written and the output holds `written` bytes.
  void row_written(size_t r, const JsonObject& row, size_t written) {
    if (written >= next_check_) [[unlikely]] check(r, row, written);
  }

 private:
  // Rows with no string of their own are passed by until one has.
  static constexpr size_t kRetryBytes = 4096;

  void check(size_t r, const JsonObject& row, size_t written) {
    if (r == 0) return;
    const char* bound = first_string_in_payload(row);
    if (bound == nullptr) {
      next_check_ = written + kRetryBytes;
      return;
    }
    // Checked again once the output has grown by a part of a step: the
    // payload goes by a little faster than the output grows.
    next_check_ = written + policy_->step / 4;
    const uintptr_t mask = policy_->alignment - 1;
    const uintptr_t at = reinterpret_cast<uintptr_t>(bound);
    if (released_ == 0) {
      // Row r starts past the end of row 0: everything from here on may go.
      released_ = (at + mask) & ~mask;
      return;
    }
    const uintptr_t up_to = at & ~mask;
    if (up_to <= released_ || up_to - released_ < policy_->step) return;
    policy_->give_back(reinterpret_cast<const char*>(released_), up_to - released_);
    released_ = up_to;
  }

  const char* first_string_in_payload(const JsonObject& row) const {
    for (size_t i = 0; i < row.size; ++i) {
      const JsonValue& v = row.values[i];
      if (v.kind() == json::JsonKind::string && v.string_data() >= begin_ && v.string_data() < end_) {
        return v.string_data();
      }
    }
    return nullptr;
  }

  const PayloadRelease* policy_ = nullptr;
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  size_t next_check_ = SIZE_MAX;
  uintptr_t released_ = 0;  // given back up to here; 0 until row 0's end is known
};

// Writes the cells whose bits are set in `bits` (bit i standing for cell
// first + i), each after the nulls of the cells it follows; `next` is the
// first cell not yet written, and is moved past them.
inline void write_present_cells(uint64_t bits, uint32_t first, uint32_t& next, const JsonValue* const* cells,
                                const NullRuns& nulls, RowCursor& out) {
  for (; bits != 0; bits &= bits - 1) {
    const uint32_t cell = first + static_cast<uint32_t>(std::countr_zero(bits));
    if (cell != next) nulls.write(next, cell, out);
    write_cell(*cells[cell], out);
    next = cell + 1;
  }
}

// Bitmap words a row's present cells take on the stack rather than in the arena.
constexpr size_t kStackBitmapWords = 4;

}  // namespace

Columnarizer::Columnarizer(std::string_view payload)
    : document_(arena_block_, sizeof arena_block_, json::document_chunk_bytes(payload.size())),
      rows_seen_(document_.arena()),
      payload_(payload) {
  parsed_.emplace(json::parse_row_array(payload, rows_seen_, document_));
  const json::ParseOutcome& parsed = *parsed_;
  if (!parsed.ok()) {
    failure_ = "invalid row-oriented JSON: " + json::describe(parsed.error());
    return;
  }
  if (rows_seen_.first_non_object() != RowSurvey::kNoRow) {
    failure_ = "expected a JSON object row, got: " +
               json::compact_text(parsed.rows().rows()[rows_seen_.first_non_object()]);
    return;
  }
  expected_output_size_ = estimate_output_size();
}

Columnarizer::~Columnarizer() = default;

size_t Columnarizer::estimate_output_size() const {
  // Values are written much as they were read: the payload less its member
  // names, plus brackets for each row and a null for each cell a row lacks.
  const RowSurvey& seen = rows_seen_;
  const size_t rows = parsed_->rows().rows().size();
  const size_t payload_size = payload_.size();
  // One pass over the columns: a wide document has more columns than rows.
  size_t names = 0;
  size_t expected = 64 + 3 * rows;
  for (const Column& c : seen.columns()) {
    names += name_text_bytes(c);
    expected += 2 * (c.key->size + 3);
    if (c.has_value && !goes_to_constants(c, rows)) expected += 5 * (rows - c.rows_present);
  }
  expected += payload_size - std::min(payload_size, names);
  return expected;
}

void Columnarizer::write(json::ByteBuffer& out, const PayloadRelease* release) const {
  const RowSurvey& survey = rows_seen_;
  std::span<const JsonValue> rows = parsed_->rows().rows();
  const json::ArenaArray<Column>& columns = survey.columns();
  json::JsonDocument& document = parsed_->rows().document();
  json::Arena& arena = document.arena();
  PayloadReleaser releaser(release, payload_, document);
  // The cell of each key id that names a column, or kNoColumn: a row's
  // members find their cells with one look each. Only the ids of columns
  // are set, as they are all that rows hold; the header sets them.
  const size_t key_ids = survey.column_of_key().size();
  uint32_t* const cell_of_key = arena.allocate_array<uint32_t>(key_ids);
  uint32_t cell_count = 0;

  out.reserve(expected_output_size_);
  out.append(R"({"columns":[)");
  for (const Column& column : columns) {
    if (!column.has_value || goes_to_constants(column, rows.size())) {
      cell_of_key[column.key->id] = kNoColumn;
      continue;
    }
    if (cell_count != 0) out.push(',');
    cell_of_key[column.key->id] = cell_count++;
    json::write_key(*column.key, out);
  }
  out.append(R"(],"rows":[)");
  // Each row array: the row's own cells in column order, and between them
  // runs of nulls (sparse rows are mostly nulls).
  NullRuns nulls(cell_count, arena);
  // A row's cells by column position, and a bitmap of which are present:
  // walking the set bits gives them in order, nulls being the gaps.
  // A cell is read only where its bit is set, after it is stored: no filling.
  // The bitmap of a document of a few hundred cells sits on the stack.
  std::span<const JsonValue*> cells(arena.allocate_array<const JsonValue*>(cell_count), cell_count);
  uint64_t present_here[kStackBitmapWords] = {};
  const size_t words = (size_t{cell_count} + 63) / 64;
  std::span<uint64_t> present = words <= kStackBitmapWords
                                    ? std::span<uint64_t>(present_here, words)
                                    : scratch_array<uint64_t>(arena, words, 0);
  RowCursor at(out);
  for (size_t r = 0; r < rows.size(); ++r) {
    // Every cell, null or not, is written after a comma, which is cheaper
    // than asking whether it is the first: the row's first comma becomes
    // its "[" once the row is written. Row 0 has no comma ahead of it.
    {
      char* open = at.room(1);
      open[0] = ',';
      at.advance_to(open + (r == 0 ? 0 : 1));
    }
    const size_t row_start = at.size();
    const JsonObject& row = rows[r].as_object();
    // In locals: the compiler would read the row's fields again after each
    // store of a cell, as it cannot tell them apart.
    const json::JsonKey* const* const keys = row.keys;
    const JsonValue* const values = row.values;
    const size_t size = row.size;
    uint32_t next = 0;
    if (present.size() <= 1) {
      // Up to 64 cells: the bitmap is one word held in a register, where
      // the output's stores cannot make the compiler read it again.
      uint64_t bits = 0;
      for (size_t i = 0; i < size; ++i) {
        uint32_t cell = cell_of_key[keys[i]->id];
        if (cell == kNoColumn) continue;
        cells[cell] = &values[i];
        bits |= uint64_t{1} << cell;
      }
      write_present_cells(bits, 0, next, cells.data(), nulls, at);
    } else {
      for (size_t i = 0; i < size; ++i) {
        uint32_t cell = cell_of_key[keys[i]->id];
        if (cell == kNoColumn) continue;
        cells[cell] = &values[i];
        present[cell >> 6] |= uint64_t{1} << (cell & 63);
      }
      for (size_t word = 0; word < present.size(); ++word) {
        write_present_cells(present[word], static_cast<uint32_t>(word * 64), next, cells.data(), nulls, at);
        present[word] = 0;
      }
    }
    if (next != cell_count) nulls.write(next, cell_count, at);
    // A row of no cells (when no column has any) is "[]".
    char* close = at.room(2);
    close[0] = '[';
    close += cell_count == 0 ? 1 : 0;
    close[0] = ']';
    at.advance_to(close + 1);
    at.byte_at(row_start) = '[';
    releaser.row_written(r, row, at.size());
  }
  at.settle();
  out.append(R"(],"constants":{)");
  bool first = true;
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
