#include "lib/transform_call.h"

#include <source_location>

#include "lib/fault_hooks.h"
#include "support/fault.h"

namespace tamsel::py {

namespace {

// The fault text of the exception being handled. Running out of memory
// inside the transform is a fault like any other here, reported as such.
std::optional<std::string> fault_text_of_current_exception() {
  CaughtFault caught = classify_current_exception();
  if (caught.kind == CaughtFault::Kind::out_of_memory) {
    caught.text = "memory allocation failed";
    report_fault(caught.text, std::source_location::current());
  }
  return std::move(caught.text);
}

// The fault that the exception being handled stands for.
ContainedFault contain_current_exception() noexcept {
  try {
    return ContainedFault{fault_text_of_current_exception()};
  } catch (...) {
    // No memory left even for the fault's text.
    return ContainedFault{};
  }
}

}  // namespace

PreparedTransform::PreparedTransform(std::string_view payload, const FaultHooks& hooks) noexcept {
  try {
    hooks.in_transform();
    Columnarizer& columnarizer = columnarizer_.emplace(hooks.transform_input(payload));
    if (columnarizer.failure()) {
      result_.emplace(TransformOutcome::failure(*columnarizer.failure()));
      columnarizer_.reset();
    }
  } catch (...) {
    columnarizer_.reset();
    result_.emplace(contain_current_exception());
  }
}

PreparedTransform::~PreparedTransform() = default;

size_t PreparedTransform::expected_output_size() const { return columnarizer_->expected_output_size(); }

void PreparedTransform::write(char* memory, size_t bytes, const PayloadRelease* release) noexcept {
  try {
    if (memory == nullptr && bytes <= kInlineOutputBytes) {
      memory = output_block_;
      bytes = kInlineOutputBytes;
    }
    json::ByteBuffer out = memory != nullptr ? json::ByteBuffer(memory, bytes) : json::ByteBuffer();
    columnarizer_->write(out, release);
    result_.emplace(TransformOutcome::success(std::move(out)));
  } catch (...) {
    result_.emplace(contain_current_exception());
  }
  columnarizer_.reset();
}

}  // namespace tamsel::py
