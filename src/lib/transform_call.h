// Running the transform detached, with its internal faults contained.
#pragma once

#include <memory>
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

  // Whether the output is still to be written; if not, `result` says why.
  bool ready() const { return columnarizer_ != nullptr; }
  size_t expected_output_size() const;
  // Writes the output, into [memory, memory + bytes) as far as it goes when
  // memory is given. Never throws.
  void write(char* memory, size_t bytes) noexcept;
  // The outcome or fault; the output, once written, is in the outcome.
  TransformResult& result() { return *result_; }

 private:
  std::unique_ptr<Columnarizer> columnarizer_;
  std::optional<TransformResult> result_;
};

}  // namespace tamsel::py
