// The JSON value tree: six kinds, three number variants, objects that keep
// insertion order and unique keys.
//
// Values are small handles (16 bytes). Their content lives in a JsonDocument:
// its arena holds arrays, objects and decoded strings, and its key table holds
// every member name once. A string read from input without escapes, or with
// escapes all in the writer's own form, points straight into that input, so
// a document read by the reader borrows the input text and must not outlive
// it.
#pragma once

#include <cstddef>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/arena.h"

namespace tamsel::json {

enum class JsonKind : uint8_t { null, boolean, number, string, array, object };

enum class NumberVariant : uint8_t { unsigned_int, negative_int, floating };

class JsonDocument;

// One interned member name. Within one document, equal names share one
// JsonKey, so names compare by pointer; `id` numbers them densely from 0.
struct JsonKey {
  const char* data;
  size_t size;
  uint32_t hash;
  uint32_t id;
  const JsonDocument* owner;
  bool plain;     // no byte needs escaping when written
  uint64_t head;  // the first min(size, 8) bytes, zero-padded
  uint64_t tail;  // the last 8 bytes when size >= 8, else 0
  // What input that starts with this name holds in its first eight bytes,
  // under `lead_mask`: the name's first eight bytes, or all its bytes and
  // the closing quote when it is shorter, so that a reader settles most
  // names with one word of input. A name that is not plain never appears in
  // input as it is (its input has escapes): its mask is 0 and its lead 1,
  // which no word matches.
  uint64_t lead;
  uint64_t lead_mask;

  std::string_view view() const { return {data, size}; }
};

struct JsonObject;
struct JsonMember;

class JsonValue {
 public:
  JsonValue() : meta_(static_cast<uint64_t>(JsonKind::null)), bits_(0) {}

  static JsonValue make_null() { return JsonValue(); }
  // Not a value: what a reading step hands back when it could not make one.
  // It is never part of a tree.
  static JsonValue absent() { return JsonValue(kAbsent, 0, 0, 0); }
  bool is_absent() const { return kind() == kAbsent; }
  static JsonValue make_bool(bool b) { return JsonValue(JsonKind::boolean, b ? 1 : 0, 0, b ? 1 : 0); }
  static JsonValue make_unsigned(uint64_t v) {
    return JsonValue(JsonKind::number, static_cast<uint8_t>(NumberVariant::unsigned_int), 0, v);
  }
  static JsonValue make_negative(int64_t v) {
    return JsonValue(JsonKind::number, static_cast<uint8_t>(NumberVariant::negative_int), 0,
                     static_cast<uint64_t>(v));
  }
  static JsonValue make_double(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return JsonValue(JsonKind::number, static_cast<uint8_t>(NumberVariant::floating), 0, bits);
  }
  // A float read from a literal whose digits are its shortest text:
  // `digits` x 10^`exponent` (digits below 2^40, no trailing zero, exponent
  // within +-100) with `v` the double it reads as. The writer lays the digits
  // out without searching for them. Digits too many to keep here are given
  // as 0, with the (negative) exponent alone: the writer then tries that
  // exponent first (shortest_digits_at in shortest_double.h).
  static JsonValue make_short_decimal(double v, uint64_t digits, int exponent) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return JsonValue(JsonKind::number, static_cast<uint8_t>(NumberVariant::floating) | kShortDecimal,
                     digits << 8 | static_cast<uint64_t>(exponent + 128), bits);
  }
  // `plain`: the bytes contain no quote, backslash or control byte, so the
  // writer can copy them as they are. The bytes are not copied.
  static JsonValue make_string_ref(const char* data, size_t size, bool plain) {
    return JsonValue(JsonKind::string, plain ? kPlainString : 0, size,
                     reinterpret_cast<uint64_t>(data));
  }
  // A string given by its text as the writer would write it (between the
  // quotes), not by its content: the reader keeps strings whose escapes are
  // all in the writer's own form this way, pointing into the input, so that
  // neither decoding nor copying them is needed. The text is not copied.
  static JsonValue make_escaped_string_ref(const char* text, size_t size) {
    return JsonValue(JsonKind::string, kEscapedForm, size, reinterpret_cast<uint64_t>(text));
  }
  static JsonValue make_array_ref(const JsonValue* items, size_t size) {
    return JsonValue(JsonKind::array, 0, size, reinterpret_cast<uint64_t>(items));
  }
  static JsonValue make_object_ref(const JsonObject* object) {
    return JsonValue(JsonKind::object, 0, 0, reinterpret_cast<uint64_t>(object));
  }

  JsonKind kind() const { return static_cast<JsonKind>(meta_ & 0xff); }
  bool is_null() const { return kind() == JsonKind::null; }
  bool is_object() const { return kind() == JsonKind::object; }

  bool as_bool() const { return bits_ != 0; }
  NumberVariant number_variant() const { return static_cast<NumberVariant>(flags() & kVariantBits); }
  bool is_short_decimal() const { return (flags() & kShortDecimal) != 0; }
  uint64_t short_decimal_digits() const { return size_field() >> 8; }
  int short_decimal_exponent() const { return static_cast<int>(size_field() & 0xff) - 128; }
  uint64_t as_unsigned() const { return bits_; }
  int64_t as_negative() const { return static_cast<int64_t>(bits_); }
  double as_double() const {
    double d;
    std::memcpy(&d, &bits_, sizeof d);
    return d;
  }

  // The content, or for a string in escaped form its escaped text.
  const char* string_data() const { return reinterpret_cast<const char*>(bits_); }
  size_t string_size() const { return size_field(); }
  // The content; only for strings not in escaped form (see string_content).
  std::string_view as_string() const { return {string_data(), string_size()}; }
  bool string_is_plain() const { return (flags() & kPlainString) != 0; }
  bool string_is_escaped() const { return (flags() & kEscapedForm) != 0; }
  // Plain content and escaped text are both written exactly as they are.
  bool string_is_written_as_is() const { return (flags() & (kPlainString | kEscapedForm)) != 0; }

  std::span<const JsonValue> as_array() const {
    return {reinterpret_cast<const JsonValue*>(bits_), size_field()};
  }
  const JsonObject& as_object() const { return *reinterpret_cast<const JsonObject*>(bits_); }

 private:
  static constexpr JsonKind kAbsent = static_cast<JsonKind>(0xff);
  static constexpr uint8_t kPlainString = 1;
  static constexpr uint8_t kEscapedForm = 2;
  // Numbers: the variant in the low bits, and whether a float also has its
  // short decimal form.
  static constexpr uint8_t kVariantBits = 3;
  static constexpr uint8_t kShortDecimal = 4;

  JsonValue(JsonKind kind, uint8_t flags, uint64_t size, uint64_t bits)
      : meta_(static_cast<uint64_t>(kind) | (static_cast<uint64_t>(flags) << 8) | (size << 16)),
        bits_(bits) {}
  uint8_t flags() const { return static_cast<uint8_t>(meta_ >> 8); }
  size_t size_field() const { return static_cast<size_t>(meta_ >> 16); }

  uint64_t meta_;  // kind | flags << 8 | size << 16 (sizes up to 2^48 - 1)
  uint64_t bits_;  // number bits, or the address of the content
};

static_assert(sizeof(JsonValue) == 16);

// One member as seen through JsonObject's iteration.
struct JsonMember {
  const JsonKey* key;
  const JsonValue& value;
};

// An object: member names and values in insertion order, kept in two arrays.
// Objects read one after another with the same names in the same order (rows,
// mostly) share one array of names, their shape. Larger objects also get a
// hash index from name to position; smaller ones are searched directly,
// which is faster.
struct JsonObject {
  const JsonKey* const* keys = nullptr;
  JsonValue* values = nullptr;
  uint32_t* index = nullptr;  // slots hold position + 1; 0 is empty
  uint32_t size = 0;

  // The index has bit_ceil(2 * size) slots.
  size_t index_mask() const { return std::bit_ceil(size_t{size} * 2) - 1; }

  static constexpr size_t kIndexThreshold = 32;

  class Iterator {
   public:
    Iterator(const JsonObject* object, size_t i) : object_(object), i_(i) {}
    JsonMember operator*() const { return {object_->keys[i_], object_->values[i_]}; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return i_ != other.i_; }

   private:
    const JsonObject* object_;
    size_t i_;
  };
  struct Range {
    const JsonObject* object;
    Iterator begin() const { return {object, 0}; }
    Iterator end() const { return {object, object->size}; }
  };

  Range entries() const { return {this}; }
  size_t count() const { return size; }
  const JsonValue* find(const JsonKey& key) const;
};

// A member name as the key table looks it up: its bytes, its first eight
// bytes (zero-padded), its last eight when it has that many (else 0), and its
// hash. Names up to 16 bytes compare and hash as those two words.
struct KeyText {
  const char* data;
  size_t size;
  uint64_t head;
  uint64_t tail;
  uint32_t hash;
};

inline uint32_t hash_short_key(uint64_t head, uint64_t tail, size_t size) {
  uint64_t h = head * 0x9e3779b97f4a7c15ULL;
  h = (std::rotl(h, 31) ^ tail ^ size) * 0xbf58476d1ce4e5b9ULL;
  h ^= h >> 29;
  h *= 0x94d049bb133111ebULL;
  return static_cast<uint32_t>(h >> 32);
}

KeyText key_text(const char* data, size_t size);

// The same, for a name with at least 16 bytes readable from `data` (the
// input goes on past it): short names are then read as whole words.
inline KeyText key_text_in_place(const char* data, size_t size) {
  if (size > 16) return key_text(data, size);
  uint64_t head, tail = 0;
  std::memcpy(&head, data, 8);
  if (size < 8) {
    head &= (uint64_t{1} << (8 * size)) - 1;
  } else {
    std::memcpy(&tail, data + size - 8, 8);
  }
  return KeyText{data, size, head, tail, hash_short_key(head, tail, size)};
}
inline uint32_t hash_key_bytes(const char* data, size_t size) { return key_text(data, size).hash; }

// Owns the storage of a tree of values: the arena and the key table.
class JsonDocument {
 public:
  explicit JsonDocument(size_t first_chunk_bytes = 16 * 1024);
  // The arena starts in the caller's block (see Arena).
  JsonDocument(void* block, size_t block_bytes, size_t next_chunk_bytes)
      : arena_(block, block_bytes, next_chunk_bytes) {}
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;

  Arena& arena() { return arena_; }

  // Returns the document's key for `name`, adding it if new. `borrow` lets the
  // key point at `name` instead of a copy (its bytes must outlive the
  // document); `plain` says no byte of it needs escaping.
  const JsonKey* intern(const KeyText& name, bool borrow, bool plain);
  // Sizes the key table, when it is first made, for about `count` names, so
  // that a document whose reader expects many names skips the first growth
  // steps (each rehashes every name). No effect once the table exists.
  void expect_names(size_t count);

  // Merges repeated names in place: the last value wins, at the first
  // position. Returns the number of members kept.
  size_t merge_repeated_keys(const JsonKey** keys, JsonValue* values, size_t size);
  // An object over arrays already in this document's arena; names must be
  // unique. Builds the index when the object is large.
  JsonObject* make_object(const JsonKey* const* keys, JsonValue* values, size_t size) {
    // Most objects are small: made here, without a call or an index.
    if (size > JsonObject::kIndexThreshold) return make_large_object(keys, values, size);
    JsonObject* object = arena_.allocate_array<JsonObject>(1);
    *object = JsonObject{keys, values, nullptr, static_cast<uint32_t>(size)};
    return object;
  }

  // Copies into the arena the text of every name borrowed from
  // [begin, end), so that those bytes may go away while the document lives.
  void copy_names_from(const char* begin, const char* end);

 private:
  void grow_key_table();
  void build_index(JsonObject& object);  // for objects past JsonObject::kIndexThreshold
  JsonObject* make_large_object(const JsonKey* const* keys, JsonValue* values, size_t size);

  Arena arena_;
  // The key table: open addressing, each slot holding the name's hash, so
  // that a probe past another name reads one slot and no key. Slots are kept
  // to 16 bytes: the table is cleared when made and lives in the arena (a
  // small document needs no other memory), and a name found by its hash is
  // about to be read anyway.
  struct KeySlot {
    uint32_t hash;
    uint32_t id_plus_one;  // 0: empty
    const JsonKey* key;
  };
  static_assert(sizeof(KeySlot) == 16);
  static KeySlot* empty_key_slots(Arena& arena, size_t capacity);
  static void place(KeySlot* slots, size_t mask, const JsonKey* key);
  KeySlot* key_slots_ = nullptr;
  size_t key_mask_ = 0;
  size_t first_key_capacity_ = 4;  // a power of two
  uint32_t key_count_ = 0;
  // Scratch for merging repeated keys, by key id, in the arena: the object
  // being merged stamps each key id it has met with its serial, and notes
  // the member's position.
  struct MergeMark {
    uint32_t stamp;
    uint32_t position;
  };
  MergeMark* merge_marks_ = nullptr;
  size_t merge_mark_count_ = 0;
  uint32_t merge_serial_ = 0;
  uint32_t next_merge_serial();
};

// Equality of two values: kinds must match; numbers must have the same
// variant and value (floats compare as IEEE doubles); objects ignore order.
bool values_equal(const JsonValue& a, const JsonValue& b);

// The content of a string value, whatever its form.
std::string string_content(const JsonValue& s);

}  // namespace tamsel::json
