// Running the transform detached, with its internal faults contained.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "transform/columnarize.h"

namespace tamsel::py {

// An internal fault caught around the transform; its text, if it had one.
struct ContainedFault {
  std::optional<std::string> text;
};

using TransformResult = std::variant<TransformOutcome, ContainedFault>;

class FaultHooks;

// The transform (columnarize_json) in its two steps, see Columnarizer. Each
// touches no Python object, so it may (and does) run detached, and contains
// its own faults; between them the caller can make memory ready for the
// output to be written straight into.
class PreparedTransform {
 public:
  // Reads and surveys `payload`, which must outlive the object's use.
  PreparedTransform(std::string_view payload, const FaultHooks& hooks) noexcept;
  ~PreparedTransform();

  PreparedTransform(const PreparedTransform&) = delete;
  PreparedTransform& operator=(const PreparedTransform&) = delete;

  // Whether the output is still to be written; if not, `result` says why.
  bool ready() const { return columnarizer_.has_value(); }
  size_t expected_output_size() const;
  // Writes the output, into [memory, memory + bytes) as far as it goes when
  // memory is given, else into the object's own inline room when the output
  // is expected to fit there, giving back payload memory as `release`
  // allows. Never throws.
  void write(char* memory, size_t bytes, const PayloadRelease* release = nullptr) noexcept;
  // The outcome or fault; the output, once written, is in the outcome, and
  // may be held by this object: use it while the object lives.
  TransformResult& result() { return *result_; }

  // Outputs expected to take up to this many bytes are written inline.
  static constexpr size_t kInlineOutputBytes = 2 * 1024;

 private:
  std::optional<Columnarizer> columnarizer_;
  std::optional<TransformResult> result_;
  char output_block_[kInlineOutputBytes];
};

}  // namespace tamsel::py
