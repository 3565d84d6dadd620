#include "json/reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "json/byte_buffer.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/writer.h"

namespace tamsel::json {

namespace {

// 10^k as the nearest double, k from 0 to 308.

constexpr double kPow10[309] = {
#include "json/pow10_table.inc"
};


constexpr int kMaxDepth = 128;

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Whether one more digit fits in the 64-bit significand.
inline bool digit_fits(uint64_t s, unsigned d) {
  return s < 1844674407370955161ULL || (s == 1844674407370955161ULL && d <= 5);
}

// The value of the eight ASCII digits at `p`, combined pairwise in one word.
inline uint64_t parse_eight_digits(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  v = (v & 0x0f0f0f0f0f0f0f0fULL) * 2561 >> 8;
  v = (v & 0x00ff00ff00ff00ffULL) * 6553601 >> 16;
  return (v & 0x0000ffff0000ffffULL) * 42949672960001ULL >> 32;
}

// Length of the run of ASCII digits at `p`.
inline size_t digit_run_length(const char* p, const char* end) {
  const char* q = p;
  while (end - q >= 8) {
    uint64_t v;
    std::memcpy(&v, q, 8);
    // A byte is a digit when its high nibble is 3 and adding 6 keeps it so.
    uint64_t bad = (v & 0xf0f0f0f0f0f0f0f0ULL) ^ 0x3030303030303030ULL;
    bad |= ((v + 0x0606060606060606ULL) & 0xf0f0f0f0f0f0f0f0ULL) ^ 0x3030303030303030ULL;
    if (bad != 0) return static_cast<size_t>(q - p) + static_cast<size_t>(std::countr_zero(bad)) / 8;
    q += 8;
  }
  while (q < end && is_digit(*q)) ++q;
  return static_cast<size_t>(q - p);
}

// The value of the `count` digits at `p`, count at most 19.
inline uint64_t digits_value(const char* p, size_t count) {
  uint64_t v = 0;
  for (; count >= 8; count -= 8, p += 8) v = v * 100000000 + parse_eight_digits(p);
  for (; count > 0; --count, ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
  return v;
}

// Float literals whose significand is below this (all of 12 digits) are kept
// with their digits as well; see read_number.
constexpr uint64_t kShortDecimalLimit = uint64_t{1} << 40;

// 10^k as an integer, k from 0 to 19.
constexpr uint64_t kPow10Integer[20] = {1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL,
                                        10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL,
                                        100000000000ULL, 1000000000000ULL, 10000000000000ULL,
                                        100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL,
                                        100000000000000000ULL, 1000000000000000000ULL,
                                        10000000000000000000ULL};

// Whether `count` more digits appended to `significand` surely stay below
// 10^19, so that every one of them passes the overflow test.
inline bool digits_fit(uint64_t significand, size_t count) {
  return count <= 19 && significand < kPow10Integer[19 - count];
}

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where the content of a string with escapes is put together. Appends
// check the room once per piece; the buffer is kept for the whole read.
class ScratchText {
 public:
  void assign(const char* begin, const char* end) {
    size_ = 0;
    append(begin, static_cast<size_t>(end - begin));
  }
  void append(const char* bytes, size_t n) {
    if (n == 0) return;
    std::memcpy(room(n), bytes, n);
    size_ += n;
  }
  void push_back(char c) {
    *room(1) = c;
    ++size_;
  }
  char* room(size_t n) {
    if (capacity_ - size_ < n) grow(n);
    return data_.get() + size_;
  }
  void advance(size_t n) { size_ += n; }
  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  void grow(size_t n) {
    size_t capacity = std::max(capacity_ * 2, size_ + n + 64);
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// A string as read: where its content is and whether it can be written back
// without escapes. `borrowed` content points into the input; otherwise into
// the reader's scratch buffer, valid until the next string is read.
struct StringPiece {
  const char* data;
  size_t size;
  bool plain;
  bool borrowed;
};

class Reader {
 public:
  Reader(std::string_view input, JsonDocument& document)
      : begin_(input.data()), p_(input.data()), end_(input.data() + input.size()), doc_(document) {}

  // Reads the whole input; on success `rows` and `row_count` hold the elements.
  bool read_document(std::vector<JsonValue>& rows, RowVisitor* visitor);

  JsonError error() const;

 private:
  // ---- failures: each records the message and the offset, returns false
  bool fail(const char* message, size_t offset) {
    message_ = message;
    offset_ = offset;
    return false;
  }
  bool fail_eof(const char* message) { return fail(message, static_cast<size_t>(end_ - begin_)); }
  bool fail_at(const char* message, const char* byte) {
    return fail(message, static_cast<size_t>(byte - begin_) + 1);
  }
  bool fail_here(const char* message) { return fail(message, static_cast<size_t>(p_ - begin_)); }
  // For the readers that return a value: the failure was recorded already.
  static JsonValue absent(bool) { return JsonValue::absent(); }

  void skip_space() {
    while (p_ < end_ && is_space(*p_)) ++p_;
  }

  // Values come back in registers; a failure gives JsonValue::absent().
  JsonValue read_value();
  bool read_element_list(RowVisitor* visitor);
  bool read_elements(JsonValue*& items, size_t& count);
  JsonValue read_array();
  JsonValue read_object();
  JsonObject* finish_object(size_t base);
  bool read_literal(const char* word, size_t length);
  bool read_string(StringPiece& out);
  JsonValue read_string_value();
  bool read_key(size_t position, const JsonKey*& key);
  [[gnu::always_inline]] bool key_matches_here(const JsonKey& key) const;
  bool read_string_escaped(const char* start, const char* stop, bool high, StringPiece& out);
  template <bool kDecode>
  bool read_escape(bool& plain, bool& high, bool& canonical);
  bool read_hex_unit(const char* u, uint32_t& unit);
  JsonValue read_number();
  bool describe_top_level_value();

  const char* begin_;
  const char* p_;
  const char* end_;
  JsonDocument& doc_;
  int depth_ = kMaxDepth;
  std::vector<JsonValue> values_;      // elements and member values being read
  std::vector<const JsonKey*> names_;  // member names of the objects being read
  ScratchText scratch_;                // content of a string with escapes
  // The key met last at each nesting level and member position: objects of
  // one level usually repeat their names in order, so most keys are found by
  // comparing the input with this guess instead of scanning and hashing.
  std::vector<const JsonKey*> key_guess_[kMaxDepth + 1];
  // When the guess fails (rows that hold different subsets of many names),
  // names met before are found by their first bytes in this small table,
  // again without scanning or hashing the whole name.
  static constexpr unsigned kRecentKeyBits = 9;
  const JsonKey* recent_keys_[size_t{1} << kRecentKeyBits] = {};
  const JsonKey** recent_key_slot();
  // Shapes met recently at each level, found by their size and end names:
  // an object with the same names in the same order shares the array.
  struct Shape {
    const JsonKey* const* keys = nullptr;
    size_t size = 0;
  };
  static constexpr size_t kShapeWays = 8;
  Shape recent_shapes_[kMaxDepth + 1][kShapeWays];
  const JsonKey* const* find_shape(const JsonKey* const* names, size_t count, Shape*& slot);

  const char* message_ = nullptr;
  std::string owned_message_;  // for messages built at run time
  size_t offset_ = 0;
};

JsonError Reader::error() const {
  JsonError e;
  e.message = message_ != nullptr ? std::string(message_) : owned_message_;
  // Position from the offset, counted only now: reading never tracks lines.
  const char* at = begin_ + offset_;
  uint64_t line = 1;
  const char* line_start = begin_;
  for (const char* q = begin_; q < at; ++q) {
    q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(at - q)));
    if (q == nullptr) break;
    ++line;
    line_start = q + 1;
  }
  e.line = line;
  e.column = static_cast<uint64_t>(at - line_start);
  return e;
}

bool Reader::read_document(std::vector<JsonValue>& rows, RowVisitor* visitor) {
  skip_space();
  if (p_ == end_) return fail_eof("EOF while parsing a value");
  if (*p_ != '[') return describe_top_level_value();
  depth_ = kMaxDepth - 1;
  ++p_;
  if (!read_element_list(visitor)) return false;
  skip_space();
  if (p_ != end_) return fail_at("trailing characters", p_);
  // The rows are the whole element stack now: hand it over as it is.
  rows = std::move(values_);
  return true;
}

bool Reader::describe_top_level_value() {
  std::string what;
  char c = *p_;
  if (c == '{') {
    what = "map";  // the brace is not consumed
  } else if (c == '"') {
    ++p_;
    StringPiece s;
    if (!read_string(s)) return false;
    what = "string " + debug_quote(std::string_view(s.data, s.size));
  } else if (c == '-' || is_digit(c)) {
    JsonValue v = read_number();
    if (v.is_absent()) return false;
    ByteBuffer text;
    switch (v.number_variant()) {
      case NumberVariant::unsigned_int:
        write_unsigned(v.as_unsigned(), text);
        what = "integer `" + std::string(text.view()) + "`";
        break;
      case NumberVariant::negative_int:
        write_negative(v.as_negative(), text);
        what = "integer `" + std::string(text.view()) + "`";
        break;
      case NumberVariant::floating:
        write_float(v.as_double(), text);
        what = "floating point `" + std::string(text.view()) + "`";
        break;
    }
  } else if (c == 'n') {
    if (!read_literal("null", 4)) return false;
    what = "null";
  } else if (c == 't') {
    if (!read_literal("true", 4)) return false;
    what = "boolean `true`";
  } else if (c == 'f') {
    if (!read_literal("false", 5)) return false;
    what = "boolean `false`";
  } else {
    return fail_at("expected value", p_);
  }
  owned_message_ = "invalid type: " + what + ", expected a sequence";
  message_ = nullptr;
  offset_ = static_cast<size_t>(p_ - begin_);
  return false;
}

JsonValue Reader::read_value() {
  skip_space();
  if (p_ == end_) return absent(fail_eof("EOF while parsing a value"));
  switch (*p_) {
    case '"': ++p_; return read_string_value();
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
    case '9': return read_number();
    case 'n': return read_literal("null", 4) ? JsonValue::make_null() : JsonValue::absent();
    case 't': return read_literal("true", 4) ? JsonValue::make_bool(true) : JsonValue::absent();
    case 'f': return read_literal("false", 5) ? JsonValue::make_bool(false) : JsonValue::absent();
    case '[': return read_array();
    case '{': return read_object();
    default: return absent(fail_at("expected value", p_));
  }
}

bool Reader::read_literal(const char* word, size_t length) {
  ++p_;  // the first letter was matched by the caller
  for (size_t i = 1; i < length; ++i) {
    if (p_ == end_) return fail_eof("EOF while parsing a value");
    if (*p_ != word[i]) return fail_at("expected ident", p_);
    ++p_;
  }
  return true;
}

// After the opening bracket: pushes the elements onto the element stack and
// consumes the closing bracket. A visitor sees each element once read.
bool Reader::read_element_list(RowVisitor* visitor) {
  const size_t base = values_.size();
  skip_space();
  if (p_ == end_) return fail_eof("EOF while parsing a list");
  if (*p_ != ']') {
    for (;;) {
      JsonValue v = read_value();
      if (v.is_absent()) return false;
      values_.push_back(v);
      if (visitor != nullptr) visitor->row(values_.size() - 1 - base, v);
      skip_space();
      if (p_ == end_) return fail_eof("EOF while parsing a list");
      if (*p_ == ']') break;
      if (*p_ != ',') return fail_at("expected `,` or `]`", p_);
      ++p_;
      skip_space();
      if (p_ == end_) return fail_eof("EOF while parsing a value");
      if (*p_ == ']') return fail_at("trailing comma", p_);
    }
  }
  ++p_;  // ']'
  return true;
}

// After the opening bracket: the elements, moved into the document.
bool Reader::read_elements(JsonValue*& items, size_t& count) {
  size_t base = values_.size();
  if (!read_element_list(nullptr)) return false;
  count = values_.size() - base;
  items = doc_.arena().allocate_array<JsonValue>(count);
  if (count != 0) std::memcpy(static_cast<void*>(items), values_.data() + base, count * sizeof(JsonValue));
  values_.resize(base);
  return true;
}

JsonValue Reader::read_array() {
  if (--depth_ == 0) return absent(fail_at("recursion limit exceeded", p_));
  ++p_;
  JsonValue* items;
  size_t count;
  if (!read_elements(items, count)) return JsonValue::absent();
  ++depth_;
  return JsonValue::make_array_ref(items, count);
}

JsonValue Reader::read_object() {
  if (--depth_ == 0) return absent(fail_at("recursion limit exceeded", p_));
  ++p_;
  size_t base = names_.size();
  skip_space();
  if (p_ == end_) return absent(fail_eof("EOF while parsing an object"));
  if (*p_ != '}') {
    if (*p_ != '"') return absent(fail_at("key must be a string", p_));
    for (size_t position = 0;; ++position) {
      ++p_;  // the key's opening quote
      const JsonKey* key;
      if (!read_key(position, key)) return JsonValue::absent();
      skip_space();
      if (p_ == end_) return absent(fail_eof("EOF while parsing an object"));
      if (*p_ != ':') return absent(fail_at("expected `:`", p_));
      ++p_;
      JsonValue v = read_value();
      if (v.is_absent()) return v;
      names_.push_back(key);
      values_.push_back(v);
      skip_space();
      if (p_ == end_) return absent(fail_eof("EOF while parsing an object"));
      if (*p_ == '}') break;
      if (*p_ != ',') return absent(fail_at("expected `,` or `}`", p_));
      ++p_;
      skip_space();
      if (p_ == end_) return absent(fail_eof("EOF while parsing a value"));
      if (*p_ == '}') return absent(fail_at("trailing comma", p_));
      if (*p_ != '"') return absent(fail_at("key must be a string", p_));
    }
  }
  ++p_;  // '}'
  ++depth_;
  return JsonValue::make_object_ref(finish_object(base));
}

// A shape equal to `names` among the recent ones of this level, or null;
// `slot` is where a new shape with these names would be remembered.
const JsonKey* const* Reader::find_shape(const JsonKey* const* names, size_t count, Shape*& slot) {
  size_t way = count;
  if (count != 0) way ^= names[0]->id * 7 + names[count - 1]->id * 13;
  slot = &recent_shapes_[depth_][way % kShapeWays];
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
  names_.resize(base);
  values_.resize(values_.size() - read);
  return doc_.make_object(shape, kept, count);
}

// Whether the input here is exactly `key`'s text and its closing quote.
inline bool Reader::key_matches_here(const JsonKey& key) const {
  size_t n = key.size;
  size_t left = static_cast<size_t>(end_ - p_);
  if (!key.plain || left <= n || p_[n] != '"') return false;
  if (n <= 8 && left >= 8) {
    uint64_t w;
    std::memcpy(&w, p_, 8);
    uint64_t mask = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
    return (w & mask) == key.head;
  }
  if (n > 8 && n <= 16) {
    uint64_t a, b;
    std::memcpy(&a, p_, 8);
    std::memcpy(&b, p_ + n - 8, 8);
    return a == key.head && b == key.tail;
  }
  return std::memcmp(p_, key.data, n) == 0;
}

// The slot of recent_keys_ for the name starting here: picked by the name's
// first eight bytes, or its bytes before the closing quote when it is
// shorter, so that what follows a short name does not count. Null near the
// end of the input.
const JsonKey** Reader::recent_key_slot() {
  if (end_ - p_ < 8) return nullptr;
  uint64_t w;
  std::memcpy(&w, p_, 8);
  // The bytes equal to '"' have their high bit set in `quotes` (the usual
  // test for a zero byte, applied to w ^ '"'; exact for the lowest one).
  const uint64_t x = w ^ 0x2222222222222222ULL;
  const uint64_t quotes = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
  if (quotes != 0) w &= (uint64_t{1} << (std::countr_zero(quotes) & ~7)) - 1;
  return &recent_keys_[(w * 0x9E3779B97F4A7C15ULL) >> (64 - kRecentKeyBits)];
}

// After the key's opening quote; `position` is the member's place in its object.
bool Reader::read_key(size_t position, const JsonKey*& key) {
  std::vector<const JsonKey*>& guesses = key_guess_[depth_];
  if (position < guesses.size() && key_matches_here(*guesses[position])) {
    key = guesses[position];
    p_ += key->size + 1;
    return true;
  }
  const JsonKey** recent = recent_key_slot();
  if (recent != nullptr && *recent != nullptr && key_matches_here(**recent)) {
    key = *recent;
    p_ += key->size + 1;
  } else {
    StringPiece name;
    if (!read_string(name)) return false;
    const bool room_past = name.borrowed && end_ - name.data >= 16;
    key = doc_.intern(room_past ? key_text_in_place(name.data, name.size) : key_text(name.data, name.size),
                      name.borrowed, name.plain);
    if (recent != nullptr) *recent = key;
  }
  if (position < guesses.size()) {
    guesses[position] = key;
  } else {
    guesses.push_back(key);
  }
  return true;
}

// After the opening quote.
bool Reader::read_string(StringPiece& out) {
  const char* start = p_;
  bool high = false;
  const char* stop = find_string_special(p_, end_, high);
  if (stop == end_) return fail_eof("EOF while parsing a string");
  if (*stop == '"') {
    p_ = stop + 1;
    size_t size = static_cast<size_t>(stop - start);
    if (high && !is_valid_utf8(start, size)) return fail_here("invalid unicode code point");
    out = StringPiece{start, size, true, true};
    return true;
  }
  if (*stop != '\\') {
    return fail_at("control character (\\u0000-\\u001F) found while parsing a string", stop);
  }
  return read_string_escaped(start, stop, high, out);
}

// The slow path, from the first backslash: the content is assembled in scratch_.
bool Reader::read_string_escaped(const char* start, const char* stop, bool high, StringPiece& out) {
  scratch_.assign(start, stop);
  bool plain = true;
  bool canonical = true;
  p_ = stop;
  for (;;) {
    // *p_ is a backslash
    if (!read_escape<true>(plain, high, canonical)) return false;
    stop = find_string_special(p_, end_, high);
    if (stop == end_) return fail_eof("EOF while parsing a string");
    scratch_.append(p_, static_cast<size_t>(stop - p_));
    p_ = stop;
    if (*stop == '"') break;
    if (*stop != '\\') {
      return fail_at("control character (\\u0000-\\u001F) found while parsing a string", stop);
    }
  }
  ++p_;  // closing quote
  if (high && !is_valid_utf8(scratch_.data(), scratch_.size())) {
    return fail_here("invalid unicode code point");
  }
  out = StringPiece{scratch_.data(), scratch_.size(), plain, false};
  return true;
}

// A string value, after its opening quote. Escapes are checked where they
// stand; while each is in the writer's own form, the text between the quotes
// is exactly what writing the content gives, and the value is that text,
// neither decoded nor copied. The first escape in another form sends the
// string through the decoding path from its start.
JsonValue Reader::read_string_value() {
  const char* start = p_;
  bool high = false;
  const char* stop = find_string_special(p_, end_, high);
  if (stop == end_) return absent(fail_eof("EOF while parsing a string"));
  if (*stop == '"') {
    p_ = stop + 1;
    size_t size = static_cast<size_t>(stop - start);
    if (high && !is_valid_utf8(start, size)) return absent(fail_here("invalid unicode code point"));
    return JsonValue::make_string_ref(start, size, true);
  }
  bool plain = false;
  bool canonical = true;
  p_ = stop;
  for (;;) {
    if (*stop != '\\') {
      return absent(fail_at("control character (\\u0000-\\u001F) found while parsing a string", stop));
    }
    if (!read_escape<false>(plain, high, canonical)) return JsonValue::absent();
    if (!canonical) {
      p_ = start;
      StringPiece s;
      if (!read_string(s)) return JsonValue::absent();
      return JsonValue::make_string_ref(doc_.arena().copy_bytes(s.data, s.size), s.size, s.plain);
    }
    stop = find_string_special(p_, end_, high);
    if (stop == end_) return absent(fail_eof("EOF while parsing a string"));
    p_ = stop;
    if (*stop == '"') break;
  }
  ++p_;  // closing quote
  // Escapes stand for whole characters, so the text is well-formed UTF-8
  // exactly when the content is.
  size_t size = static_cast<size_t>(p_ - 1 - start);
  if (high && !is_valid_utf8(start, size)) return absent(fail_here("invalid unicode code point"));
  return JsonValue::make_escaped_string_ref(start, size);
}

// Four hexadecimal digits after the 'u' at `u`.
bool Reader::read_hex_unit(const char* u, uint32_t& unit) {
  if (end_ - (u + 1) < 4) return fail_eof("EOF while parsing a string");
  uint32_t value = 0;
  for (int i = 1; i <= 4; ++i) {
    int h = hex_value(u[i]);
    if (h < 0) return fail_at("invalid escape", u + 4);
    value = (value << 4) | static_cast<uint32_t>(h);
  }
  unit = value;
  p_ = u + 5;
  return true;
}

// With kDecode, appends what the escape stands for to the scratch text;
// without, only checks it.
template <bool kDecode>
bool Reader::read_escape(bool& plain, bool& high, bool& canonical) {
  ++p_;  // backslash
  if (p_ == end_) return fail_eof("EOF while parsing a string");
  char produced;
  switch (*p_) {
    case '"': produced = '"'; break;
    case '\\': produced = '\\'; break;
    case '/':
      produced = '/';
      canonical = false;  // written back as a plain slash
      break;
    case 'b': produced = '\b'; break;
    case 'f': produced = '\f'; break;
    case 'n': produced = '\n'; break;
    case 'r': produced = '\r'; break;
    case 't': produced = '\t'; break;
    case 'u': {
      const char* u = p_;
      uint32_t unit;
      if (!read_hex_unit(p_, unit)) return false;
      uint32_t code_point = unit;
      // The writer uses \u00xx, in lower case, only for the controls that
      // have no short escape.
      bool short_form = unit == 0x08 || unit == 0x09 || unit == 0x0a || unit == 0x0c || unit == 0x0d;
      if (unit >= 0x20 || short_form || (u[4] >= 'A' && u[4] <= 'F')) canonical = false;
      if (unit >= 0xdc00 && unit <= 0xdfff) return fail_here("lone leading surrogate in hex escape");
      if (unit >= 0xd800 && unit <= 0xdbff) {
        if (p_ == end_) return fail_eof("EOF while parsing a string");
        if (*p_ != '\\') return fail_at("unexpected end of hex escape", p_);
        ++p_;
        if (p_ == end_) return fail_eof("EOF while parsing a string");
        if (*p_ != 'u') return fail_at("unexpected end of hex escape", p_);
        uint32_t low;
        if (!read_hex_unit(p_, low)) return false;
        if (low < 0xdc00 || low > 0xdfff) return fail_here("lone leading surrogate in hex escape");
        code_point = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
      }
      if constexpr (kDecode) scratch_.advance(encode_utf8(code_point, scratch_.room(4)));
      if (code_point < 0x20 || code_point == '"' || code_point == '\\') plain = false;
      if (code_point >= 0x80) high = true;
      return true;
    }
    default: return fail_at("invalid escape", p_);
  }
  ++p_;
  if constexpr (kDecode) scratch_.push_back(produced);
  if (kStringSpecial.special[static_cast<unsigned char>(produced)]) plain = false;
  return true;
}

JsonValue Reader::read_number() {
  bool negative = false;
  if (*p_ == '-') {
    negative = true;
    ++p_;
    if (p_ == end_) return absent(fail_eof("EOF while parsing a value"));
    if (!is_digit(*p_)) return absent(fail_at("invalid number", p_));
  }
  uint64_t significand = static_cast<uint64_t>(*p_ - '0');
  ++p_;
  int64_t exponent = 0;  // decimal exponent; kept within 32 bits
  bool integer_dropped = false;
  bool is_float = false;
  if (significand == 0) {
    if (p_ < end_ && is_digit(*p_)) return absent(fail_at("invalid number", p_));
  } else {
    // The common case: the whole run fits and is taken at once; otherwise
    // digit by digit, with the overflow test.
    size_t run = digit_run_length(p_, end_);
    if (digits_fit(significand, run)) {
      significand = significand * kPow10Integer[run] + digits_value(p_, run);
      p_ += run;
    }
    while (p_ < end_ && is_digit(*p_)) {
      unsigned d = static_cast<unsigned>(*p_ - '0');
      if (!integer_dropped && digit_fits(significand, d)) {
        significand = significand * 10 + d;
      } else {
        integer_dropped = true;
        if (exponent < std::numeric_limits<int32_t>::max()) ++exponent;
      }
      ++p_;
    }
  }
  if (p_ < end_ && *p_ == '.') {
    is_float = true;
    ++p_;
    if (p_ == end_) return absent(fail_eof("EOF while parsing a value"));
    if (!is_digit(*p_)) return absent(fail_at("invalid number", p_));
    size_t run = digit_run_length(p_, end_);
    if (digits_fit(significand, run)) {
      significand = significand * kPow10Integer[run] + digits_value(p_, run);
      exponent -= static_cast<int64_t>(run);
      p_ += run;
    }
    bool fraction_dropped = false;
    while (p_ < end_ && is_digit(*p_)) {
      unsigned d = static_cast<unsigned>(*p_ - '0');
      if (!fraction_dropped && digit_fits(significand, d)) {
        significand = significand * 10 + d;
        --exponent;
      } else {
        fraction_dropped = true;
      }
      ++p_;
    }
    exponent = std::max<int64_t>(exponent, std::numeric_limits<int32_t>::min());
  }
  if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
    is_float = true;
    ++p_;
    bool exponent_negative = false;
    if (p_ < end_ && (*p_ == '+' || *p_ == '-')) {
      exponent_negative = *p_ == '-';
      ++p_;
    }
    if (p_ == end_) return absent(fail_eof("EOF while parsing a value"));
    if (!is_digit(*p_)) return absent(fail_at("invalid number", p_));
    int32_t x = 0;
    while (p_ < end_ && is_digit(*p_)) {
      int d = *p_ - '0';
      ++p_;
      if (x < 214748364 || (x == 214748364 && d <= 7)) {
        x = x * 10 + d;
        continue;
      }
      if (significand != 0 && !exponent_negative) return absent(fail_here("number out of range"));
      while (p_ < end_ && is_digit(*p_)) ++p_;
      return JsonValue::make_double(negative ? -0.0 : 0.0);
    }
    exponent = exponent_negative ? exponent - x : exponent + x;
    exponent = std::clamp<int64_t>(exponent, std::numeric_limits<int32_t>::min(),
                                   std::numeric_limits<int32_t>::max());
  }

  if (!is_float && !integer_dropped) {
    if (!negative) return JsonValue::make_unsigned(significand);
    if (significand >= 1 && significand <= 9223372036854775808ULL) {
      return JsonValue::make_negative(static_cast<int64_t>(0 - significand));
    }
    return JsonValue::make_double(-static_cast<double>(significand));
  }

  double x = static_cast<double>(significand);
  if (significand != 0 && significand < kShortDecimalLimit && exponent >= -22 && exponent <= 22) {
    // Both the significand and the power of ten are exact doubles, so the
    // one rounding below gives the nearest double; with at most 15 digits
    // no shorter text reads back as that double, so these digits, less their
    // trailing zeros, are the ones the writer would search for.
    x = exponent < 0 ? x / kPow10[-exponent] : x * kPow10[exponent];
    int shifted = static_cast<int>(exponent);
    while (significand % 10 == 0) {
      significand /= 10;
      ++shifted;
    }
    return JsonValue::make_short_decimal(negative ? -x : x, significand, shifted);
  }
  while (exponent > 308 || exponent < -308) {
    if (x == 0) {
      return JsonValue::make_double(negative ? -0.0 : 0.0);
    }
    if (exponent >= 0) return absent(fail_here("number out of range"));
    x /= 1e308;
    exponent += 308;
  }
  if (exponent < 0) {
    x /= kPow10[-exponent];
  } else {
    x *= kPow10[exponent];
    if (std::isinf(x)) return absent(fail_here("number out of range"));
  }
  return JsonValue::make_double(negative ? -x : x);
}

// Which non-ASCII code points the debug quoting shows escaped.
struct CodePointRange {
  uint32_t first;
  uint32_t last;
};
constexpr CodePointRange kDebugEscaped[] = {
#include "json/debug_escape_table.inc"
};

bool debug_escaped(uint32_t cp) {
  const CodePointRange* it =
      std::upper_bound(std::begin(kDebugEscaped), std::end(kDebugEscaped), cp,
                       [](uint32_t v, const CodePointRange& r) { return v < r.first; });
  return it != std::begin(kDebugEscaped) && cp <= (it - 1)->last;
}

}  // namespace

std::string debug_quote(std::string_view utf8) {
  std::string out = "\"";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    const unsigned char* char_start = p;
    uint32_t cp = decode_utf8(p);
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case 0: out += "\\0"; continue;
      default: break;
    }
    bool escaped = cp < 0x20 || cp == 0x7f || (cp >= 0x80 && debug_escaped(cp));
    if (escaped) {
      char buf[16];
      int n = std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
      out.append(buf, static_cast<size_t>(n));
    } else {
      out.append(reinterpret_cast<const char*>(char_start), static_cast<size_t>(p - char_start));
    }
  }
  out += '"';
  return out;
}

std::string describe(const JsonError& error) {
  return error.message + " at line " + std::to_string(error.line) + " column " +
         std::to_string(error.column);
}

namespace {

ParseOutcome read_rows(std::string_view input, RowVisitor* visitor) {
  // Most documents need about as much tree as text; one chunk of that size
  // avoids growing the arena many times (untouched pages cost nothing).
  auto document = std::make_unique<JsonDocument>(std::max<size_t>(16 * 1024, input.size() + input.size() / 2));
  Reader reader(input, *document);
  std::vector<JsonValue> rows;
  if (!reader.read_document(rows, visitor)) return ParseOutcome(reader.error());
  return ParseOutcome(RowArray(std::move(document), std::move(rows)));
}

}  // namespace

ParseOutcome parse_row_array(std::string_view input) { return read_rows(input, nullptr); }

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor) { return read_rows(input, &visitor); }

}  // namespace tamsel::json
