// The structural reader: the top level, values, arrays, objects and their
// member names. It hands numbers to read_number.h and strings to
// read_string.h, which move the same cursor; a failure is recorded there as
// a kind (reader_errors.h) and turned into a JsonError only at the end.
#include "json/reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "json/read_cursor.h"
#include "json/read_number.h"
#include "json/read_string.h"
#include "json/reader_errors.h"

namespace tamsel::json {

namespace {

constexpr int kMaxDepth = 128;

class Reader {
 public:
  Reader(std::string_view input, JsonDocument& document)
      : in_(input), doc_(document), recent_key_bits_(recent_key_bits_for(input.size())) {
    std::fill_n(recent_keys_, size_t{1} << recent_key_bits_, nullptr);
    // A small document's values fit the stacks' own room; a large one's
    // first growth steps are skipped, as each step is a copy.
    if (input.size() > kSmallInput) {
      values_.reserve(std::clamp<size_t>(input.size() / 4, 16, 4096));
      names_.reserve(std::clamp<size_t>(input.size() / 8, 16, 1024));
    }
  }

  // Reads the whole input; on success the element stack holds the elements.
  bool read_document(RowVisitor* visitor);
  // After a successful read: the elements, in the document's arena or in
  // `storage`.
  std::span<const JsonValue> take_rows(StackStorage<JsonValue>& storage);

  JsonError error() const;

 private:
  static JsonValue absent(bool failed) { return ReadCursor::absent(failed); }

  // Values come back in registers; a failure gives JsonValue::absent().
  JsonValue read_value();
  bool read_element_list(RowVisitor* visitor);
  bool read_elements(JsonValue*& items, size_t& count);
  JsonValue read_array();
  JsonValue read_object();
  JsonObject* finish_object(size_t base);
  bool read_literal(const char* word, size_t length);
  bool read_key(size_t position, const JsonKey*& key);
  [[gnu::always_inline]] bool key_matches_here(const JsonKey& key) const;
  bool read_top_level_value();

  ReadCursor in_;
  JsonDocument& doc_;
  int depth_ = kMaxDepth;
  static constexpr size_t kSmallInput = 4 * 1024;
  ValueStack<JsonValue, 64> values_;      // elements and member values being read
  ValueStack<const JsonKey*, 32> names_;  // member names of the objects being read
  ScratchText scratch_;                // content of a string with escapes
  // What the reader remembers about each nesting level. Only the levels a
  // document reaches are set up, when first reached: levels are entered one
  // at a time, so those below `fresh_depth_` have never been used, and
  // setting up the whole table would cost a small document more than reading
  // it.
  struct Shape {
    const JsonKey* const* keys;
    size_t size;
  };
  static constexpr size_t kShapeWays = 8;
  struct Level {
    // Shapes met recently at this level, found by their size and end names:
    // an object with the same names in the same order shares the array.
    Shape shapes[kShapeWays];
    // The key met last at each member position: objects of one level
    // usually repeat their names in order, so most keys are found by
    // comparing the input with this guess instead of scanning and hashing.
    // Kept in the document's arena, which outlives the read.
    const JsonKey** guesses;
    size_t guess_count;
    size_t guess_capacity;
  };
  Level levels_[kMaxDepth + 1];  // set up from fresh_depth_ up only
  int fresh_depth_ = kMaxDepth + 1;
  void set_up_levels_down_to(int depth);
  void add_guess(Level& level, const JsonKey* key);
  // When the guess fails (rows that hold different subsets of many names),
  // names met before are found by their first bytes in this small table,
  // again without scanning or hashing the whole name. It is sized to the
  // input, as a small document has few names.
  static constexpr unsigned kMaxRecentKeyBits = 9;
  static constexpr unsigned kMinRecentKeyBits = 4;
  static unsigned recent_key_bits_for(size_t input_size);
  const unsigned recent_key_bits_;
  const JsonKey* recent_keys_[size_t{1} << kMaxRecentKeyBits];  // the first 1 << recent_key_bits_ in use
  const JsonKey** recent_key_slot();
  const JsonKey* const* find_shape(const JsonKey* const* names, size_t count, Shape*& slot);
};

// ---------------------------------------------------------------- the top level

JsonError Reader::error() const {
  return locate_failure(std::string_view(in_.begin, static_cast<size_t>(in_.end - in_.begin)),
                        in_.failure_offset, in_.failure, in_.failure_detail);
}

bool Reader::read_document(RowVisitor* visitor) {
  in_.skip_space();
  if (in_.p == in_.end) return in_.fail_eof(ReadFailure::eof_in_value);
  if (*in_.p != '[') return read_top_level_value();
  depth_ = kMaxDepth - 1;
  ++in_.p;
  if (!read_element_list(visitor)) return false;
  in_.skip_space();
  if (in_.p != in_.end) return in_.fail_at(ReadFailure::trailing_characters, in_.p);
  return true;
}

std::span<const JsonValue> Reader::take_rows(StackStorage<JsonValue>& storage) {
  // The rows are the whole element stack now: hand its heap storage over as
  // it is, or copy the few rows held in the stack's own room.
  const size_t count = values_.size();
  if (!values_.is_inline()) {
    storage = values_.release_heap();
    return {storage.get(), count};
  }
  JsonValue* rows = doc_.arena().allocate_array<JsonValue>(count);
  if (count != 0) std::memcpy(static_cast<void*>(rows), values_.data(), count * sizeof(JsonValue));
  return {rows, count};
}

// The top-level value is not an array: reads it far enough to describe it
// (an object's brace is not consumed) and fails with that description, or
// with the failure met on the way.
bool Reader::read_top_level_value() {
  JsonValue value;
  const char c = *in_.p;
  if (c == '{') {
    value = JsonValue::make_object_ref(nullptr);  // described by its kind alone
  } else if (c == '"') {
    ++in_.p;
    StringPiece s;
    if (!read_string(in_, scratch_, s)) return false;
    value = JsonValue::make_string_ref(s.data, s.size, s.plain);
  } else if (c == '-' || is_digit(c)) {
    value = read_number(in_);
    if (value.is_absent()) return false;
  } else if (c == 'n') {
    if (!read_literal("null", 4)) return false;
  } else if (c == 't') {
    if (!read_literal("true", 4)) return false;
    value = JsonValue::make_bool(true);
  } else if (c == 'f') {
    if (!read_literal("false", 5)) return false;
    value = JsonValue::make_bool(false);
  } else {
    return in_.fail_at(ReadFailure::expected_value, in_.p);
  }
  in_.failure_detail = describe_top_level_value(value);
  return in_.fail_here(ReadFailure::invalid_type);
}


// ---------------------------------------------------------------- values, arrays and objects

JsonValue Reader::read_value() {
  in_.skip_space();
  if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_value));
  switch (*in_.p) {
    case '"': ++in_.p; return read_string_value(in_, scratch_, doc_.arena());
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': return read_number(in_);
    case 'n': return read_literal("null", 4) ? JsonValue::make_null() : JsonValue::absent();
    case 't': return read_literal("true", 4) ? JsonValue::make_bool(true) : JsonValue::absent();
    case 'f': return read_literal("false", 5) ? JsonValue::make_bool(false) : JsonValue::absent();
    case '[': return read_array();
    case '{': return read_object();
    default: return absent(in_.fail_at(ReadFailure::expected_value, in_.p));
  }
}

bool Reader::read_literal(const char* word, size_t length) {
  ++in_.p;  // the first letter was matched by the caller
  for (size_t i = 1; i < length; ++i) {
    if (in_.p == in_.end) return in_.fail_eof(ReadFailure::eof_in_value);
    if (*in_.p != word[i]) return in_.fail_at(ReadFailure::expected_ident, in_.p);
    ++in_.p;
  }
  return true;
}

// After the opening bracket: pushes the elements onto the element stack and
// consumes the closing bracket. A visitor sees each element once read.
bool Reader::read_element_list(RowVisitor* visitor) {
  const size_t base = values_.size();
  in_.skip_space();
  if (in_.p == in_.end) return in_.fail_eof(ReadFailure::eof_in_list);
  if (*in_.p != ']') {
    for (;;) {
      JsonValue v = read_value();
      if (v.is_absent()) return false;
      values_.push_back(v);
      if (visitor != nullptr) visitor->row(values_.size() - 1 - base, v);
      in_.skip_space();
      if (in_.p == in_.end) return in_.fail_eof(ReadFailure::eof_in_list);
      if (*in_.p == ']') break;
      if (*in_.p != ',') return in_.fail_at(ReadFailure::expected_comma_or_bracket, in_.p);
      ++in_.p;
      in_.skip_space();
      if (in_.p == in_.end) return in_.fail_eof(ReadFailure::eof_in_value);
      if (*in_.p == ']') return in_.fail_at(ReadFailure::trailing_comma, in_.p);
    }
  }
  ++in_.p;  // ']'
  return true;
}

// After the opening bracket: the elements, moved into the document.
bool Reader::read_elements(JsonValue*& items, size_t& count) {
  size_t base = values_.size();
  if (!read_element_list(nullptr)) return false;
  count = values_.size() - base;
  items = doc_.arena().allocate_array<JsonValue>(count);
  if (count != 0) std::memcpy(static_cast<void*>(items), values_.data() + base, count * sizeof(JsonValue));
  values_.shrink_to(base);
  return true;
}

JsonValue Reader::read_array() {
  if (--depth_ == 0) return absent(in_.fail_at(ReadFailure::recursion_limit, in_.p));
  ++in_.p;
  JsonValue* items;
  size_t count;
  if (!read_elements(items, count)) return JsonValue::absent();
  ++depth_;
  return JsonValue::make_array_ref(items, count);
}

JsonValue Reader::read_object() {
  if (--depth_ == 0) return absent(in_.fail_at(ReadFailure::recursion_limit, in_.p));
  if (depth_ < fresh_depth_) set_up_levels_down_to(depth_);
  ++in_.p;
  size_t base = names_.size();
  in_.skip_space();
  if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_object));
  if (*in_.p != '}') {
    if (*in_.p != '"') return absent(in_.fail_at(ReadFailure::key_not_string, in_.p));
    for (size_t position = 0;; ++position) {
      ++in_.p;  // the key's opening quote
      const JsonKey* key;
      if (!read_key(position, key)) return JsonValue::absent();
      in_.skip_space();
      if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_object));
      if (*in_.p != ':') return absent(in_.fail_at(ReadFailure::expected_colon, in_.p));
      ++in_.p;
      JsonValue v = read_value();
      if (v.is_absent()) return v;
      names_.push_back(key);
      values_.push_back(v);
      in_.skip_space();
      if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_object));
      if (*in_.p == '}') break;
      if (*in_.p != ',') return absent(in_.fail_at(ReadFailure::expected_comma_or_brace, in_.p));
      ++in_.p;
      in_.skip_space();
      if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_value));
      if (*in_.p == '}') return absent(in_.fail_at(ReadFailure::trailing_comma, in_.p));
      if (*in_.p != '"') return absent(in_.fail_at(ReadFailure::key_not_string, in_.p));
    }
  }
  ++in_.p;  // '}'
  ++depth_;
  return JsonValue::make_object_ref(finish_object(base));
}

// ---------------------------------------------------------------- levels and shapes

// Makes levels [depth, fresh_depth_) ready: nothing remembered yet.
void Reader::set_up_levels_down_to(int depth) {
  for (int d = depth; d < fresh_depth_; ++d) {
    Level& level = levels_[d];
    for (Shape& shape : level.shapes) shape = Shape{nullptr, 0};
    level.guesses = nullptr;
    level.guess_count = 0;
    level.guess_capacity = 0;
  }
  fresh_depth_ = depth;
}

// Remembers `key` as the guess for the next member position of `level`.
void Reader::add_guess(Level& level, const JsonKey* key) {
  if (level.guess_count == level.guess_capacity) {
    const size_t capacity = level.guess_capacity == 0 ? 16 : 2 * level.guess_capacity;
    const JsonKey** grown = doc_.arena().allocate_array<const JsonKey*>(capacity);
    if (level.guess_count != 0) {
      std::memcpy(static_cast<void*>(grown), level.guesses, level.guess_count * sizeof(*grown));
    }
    level.guesses = grown;
    level.guess_capacity = capacity;
  }
  level.guesses[level.guess_count++] = key;
}

// A shape equal to `names` among the recent ones of this level, or null;
// `slot` is where a new shape with these names would be remembered.
const JsonKey* const* Reader::find_shape(const JsonKey* const* names, size_t count, Shape*& slot) {
  size_t way = count;
  if (count != 0) way ^= names[0]->id * 7 + names[count - 1]->id * 13;
  slot = &levels_[depth_].shapes[way % kShapeWays];
  if (slot->size != count || slot->keys == nullptr) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (slot->keys[i] != names[i]) return nullptr;
  }
  return slot->keys;
}

// Moves the members gathered since `base` into the document.
JsonObject* Reader::finish_object(size_t base) {
  size_t read = names_.size() - base;
  const JsonKey** names = names_.data() + base;
  JsonValue* values = values_.data() + (values_.size() - read);

  // A known shape has unique names already; otherwise merge repeated names
  // first and remember the result.
  size_t count = read;
  Shape* slot;
  const JsonKey* const* shape = find_shape(names, read, slot);
  if (shape == nullptr) {
    count = doc_.merge_repeated_keys(names, values, read);
    if (count == read || (shape = find_shape(names, count, slot)) == nullptr) {
      const JsonKey** fresh = doc_.arena().allocate_array<const JsonKey*>(count);
      if (count != 0) std::memcpy(static_cast<void*>(fresh), names, count * sizeof(*names));
      shape = fresh;
      *slot = Shape{fresh, count};
    }
  }
  JsonValue* kept = doc_.arena().allocate_array<JsonValue>(count);
  if (count != 0) std::memcpy(static_cast<void*>(kept), values, count * sizeof(JsonValue));
  names_.shrink_to(base);
  values_.shrink_to(values_.size() - read);
  return doc_.make_object(shape, kept, count);
}

// ---------------------------------------------------------------- member names

// Whether the input here is exactly `key`'s text and its closing quote.
inline bool Reader::key_matches_here(const JsonKey& key) const {
  size_t n = key.size;
  size_t left = static_cast<size_t>(in_.end - in_.p);
  if (!key.plain || left <= n || in_.p[n] != '"') return false;
  if (n <= 8 && left >= 8) {
    uint64_t w;
    std::memcpy(&w, in_.p, 8);
    uint64_t mask = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
    return (w & mask) == key.head;
  }
  if (n > 8 && n <= 16) {
    uint64_t a, b;
    std::memcpy(&a, in_.p, 8);
    std::memcpy(&b, in_.p + n - 8, 8);
    return a == key.head && b == key.tail;
  }
  return std::memcmp(in_.p, key.data, n) == 0;
}

// About one slot per 16 bytes of input, within the table's bounds.
unsigned Reader::recent_key_bits_for(size_t input_size) {
  const unsigned bits = static_cast<unsigned>(std::bit_width(input_size / 16));
  return std::clamp(bits, kMinRecentKeyBits, kMaxRecentKeyBits);
}

// The slot of recent_keys_ for the name starting here: picked by the name's
// first eight bytes, or its bytes before the closing quote when it is
// shorter, so that what follows a short name does not count. Null near the
// end of the input.
const JsonKey** Reader::recent_key_slot() {
  if (in_.end - in_.p < 8) return nullptr;
  uint64_t w;
  std::memcpy(&w, in_.p, 8);
  // The bytes equal to '"' have their high bit set in `quotes` (the usual
  // test for a zero byte, applied to w ^ '"'; exact for the lowest one).
  const uint64_t x = w ^ 0x2222222222222222ULL;
  const uint64_t quotes = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
  if (quotes != 0) w &= (uint64_t{1} << (std::countr_zero(quotes) & ~7)) - 1;
  return &recent_keys_[(w * 0x9E3779B97F4A7C15ULL) >> (64 - recent_key_bits_)];
}

// After the key's opening quote; `position` is the member's place in its object.
bool Reader::read_key(size_t position, const JsonKey*& key) {
  Level& level = levels_[depth_];
  if (position < level.guess_count && key_matches_here(*level.guesses[position])) {
    key = level.guesses[position];
    in_.p += key->size + 1;
    return true;
  }
  const JsonKey** recent = recent_key_slot();
  if (recent != nullptr && *recent != nullptr && key_matches_here(**recent)) {
    key = *recent;
    in_.p += key->size + 1;
  } else {
    StringPiece name;
    if (!read_string(in_, scratch_, name)) return false;
    const bool room_past = name.borrowed && in_.end - name.data >= 16;
    key = doc_.intern(room_past ? key_text_in_place(name.data, name.size) : key_text(name.data, name.size),
                      name.borrowed, name.plain);
    if (recent != nullptr) *recent = key;
  }
  if (position < level.guess_count) {
    level.guesses[position] = key;
  } else {
    add_guess(level, key);
  }
  return true;
}

// ---------------------------------------------------------------- entry points

ParseOutcome read_rows(std::string_view input, RowVisitor* visitor, JsonDocument* given) {
  std::unique_ptr<JsonDocument> owned;
  if (given == nullptr) owned = std::make_unique<JsonDocument>(document_chunk_bytes(input.size()));
  JsonDocument& document = given != nullptr ? *given : *owned;
  Reader reader(input, document);
  if (!reader.read_document(visitor)) return ParseOutcome(reader.error());
  StackStorage<JsonValue> storage;
  const std::span<const JsonValue> rows = reader.take_rows(storage);
  return ParseOutcome(RowArray(std::move(owned), document, rows, std::move(storage)));
}

}  // namespace

ParseOutcome parse_row_array(std::string_view input) { return read_rows(input, nullptr, nullptr); }

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor) {
  return read_rows(input, &visitor, nullptr);
}

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor, JsonDocument& document) {
  return read_rows(input, &visitor, &document);
}

}  // namespace tamsel::json
