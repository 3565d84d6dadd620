// The structural reader: the top level, values, arrays, objects and their
// member names. It hands numbers to read_number.h and strings to
// read_string.h, which move the same cursor; a failure is recorded there as
// a kind (reader_errors.h) and turned into a JsonError only at the end.
//
// One reader, compiled once per kernel: Reader<K> takes the string scan and
// the UTF-8 checks of the kernel K (a ScanKernel, scan.h), so the scan is
// inlined into each kernel's reader and the kernel is chosen once per
// document, not once per string. Each kernels/<name>.cpp instantiates
// read_rows<its kernel> for its entry in the kernel table (kernel.h);
// parse_row_array (reader.cpp) calls the active kernel's.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>
#include <string_view>

#include "json/arena.h"
#include "json/kernel.h"
#include "json/read_cursor.h"
#include "json/read_number.h"
#include "json/read_string.h"
#include "json/reader.h"
#include "json/reader_errors.h"
#include "json/scan.h"
#include "json/value.h"
#include "json/value_stack.h"

namespace tamsel::json {

// Internal linkage, as in read_string.h: each kernel's file has its own.
namespace {

constexpr int kMaxDepth = 128;

template <ScanKernel K>
class Reader {
 public:
  Reader(std::string_view input, JsonDocument& document)
      : in_(input), doc_(document), recent_key_bits_(recent_key_bits_for(input.size())) {
    const size_t recent_slots = size_t{1} << recent_key_bits_;
    recent_keys_ = recent_slots <= std::size(recent_keys_inline_)
                       ? recent_keys_inline_
                       : doc_.arena().allocate_array<RecentKey>(recent_slots);
    // All zero bytes is an empty slot (RecentKey). A table of up to 2 KiB
    // (inputs under 1 KiB) is cleared by memset in a few wide stores, where
    // a loop takes a turn a slot; a larger one by the loop, as the C
    // library's memset clears such blocks with a string instruction whose
    // cost grows with each byte.
    const size_t table_bytes = recent_slots * sizeof(RecentKey);
    if (table_bytes <= 2048) {
      std::memset(static_cast<void*>(recent_keys_), 0, table_bytes);
    } else {
      std::fill_n(recent_keys_, recent_slots, RecentKey{0, nullptr});
    }
    // A member takes at least six bytes ("":0,) and names repeat, so a
    // document of n bytes seldom has more than n / 16 different names; one
    // whose rows each hold a different few of many names comes close.
    doc_.expect_names(input.size() / 16);
    // A small document's values fit the stacks' own room; a large one's
    // first growth steps are skipped, as each step is a copy.
    if (input.size() > kSmallInput) {
      values_.reserve(std::clamp<size_t>(input.size() / 4, 16, 4096));
      names_.reserve(values_.capacity());
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
  // Inlined into each list and object loop: a scalar, most values, is read
  // without a call of its own, and only arrays and objects pay for a frame.
  [[gnu::always_inline]] JsonValue read_value();
  [[gnu::always_inline]] JsonValue read_value_here();
  bool read_element_list(RowVisitor* visitor);
  bool read_elements(JsonValue*& items, size_t& count);
  [[gnu::noinline]] JsonValue read_array();
  [[gnu::noinline]] JsonValue read_object();
  JsonObject* finish_object(size_t base);
  bool read_literal(const char* word, size_t length);
  bool read_key(size_t position, const JsonKey*& key);
  [[gnu::always_inline]] bool key_matches_here(const JsonKey& key) const;
  bool read_top_level_value();

  ReadCursor in_;
  JsonDocument& doc_;
  int depth_ = kMaxDepth;
  static constexpr size_t kSmallInput = 4 * 1024;
  // Elements and member values being read, and the member names of the
  // objects being read. Each name is pushed with its value, so there are
  // never more names than values; the names' stack is kept at least as
  // large as the values', so that one test of the values' room does for a
  // member's two pushes (push_member).
  ValueStack<JsonValue, 64> values_;
  ValueStack<const JsonKey*, 64> names_;
  [[gnu::always_inline]] void push_member(const JsonKey* key, JsonValue value);
  [[gnu::always_inline]] void push_element(JsonValue value);
  [[gnu::noinline]] void grow_member_stacks();
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
  // input, as a small document has few names. Its slots go in pairs, the
  // name met last first: two names whose bytes pick the same pair both stay.
  // A slot holds the name's lead (JsonKey::lead) as its tag: the tag alone
  // settles a name shorter than eight bytes, and with the name's length one
  // of eight. A name with a quote in it is not plain, so a quote in the
  // input's first eight bytes marks the name's length.
  // Names that need escaping are never matched there and are not kept.
  static constexpr unsigned kMaxRecentKeyBits = 10;
  static constexpr unsigned kMinRecentKeyBits = 4;
  static unsigned recent_key_bits_for(size_t input_size);
  const unsigned recent_key_bits_;
  struct RecentKey {
    uint64_t tag;  // 0 in an empty slot
    const JsonKey* key;
  };
  // The table: inside the reader for a small input, in the document's arena
  // for a larger one, so that the reader's frame stays small enough for
  // threads with small stacks.
  static constexpr unsigned kInlineRecentKeyBits = 8;
  RecentKey* recent_keys_;  // 1 << recent_key_bits_ slots
  RecentKey recent_keys_inline_[size_t{1} << kInlineRecentKeyBits];
  const JsonKey* find_recent_key(RecentKey*& pair);
  const JsonKey* const* find_shape(const JsonKey* const* names, size_t count, Shape*& slot);
};

// ---------------------------------------------------------------- the top level

template <ScanKernel K>
JsonError Reader<K>::error() const {
  return locate_failure(std::string_view(in_.begin, static_cast<size_t>(in_.end - in_.begin)),
                        in_.failure_offset, in_.failure, in_.failure_detail);
}

template <ScanKernel K>
bool Reader<K>::read_document(RowVisitor* visitor) {
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

template <ScanKernel K>
std::span<const JsonValue> Reader<K>::take_rows(StackStorage<JsonValue>& storage) {
  // The rows are the whole element stack now: hand its heap storage over as
  // it is, or copy the few rows held in the stack's own room.
  const size_t count = values_.size();
  if (!values_.is_inline()) {
    storage = values_.release_heap();
    return {storage.get(), count};
  }
  JsonValue* rows = doc_.arena().allocate_array<JsonValue>(count);
  copy_items(rows, values_.data(), count);
  return {rows, count};
}

// The top-level value is not an array: reads it far enough to describe it
// (an object's brace is not consumed) and fails with that description, or
// with the failure met on the way.
template <ScanKernel K>
bool Reader<K>::read_top_level_value() {
  JsonValue value;
  const char c = *in_.p;
  if (c == '{') {
    value = JsonValue::make_object_ref(nullptr);  // described by its kind alone
  } else if (c == '"') {
    ++in_.p;
    StringPiece s;
    if (!read_string<K>(in_, scratch_, s)) return false;
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

template <ScanKernel K>
inline JsonValue Reader<K>::read_value() {
  in_.skip_space();
  if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_value));
  return read_value_here();
}

// At the value's first byte, which is in the input and not space.
template <ScanKernel K>
inline JsonValue Reader<K>::read_value_here() {
  switch (*in_.p) {
    case '"': ++in_.p; return read_string_value<K>(in_, scratch_, doc_.arena());
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

template <ScanKernel K>
bool Reader<K>::read_literal(const char* word, size_t length) {
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
template <ScanKernel K>
bool Reader<K>::read_element_list(RowVisitor* visitor) {
  const size_t base = values_.size();
  in_.skip_space();
  if (in_.p == in_.end) return in_.fail_eof(ReadFailure::eof_in_list);
  if (*in_.p != ']') {
    // Each turn starts in the input and past any space.
    for (;;) {
      JsonValue v = read_value_here();
      if (v.is_absent()) return false;
      push_element(v);
      if (visitor != nullptr) visitor->row(values_.size() - 1 - base, v);
      // Compact text: a comma and the next element's first byte.
      if (in_.end - in_.p >= 2 && in_.p[0] == ',' && static_cast<unsigned char>(in_.p[1]) > ' ' && in_.p[1] != ']')
          [[likely]] {
        ++in_.p;
        continue;
      }
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
template <ScanKernel K>
bool Reader<K>::read_elements(JsonValue*& items, size_t& count) {
  size_t base = values_.size();
  if (!read_element_list(nullptr)) return false;
  count = values_.size() - base;
  items = doc_.arena().allocate_array<JsonValue>(count);
  copy_items(items, values_.data() + base, count);
  values_.shrink_to(base);
  return true;
}

template <ScanKernel K>
JsonValue Reader<K>::read_array() {
  if (--depth_ == 0) return absent(in_.fail_at(ReadFailure::recursion_limit, in_.p));
  ++in_.p;
  JsonValue* items;
  size_t count;
  if (!read_elements(items, count)) return JsonValue::absent();
  ++depth_;
  return JsonValue::make_array_ref(items, count);
}

template <ScanKernel K>
JsonValue Reader<K>::read_object() {
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
      JsonValue v;
      // Compact text has the colon here and the value right after it.
      if (in_.end - in_.p >= 2 && in_.p[0] == ':' && static_cast<unsigned char>(in_.p[1]) > ' ') [[likely]] {
        ++in_.p;
        v = read_value_here();
      } else {
        in_.skip_space();
        if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_object));
        if (*in_.p != ':') return absent(in_.fail_at(ReadFailure::expected_colon, in_.p));
        ++in_.p;
        v = read_value();
      }
      if (v.is_absent()) return v;
      push_member(key, v);
      // Compact text: a comma and the next name's quote.
      if (in_.end - in_.p >= 2 && in_.p[0] == ',' && in_.p[1] == '"') [[likely]] {
        ++in_.p;
        continue;
      }
      in_.skip_space();
      if (in_.p == in_.end) return absent(in_.fail_eof(ReadFailure::eof_in_object));
      if (*in_.p == '}') break;
      if (*in_.p != ',') return absent(in_.fail_at(ReadFailure::expected_comma_or_brace, in_.p));
      ++in_.p;
      if (in_.p != in_.end && *in_.p == '"') continue;
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

// A member's name and value: one test of room for both (see values_).
template <ScanKernel K>
inline void Reader<K>::push_member(const JsonKey* key, JsonValue value) {
  if (values_.full()) [[unlikely]] grow_member_stacks();
  names_.push_unchecked(key);
  values_.push_unchecked(value);
}

// An element: the names' stack grows with the values' all the same.
template <ScanKernel K>
inline void Reader<K>::push_element(JsonValue value) {
  if (values_.full()) [[unlikely]] grow_member_stacks();
  values_.push_unchecked(value);
}

template <ScanKernel K>
void Reader<K>::grow_member_stacks() {
  values_.reserve(2 * values_.capacity());
  names_.reserve(values_.capacity());
}

// ---------------------------------------------------------------- levels and shapes

// Makes levels [depth, fresh_depth_) ready: nothing remembered yet.
template <ScanKernel K>
void Reader<K>::set_up_levels_down_to(int depth) {
  for (int d = depth; d < fresh_depth_; ++d) {
    Level& level = levels_[d];
    for (Shape& shape : level.shapes) shape.keys = nullptr;  // no shape; its size is read only past this
    level.guesses = nullptr;
    level.guess_count = 0;
    level.guess_capacity = 0;
  }
  fresh_depth_ = depth;
}

// Remembers `key` as the guess for the next member position of `level`.
template <ScanKernel K>
void Reader<K>::add_guess(Level& level, const JsonKey* key) {
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
template <ScanKernel K>
const JsonKey* const* Reader<K>::find_shape(const JsonKey* const* names, size_t count, Shape*& slot) {
  size_t way = count;
  if (count != 0) way ^= names[0]->id * 7 + names[count - 1]->id * 13;
  slot = &levels_[depth_].shapes[way % kShapeWays];
  if (slot->keys == nullptr || slot->size != count) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (slot->keys[i] != names[i]) return nullptr;
  }
  return slot->keys;
}

// Moves the members gathered since `base` into the document.
template <ScanKernel K>
JsonObject* Reader<K>::finish_object(size_t base) {
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
      copy_items(fresh, names, count);
      shape = fresh;
      *slot = Shape{fresh, count};
    }
  }
  JsonValue* kept = doc_.arena().allocate_array<JsonValue>(count);
  copy_items(kept, values, count);
  names_.shrink_to(base);
  values_.shrink_to(values_.size() - read);
  return doc_.make_object(shape, kept, count);
}

// ---------------------------------------------------------------- member names

// Whether the input here is exactly `key`'s text and its closing quote.
// With eight bytes of input left, the first word settles most names, a
// different one included, and a short one whole; the end of the input is
// read byte-wise.
template <ScanKernel K>
inline bool Reader<K>::key_matches_here(const JsonKey& key) const {
  const size_t n = key.size;
  const size_t left = static_cast<size_t>(in_.end - in_.p);
  if (left >= 8) [[likely]] {
    uint64_t w;
    std::memcpy(&w, in_.p, 8);
    if ((w & key.lead_mask) != key.lead) return false;
    if (n < 8) return true;
    if (left <= n || in_.p[n] != '"') return false;
    if (n <= 16) {
      uint64_t b;
      std::memcpy(&b, in_.p + n - 8, 8);
      return b == key.tail;
    }
    return std::memcmp(in_.p + 8, key.data + 8, n - 8) == 0;
  }
  if (!key.plain || left <= n || in_.p[n] != '"') return false;
  return std::memcmp(in_.p, key.data, n) == 0;
}

// About one slot per 8 bytes of input, within the table's bounds.
template <ScanKernel K>
unsigned Reader<K>::recent_key_bits_for(size_t input_size) {
  const unsigned bits = static_cast<unsigned>(std::bit_width(input_size / 8));
  return std::clamp(bits, kMinRecentKeyBits, kMaxRecentKeyBits);
}


// The recent name starting here, or null. `pair` is set to the pair of
// slots of recent_keys_ picked by the input's tag there (the first eight
// bytes, or those up to a quote among them, and the quote), or to null near
// the end of the input.
template <ScanKernel K>
const JsonKey* Reader<K>::find_recent_key(RecentKey*& pair) {
  const size_t left = static_cast<size_t>(in_.end - in_.p);
  if (left < 8) {
    pair = nullptr;
    return nullptr;
  }
  uint64_t tag;
  std::memcpy(&tag, in_.p, 8);
  // The bytes equal to '"' have their high bit set in `quotes` (the usual
  // test for a zero byte, applied to tag ^ '"'; exact for the lowest one).
  const uint64_t x = tag ^ 0x2222222222222222ULL;
  const uint64_t quotes = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
  const unsigned quote_at = static_cast<unsigned>(std::countr_zero(quotes)) >> 3;  // 8: none
  if (quote_at < 8) tag &= ~uint64_t{0} >> (56 - 8 * quote_at);
  pair = &recent_keys_[((tag * 0x9E3779B97F4A7C15ULL) >> (64 - recent_key_bits_)) & ~size_t{1}];
  // With a quote among the eight bytes the tag held the whole name; else
  // only its first eight bytes, and the name's length and the rest are
  // still to compare.
  const JsonKey* key = pair[0].tag == tag ? pair[0].key : pair[1].tag == tag ? pair[1].key : nullptr;
  if (key == nullptr || quote_at < 8) return key;
  // Two names with the same first eight bytes share a pair, and only the
  // one met last is tried: like any other miss, the other is then read and
  // looked up in full.
  if (key->size == 8 ? left > 8 && in_.p[8] == '"' : key_matches_here(*key)) return key;
  return nullptr;
}

// After the key's opening quote; `position` is the member's place in its object.
template <ScanKernel K>
bool Reader<K>::read_key(size_t position, const JsonKey*& key) {
  Level& level = levels_[depth_];
  if (position < level.guess_count && key_matches_here(*level.guesses[position])) {
    key = level.guesses[position];
    in_.p += key->size + 1;
    return true;
  }
  RecentKey* recent;
  if (const JsonKey* found = find_recent_key(recent)) {
    key = found;
    in_.p += key->size + 1;
  } else {
    StringPiece name;
    if (!read_string<K>(in_, scratch_, name)) return false;
    const bool room_past = name.borrowed && in_.end - name.data >= 16;
    key = doc_.intern(room_past ? key_text_in_place(name.data, name.size) : key_text(name.data, name.size),
                      name.borrowed, name.plain);
    if (recent != nullptr && key->plain) {
      recent[1] = recent[0];
      recent[0] = RecentKey{key->lead, key};
    }
  }
  if (position < level.guess_count) {
    level.guesses[position] = key;
  } else {
    add_guess(level, key);
  }
  return true;
}

// ---------------------------------------------------------------- entry points

template <ScanKernel K>
ParseOutcome read_rows(std::string_view input, RowVisitor* visitor, JsonDocument* given) {
  std::unique_ptr<JsonDocument> owned;
  if (given == nullptr) owned = std::make_unique<JsonDocument>(document_chunk_bytes(input.size()));
  JsonDocument& document = given != nullptr ? *given : *owned;
  Reader<K> reader(input, document);
  if (!reader.read_document(visitor)) return ParseOutcome(reader.error());
  StackStorage<JsonValue> storage;
  const std::span<const JsonValue> rows = reader.take_rows(storage);
  return ParseOutcome(RowArray(std::move(owned), document, rows, std::move(storage)));
}

}  // namespace

// A kernel's entry (kernel.h) from the functions of its namespace: its reader
// is read_rows compiled around them. Used once, in the kernel's own file.
template <const char* (*FindStringSpecial)(const char*, const char*, bool&),
          bool (*IsValidUtf8)(const char*, size_t), bool (*IsValidUtf8WithRoom)(const char*, size_t, size_t)>
constexpr KernelEntry make_kernel_entry(Kernel kernel, bool (*processor_runs)()) {
  using Scan = ScanFunctions<FindStringSpecial, IsValidUtf8, IsValidUtf8WithRoom>;
  return KernelEntry{kernel, processor_runs, FindStringSpecial, IsValidUtf8, &read_rows<Scan>};
}

}  // namespace tamsel::json
