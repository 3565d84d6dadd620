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

JsonValue BuildingDocument::copy(const JsonValue& value) {
  switch (value.kind()) {
    case json::JsonKind::null:
    case json::JsonKind::boolean:
    case json::JsonKind::number: return value;
    case json::JsonKind::string: {
      const char* data = arena().copy_bytes(value.string_data(), value.string_size());
      if (value.string_is_escaped()) return JsonValue::make_escaped_string_ref(data, value.string_size());
      return JsonValue::make_string_ref(data, value.string_size(), value.string_is_plain());
    }
    case json::JsonKind::array: {
      auto items = value.as_array();
      JsonValue* copy_items = arena().allocate_array<JsonValue>(items.size());
      for (size_t i = 0; i < items.size(); ++i) copy_items[i] = copy(items[i]);
      return JsonValue::make_array_ref(copy_items, items.size());
    }
    case json::JsonKind::object: {
      const JsonObject& source = value.as_object();
      const JsonKey** keys = arena().allocate_array<const JsonKey*>(source.size);
      JsonValue* values = arena().allocate_array<JsonValue>(source.size);
      for (size_t i = 0; i < source.size; ++i) {
        const JsonKey& k = *source.keys[i];
        keys[i] = intern(json::KeyText{k.data, k.size, k.head, k.tail, k.hash}, false, k.plain);
        values[i] = copy(source.values[i]);
      }
      return JsonValue::make_object_ref(JsonDocument::make_object(keys, values, source.size));
    }
  }
  return value;
}

}  // namespace tamsel::testing
