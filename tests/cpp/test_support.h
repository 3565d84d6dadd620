// Helpers for test documents: reading them while keeping the input text alive
// beside the values that borrow it, and building values by hand.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "json/kernel.h"
#include "json/reader.h"

namespace tamsel::testing {

struct Parsed {
  std::unique_ptr<std::string> text;
  json::ParseOutcome outcome;

  const json::JsonValue& first() const { return outcome.rows().rows()[0]; }
};

// The whole input read by the active kernel's reader into a document the
// outcome owns.
inline json::ParseOutcome read_rows(std::string_view input) {
  return json::active_kernel_entry().read_rows(input, nullptr, nullptr);
}

inline Parsed parse(std::string text) {
  auto owned = std::make_unique<std::string>(std::move(text));
  json::ParseOutcome outcome = read_rows(*owned);
  return Parsed{std::move(owned), std::move(outcome)};
}

// The single value written as `text`, read as the element of a one-element array.
inline Parsed parse_value(const std::string& text) { return parse("[" + text + "]"); }

// A document with builders for values made by hand; each copies what it is
// given into the document.
class BuildingDocument : public json::JsonDocument {
 public:
  json::JsonValue make_string(std::string_view bytes);
  json::JsonValue make_array(std::span<const json::JsonValue> items);
  json::JsonObject* make_object();
  // Inserts or replaces (a repeated key keeps its first position).
  void insert(json::JsonObject& object, std::string_view key, const json::JsonValue& value);
  // Deep copy of `value` (from any document) into this one.
  json::JsonValue copy(const json::JsonValue& value);
};

// The member of `object` named `name`, or null: looked up by the name's
// text and hash, as a key from another document would be. Inline, so that
// the fuzz targets use it without this file's source.
inline const json::JsonValue* find_member(const json::JsonObject& object, std::string_view name) {
  const json::JsonKey probe{name.data(), name.size(), json::hash_key_bytes(name.data(), name.size()), 0, nullptr,
                            false, 0, 0, 1, 0};
  return object.find(probe);
}

}  // namespace tamsel::testing
