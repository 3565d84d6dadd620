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

// Calls columnarize_json on `payload`. Touches no Python object, so it may
// (and does) run detached. Never throws.
TransformResult run_transform(std::string_view payload, const FaultHooks& hooks) noexcept;

}  // namespace tamsel::py
