#include "json/value.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "json/escape_form.h"
#include "support/fault.h"

namespace tamsel::json {

namespace {

inline uint64_t load_partial(const char* p, size_t n) {
  uint64_t v = 0;
  std::memcpy(&v, p, n);
  return v;
}

inline uint64_t mix(uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ULL;
  h ^= h >> 32;
  return h;
}

bool same_key(const JsonKey& a, const JsonKey& b) {
  if (&a == &b) return true;
  if (a.owner == b.owner) return false;  // interned: one key per name
  return a.hash == b.hash && a.size == b.size && std::memcmp(a.data, b.data, a.size) == 0;
}

size_t index_capacity_for(size_t size) { return std::bit_ceil(size * 2); }

// By the size of a name shorter than eight bytes: its closing quote in its
// first word, and the bytes that the name and quote fill (JsonKey::lead).
constexpr uint64_t kLeadQuote[8] = {0x22,         0x2200,         0x220000,         0x22000000,
                                    0x2200000000, 0x220000000000, 0x22000000000000, 0x2200000000000000};
constexpr uint64_t kLeadMask[8] = {0xff,         0xffff,         0xffffff,         0xffffffff,
                                   0xffffffffff, 0xffffffffffff, 0xffffffffffffff, ~uint64_t{0}};

}  // namespace

KeyText key_text(const char* data, size_t size) {
  KeyText t{data, size, load_partial(data, size < 8 ? size : 8), size >= 8 ? load_partial(data + size - 8, 8) : 0, 0};
  if (size <= 16) {
    t.hash = hash_short_key(t.head, t.tail, size);
    return t;
  }
  uint64_t h = 0x9e3779b97f4a7c15ULL ^ (size * 0xff51afd7ed558ccdULL);
  const char* p = data;
  for (size_t left = size; left >= 8; left -= 8, p += 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 29;
  }
  h = (h ^ t.tail) * 0x94d049bb133111ebULL;
  t.hash = static_cast<uint32_t>(mix(h));
  return t;
}

// ---------------------------------------------------------------- objects

const JsonValue* JsonObject::find(const JsonKey& key) const {
  if (index == nullptr) {
    for (size_t i = 0; i < size; ++i) {
      if (same_key(*keys[i], key)) return &values[i];
    }
    return nullptr;
  }
  const size_t mask = index_mask();
  for (size_t slot = key.hash & mask;; slot = (slot + 1) & mask) {
    uint32_t entry = index[slot];
    if (entry == 0) return nullptr;
    if (same_key(*keys[entry - 1], key)) return &values[entry - 1];
  }
}

// ---------------------------------------------------------------- documents

JsonDocument::JsonDocument(size_t first_chunk_bytes) : arena_(first_chunk_bytes) {}

JsonDocument::KeySlot* JsonDocument::empty_key_slots(Arena& arena, size_t capacity) {
  KeySlot* slots = arena.allocate_array<KeySlot>(capacity);
  std::memset(static_cast<void*>(slots), 0, capacity * sizeof(KeySlot));
  return slots;
}

// Into the first free slot from the key's home.
void JsonDocument::place(KeySlot* slots, size_t mask, const JsonKey* key) {
  size_t slot = key->hash & mask;
  while (slots[slot].id_plus_one != 0) slot = (slot + 1) & mask;
  slots[slot] = KeySlot{key->hash, key->id + 1, key};
}

void JsonDocument::expect_names(size_t count) {
  // Room for twice the names, as the table grows once half full; bounded, as
  // the count is a guess and an empty slot costs its clearing.
  constexpr size_t kMostFirstCapacity = 512;
  if (key_slots_ == nullptr) first_key_capacity_ = std::clamp<size_t>(std::bit_ceil(2 * count), 4, kMostFirstCapacity);
}

void JsonDocument::grow_key_table() {
  // Small documents have few names; the table doubles as they come.
  if (key_slots_ == nullptr) {
    key_slots_ = empty_key_slots(arena_, first_key_capacity_);
    key_mask_ = first_key_capacity_ - 1;
    return;
  }
  const size_t old_capacity = key_mask_ + 1;
  const size_t capacity = old_capacity * 2;
  KeySlot* slots = empty_key_slots(arena_, capacity);
  for (size_t i = 0; i < old_capacity; ++i) {
    if (key_slots_[i].id_plus_one != 0) place(slots, capacity - 1, key_slots_[i].key);
  }
  key_slots_ = slots;
  key_mask_ = capacity - 1;
}

const JsonKey* JsonDocument::intern(const KeyText& name, bool borrow, bool plain) {
  if (key_slots_ == nullptr) grow_key_table();
  const size_t size = name.size;
  size_t slot = name.hash & key_mask_;
  for (;; slot = (slot + 1) & key_mask_) {
    const KeySlot& entry = key_slots_[slot];
    if (entry.id_plus_one == 0) break;
    if (entry.hash == name.hash) {
      const JsonKey* key = entry.key;
      if (key->head == name.head && key->tail == name.tail && key->size == size &&
          (size <= 16 || std::memcmp(key->data + 8, name.data + 8, size - 16) == 0)) {
        return key;
      }
    }
  }
  if (key_count_ >= UINT32_MAX - 1) raise_fault("too many distinct member names");
  JsonKey* key = arena_.allocate_array<JsonKey>(1);
  key->data = borrow ? name.data : arena_.copy_bytes(name.data, size);
  key->size = size;
  key->hash = name.hash;
  key->id = key_count_;
  key->owner = this;
  key->plain = plain;
  key->head = name.head;
  key->tail = name.tail;
  key->lead = name.head;
  key->lead_mask = ~uint64_t{0};
  if (size < 8) {
    key->lead |= kLeadQuote[size];
    key->lead_mask = kLeadMask[size];
  }
  if (!plain) {
    key->lead = 1;
    key->lead_mask = 0;
  }
  ++key_count_;
  key_slots_[slot] = KeySlot{key->hash, key->id + 1, key};
  if (size_t{key_count_} * 2 > key_mask_ + 1) grow_key_table();
  return key;
}

void JsonDocument::copy_names_from(const char* begin, const char* end) {
  if (key_slots_ == nullptr) return;
  for (size_t slot = 0; slot <= key_mask_; ++slot) {
    if (key_slots_[slot].id_plus_one == 0) continue;
    // Every key is made by intern, in this document's arena, as a JsonKey
    // that is not const.
    JsonKey* key = const_cast<JsonKey*>(key_slots_[slot].key);
    if (key->size != 0 && key->data >= begin && key->data < end) key->data = arena_.copy_bytes(key->data, key->size);
  }
}

void JsonDocument::build_index(JsonObject& object) {
  size_t capacity = index_capacity_for(object.size);
  uint32_t* slots = arena_.allocate_array<uint32_t>(capacity);
  std::memset(slots, 0, capacity * sizeof(uint32_t));
  size_t mask = capacity - 1;
  for (size_t i = 0; i < object.size; ++i) {
    size_t slot = object.keys[i]->hash & mask;
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = static_cast<uint32_t>(i + 1);
  }
  object.index = slots;
}

size_t JsonDocument::merge_repeated_keys(const JsonKey** keys, JsonValue* values, size_t size) {
  if (size < 2) return size;
  // A few members compare among themselves faster than the marks below
  // are made ready, and most objects are small. Keys are interned, so equal
  // names are the same key.
  constexpr size_t kPairwiseLimit = 8;
  if (size <= kPairwiseLimit) {
    size_t kept = 0;
    for (size_t i = 0; i < size; ++i) {
      size_t j = 0;
      while (j < kept && keys[j] != keys[i]) ++j;
      if (j < kept) {
        values[j] = values[i];
        continue;
      }
      keys[kept] = keys[i];
      values[kept] = values[i];
      ++kept;
    }
    return kept;
  }
  if (size >= UINT32_MAX / 2) raise_fault("object has too many members");
  if (merge_mark_count_ < key_count_) {
    // Stamps only matter within one merge, so the old marks need no copying.
    const size_t count = size_t{key_count_} + key_count_ / 2;
    merge_marks_ = arena_.allocate_array<MergeMark>(count);
    merge_mark_count_ = count;
    std::memset(static_cast<void*>(merge_marks_), 0, count * sizeof(MergeMark));
  }
  // Most objects have no repeated name: a first pass only looks for one,
  // stamping ids without noting positions or moving members.
  uint32_t serial = next_merge_serial();
  size_t first_repeat = 0;
  for (const JsonKey* const* k = keys; k != keys + size; ++k) {
    uint32_t& stamp = merge_marks_[(*k)->id].stamp;
    if (stamp == serial) {
      first_repeat = static_cast<size_t>(k - keys);
      break;
    }
    stamp = serial;
  }
  if (first_repeat == 0) return size;  // the first member never repeats an earlier one
  serial = next_merge_serial();
  size_t kept = 0;
  for (size_t i = 0; i < size; ++i) {
    uint32_t id = keys[i]->id;
    MergeMark& mark = merge_marks_[id];
    if (mark.stamp == serial) {
      values[mark.position] = values[i];
      continue;
    }
    mark = MergeMark{serial, static_cast<uint32_t>(kept)};
    if (kept != i) {
      keys[kept] = keys[i];
      values[kept] = values[i];
    }
    ++kept;
  }
  return kept;
}

// A serial no mark holds yet.
uint32_t JsonDocument::next_merge_serial() {
  if (++merge_serial_ == 0) {  // wrapped: old stamps could collide
    std::memset(static_cast<void*>(merge_marks_), 0, merge_mark_count_ * sizeof(MergeMark));
    merge_serial_ = 1;
  }
  return merge_serial_;
}

JsonObject* JsonDocument::make_large_object(const JsonKey* const* keys, JsonValue* values, size_t size) {
  if (size >= UINT32_MAX / 2) raise_fault("object has too many members");
  JsonObject* object = arena_.allocate_array<JsonObject>(1);
  *object = JsonObject{keys, values, nullptr, static_cast<uint32_t>(size)};
  build_index(*object);
  return object;
}

// ---------------------------------------------------------------- strings

std::string string_content(const JsonValue& s) {
  if (!s.string_is_escaped()) return std::string(s.as_string());
  const char* p = s.string_data();
  const char* end = p + s.string_size();
  std::string content;
  content.reserve(s.string_size());
  while (p < end) {
    const char* backslash = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
    if (backslash == nullptr) backslash = end;
    content.append(p, backslash);
    if (backslash == end) break;
    size_t length;
    content.push_back(decode_written_escape(backslash, length));
    p = backslash + length;
  }
  return content;
}

// ---------------------------------------------------------------- equality

bool values_equal(const JsonValue& a, const JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::null: return true;
    case JsonKind::boolean: return a.as_bool() == b.as_bool();
    case JsonKind::number:
      if (a.number_variant() != b.number_variant()) return false;
      if (a.number_variant() == NumberVariant::floating) return a.as_double() == b.as_double();
      return a.as_unsigned() == b.as_unsigned();
    case JsonKind::string: {
      // Escaped text is unique to its content, so two strings of the same
      // form compare by their bytes. Content with nothing to escape never
      // equals a string in escaped form; anything else is decoded.
      if (a.string_is_escaped() == b.string_is_escaped()) {
        return a.string_size() == b.string_size() &&
               std::memcmp(a.string_data(), b.string_data(), a.string_size()) == 0;
      }
      const JsonValue& content = a.string_is_escaped() ? b : a;
      if (content.string_is_plain()) return false;
      return string_content(a) == string_content(b);
    }
    case JsonKind::array: {
      auto x = a.as_array();
      auto y = b.as_array();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!values_equal(x[i], y[i])) return false;
      }
      return true;
    }
    case JsonKind::object: {
      const JsonObject& x = a.as_object();
      const JsonObject& y = b.as_object();
      if (x.size != y.size) return false;
      for (size_t i = 0; i < x.size; ++i) {
        // Objects of one document usually share member order: try the same
        // position first.
        const JsonValue* other = y.keys[i] == x.keys[i] ? &y.values[i] : y.find(*x.keys[i]);
        if (other == nullptr || !values_equal(x.values[i], *other)) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace tamsel::json
