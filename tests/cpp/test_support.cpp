#include "test_support.h"

#include <algorithm>

#include "json/scan.h"

namespace tamsel::testing {

using json::JsonKey;
using json::JsonObject;
using json::JsonValue;

namespace {

// No byte of `bytes` needs escaping when written.
bool is_plain(std::string_view bytes) {
  return json::find_string_special(bytes.data(), bytes.data() + bytes.size()) == bytes.data() + bytes.size();
}

}  // namespace

JsonValue BuildingDocument::make_string(std::string_view bytes) {
  const char* data = arena().copy_bytes(bytes.data(), bytes.size());
  return JsonValue::make_string_ref(data, bytes.size(), is_plain(bytes));
}

JsonValue BuildingDocument::make_array(std::span<const JsonValue> items) {
  JsonValue* copy = arena().allocate_array<JsonValue>(items.size());
  std::copy(items.begin(), items.end(), copy);
  return JsonValue::make_array_ref(copy, items.size());
}

JsonObject* BuildingDocument::make_object() { return JsonDocument::make_object(nullptr, nullptr, 0); }

void BuildingDocument::insert(JsonObject& object, std::string_view name, const JsonValue& value) {
  const JsonKey* key = intern(json::key_text(name.data(), name.size()), false, is_plain(name));
  for (size_t i = 0; i < object.size; ++i) {
    if (object.keys[i] == key) {
      object.values[i] = value;
      return;
    }
  }
  // New arrays each time: a test object is small, and its names may be a
  // shape shared with other objects.
  const size_t size = object.size + 1;
  const JsonKey** keys = arena().allocate_array<const JsonKey*>(size);
  JsonValue* values = arena().allocate_array<JsonValue>(size);
  std::copy(object.keys, object.keys + object.size, keys);
  std::copy(object.values, object.values + object.size, values);
  keys[size - 1] = key;
  values[size - 1] = value;
  object = *JsonDocument::make_object(keys, values, size);
}

}  // namespace tamsel::testing
