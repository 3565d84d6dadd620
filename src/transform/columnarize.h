// The columnar transform: an array of row objects in, one object with
// "columns", "rows" and "constants" out.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "json/byte_buffer.h"

namespace tamsel {

// Exactly one of: the output document's bytes, or a failure message.
class TransformOutcome {
 public:
  static TransformOutcome success(json::ByteBuffer output) {
    TransformOutcome o;
    o.ok_ = true;
    o.output_ = std::move(output);
    return o;
  }
  static TransformOutcome failure(std::string message) {
    TransformOutcome o;
    o.ok_ = false;
    o.message_ = std::move(message);
    return o;
  }

  bool ok() const { return ok_; }
  const json::ByteBuffer& output() const { return output_; }
  json::ByteBuffer& output() { return output_; }
  const std::string& message() const { return message_; }

 private:
  TransformOutcome() = default;
  bool ok_ = false;
  json::ByteBuffer output_;
  std::string message_;
};

// Never throws for any input: every rejection is a failure outcome. Running
// out of memory throws std::bad_alloc, and a broken invariant InternalFault.
TransformOutcome columnarize_json(std::string_view payload);

}  // namespace tamsel
