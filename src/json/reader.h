// The JSON reader: reads a document whose top-level value is an array into
// values, or describes why it cannot.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "json/value.h"
#include "json/value_stack.h"

namespace tamsel::json {

// A rejected input: one message and the position it applies to. Line and
// column count bytes; only the line-feed byte ends a line.
struct JsonError {
  std::string message;
  uint64_t line = 1;
  uint64_t column = 0;
};

// "<message> at line <line> column <column>"
std::string describe(const JsonError& error);

// The elements of a top-level array, with the document that holds them,
// owned here or by the caller that gave it. The document borrows the input
// text: keep the input alive as long as this.
class RowArray {
 public:
  // `rows` are in `document`'s arena or in `storage`.
  RowArray(std::unique_ptr<JsonDocument> owned, JsonDocument& document, std::span<const JsonValue> rows,
           StackStorage<JsonValue> storage)
      : owned_(std::move(owned)), document_(&document), rows_(rows), storage_(std::move(storage)) {}

  std::span<const JsonValue> rows() const { return rows_; }
  JsonDocument& document() const { return *document_; }

 private:
  std::unique_ptr<JsonDocument> owned_;
  JsonDocument* document_;
  std::span<const JsonValue> rows_;
  StackStorage<JsonValue> storage_;
};

class ParseOutcome {
 public:
  explicit ParseOutcome(RowArray rows) : state_(std::move(rows)) {}
  explicit ParseOutcome(JsonError error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  const RowArray& rows() const { return std::get<0>(state_); }
  const JsonError& error() const { return std::get<1>(state_); }

 private:
  std::variant<RowArray, JsonError> state_;
};

// Sees each element of the top-level array as soon as it has been read, while
// its text is still in cache. What it sees stays valid as long as the
// document does; if the read fails later, it was all for nothing.
class RowVisitor {
 public:
  virtual void row(size_t index, const JsonValue& value) = 0;

 protected:
  ~RowVisitor() = default;
};

// Reads the whole input into `document`, which must be empty and outlive the
// outcome, with the active kernel (kernel.h). The top-level value must be an
// array; whitespace may surround it and nothing else may follow it.
ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor, JsonDocument& document);

// The arena chunk a document read from `input_size` bytes should start with:
// most documents need about as much tree as text, and one chunk of that size
// avoids growing the arena many times (untouched pages cost nothing). A few
// KiB hold a small document's tree and the reader's tables.
inline size_t document_chunk_bytes(size_t input_size) {
  return std::max<size_t>(4 * 1024, input_size + input_size / 2);
}

}  // namespace tamsel::json
