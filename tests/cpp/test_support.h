// Helpers for reading test documents: keeps the input text alive beside the
// values that borrow it.
#pragma once

#include <memory>
#include <string>

#include "json/reader.h"

namespace tamsel::testing {

struct Parsed {
  std::unique_ptr<std::string> text;
  json::ParseOutcome outcome;

  const json::JsonValue& first() const { return outcome.rows().rows()[0]; }
};

inline Parsed parse(std::string text) {
  auto owned = std::make_unique<std::string>(std::move(text));
  json::ParseOutcome outcome = json::parse_row_array(*owned);
  return Parsed{std::move(owned), std::move(outcome)};
}

// The single value written as `text`, read as the element of a one-element array.
inline Parsed parse_value(const std::string& text) { return parse("[" + text + "]"); }

}  // namespace tamsel::testing
