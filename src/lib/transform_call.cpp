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

}  // namespace

TransformResult run_transform(std::string_view payload, const FaultHooks& hooks) noexcept {
  try {
    hooks.in_transform();
    return columnarize_json(hooks.transform_input(payload));
  } catch (...) {
    try {
      return ContainedFault{fault_text_of_current_exception()};
    } catch (...) {
      // No memory left even for the fault's text.
      return ContainedFault{};
    }
  }
}

}  // namespace tamsel::py
