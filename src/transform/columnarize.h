// The columnar transform: an array of row objects in, one object with
// "columns", "rows" and "constants" out.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "json/byte_buffer.h"
#include "json/reader.h"
#include "json/value.h"
#include "transform/row_survey.h"

namespace tamsel {

// Exactly one of: the output document's bytes, or a failure message.
class TransformOutcome {
 public:
  // Made in place: no empty buffer is made first to be moved over.
  static TransformOutcome success(json::ByteBuffer&& output) { return TransformOutcome(std::move(output)); }
  static TransformOutcome failure(std::string message) { return TransformOutcome(std::move(message)); }

  bool ok() const { return ok_; }
  const json::ByteBuffer& output() const { return output_; }
  json::ByteBuffer& output() { return output_; }
  const std::string& message() const { return message_ ? *message_ : no_message(); }

 private:
  explicit TransformOutcome(json::ByteBuffer&& output) : ok_(true), output_(std::move(output)) {}
  explicit TransformOutcome(std::string&& message) : message_(std::move(message)) {}
  static const std::string& no_message() {
    static const std::string empty;
    return empty;
  }
  bool ok_ = false;
  json::ByteBuffer output_;
  // Held only by a failure: a success moves on without moving a string.
  std::optional<std::string> message_;
};

// Never throws for any input: every rejection is a failure outcome. Running
// out of memory throws std::bad_alloc, and a broken invariant InternalFault.
TransformOutcome columnarize_json(std::string_view payload);

// Lets the writer give back the payload's memory behind the rows it has
// written, for a caller whose payload copy is of no further use once the
// output is written. Row 0's text stays (constants are written from it at
// the end) and so does everything from the row being written on; member
// names borrowed from the payload are first copied into the document.
struct PayloadRelease {
  // The payload the columnarizer read, writable memory of the caller's: for
  // any other payload nothing is given back.
  const char* payload;
  // Memory is given back once at least this much of it is behind...
  size_t step;
  // ...in a piece that starts and ends at multiples of this (a power of
  // two; addresses, not offsets).
  size_t alignment;
  // Gives back [from, from + bytes); its bytes are not read again.
  void (*give_back)(const char* from, size_t bytes) noexcept;
};

// The same transform in two steps, for a caller that wants the output written
// into memory of its own: first the payload is read and its rows surveyed,
// which decides success or failure and gives a likely output size; then the
// output is written. The payload must stay alive and unchanged throughout.
// Throws as columnarize_json does. A small document is read into storage
// held in the object itself, so keep it where it was made (it cannot move).
class Columnarizer {
 public:
  explicit Columnarizer(std::string_view payload);
  ~Columnarizer();
  Columnarizer(const Columnarizer&) = delete;
  Columnarizer& operator=(const Columnarizer&) = delete;

  // The failure message when the payload was rejected; then nothing else
  // may be asked.
  const std::optional<std::string>& failure() const { return failure_; }
  // What the output is likely to take, from counts made while surveying:
  // near its size in the usual case, neither a bound nor a promise.
  size_t expected_output_size() const { return expected_output_size_; }
  // Appends the output, giving back payload memory as `release` allows.
  void write(json::ByteBuffer& out, const PayloadRelease* release = nullptr) const;

  // The bytes of the document's storage held inline.
  static constexpr size_t kInlineArenaBytes = 8 * 1024;

 private:
  alignas(16) char arena_block_[kInlineArenaBytes];
  json::JsonDocument document_;
  RowSurvey rows_seen_;
  std::optional<json::ParseOutcome> parsed_;
  std::string_view payload_;
  size_t expected_output_size_ = 0;
  std::optional<std::string> failure_;
  size_t estimate_output_size() const;
};

}  // namespace tamsel
