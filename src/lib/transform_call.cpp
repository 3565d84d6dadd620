#include "lib/transform_call.h"

#include <exception>
#include <new>
#include <source_location>

#include "lib/fault_hooks.h"
#include "support/fault.h"

namespace tamsel::py {

namespace {

// Reports a C++ exception that is not an internal fault (those were reported
// where they were raised) and gives the fault text it stands for.
std::optional<std::string> report_foreign(const char* text) {
  std::optional<std::string> owned{text};
  report_fault(owned, std::source_location::current());
  return owned;
}

std::optional<std::string> fault_text_of_current_exception() {
  try {
    throw;
  } catch (const InternalFault& fault) {
    return fault.text();
  } catch (const std::bad_alloc&) {
    return report_foreign("memory allocation failed");
  } catch (const std::exception& unexpected) {
    return report_foreign(unexpected.what());
  } catch (...) {
    report_fault(std::nullopt, std::source_location::current());
    return std::nullopt;
  }
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
    auto columnarizer = std::make_unique<Columnarizer>(hooks.transform_input(payload));
    if (columnarizer->failure()) {
      result_.emplace(TransformOutcome::failure(*columnarizer->failure()));
    } else {
      columnarizer_ = std::move(columnarizer);
    }
  } catch (...) {
    result_.emplace(contain_current_exception());
  }
}

PreparedTransform::~PreparedTransform() = default;

size_t PreparedTransform::expected_output_size() const { return columnarizer_->expected_output_size(); }

void PreparedTransform::write(char* memory, size_t bytes) noexcept {
  try {
    json::ByteBuffer out = memory != nullptr ? json::ByteBuffer(memory, bytes) : json::ByteBuffer();
    columnarizer_->write(out);
    result_.emplace(TransformOutcome::success(std::move(out)));
  } catch (...) {
    result_.emplace(contain_current_exception());
  }
  columnarizer_.reset();
}

}  // namespace tamsel::py
