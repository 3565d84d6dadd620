#include "lib/fault_hooks.h"

#include <new>
#include <utility>

#include "support/fault.h"

namespace tamsel::py {

namespace {

constexpr std::string_view kPrefix{"\0tamsel-fault-hook:", 19};

[[noreturn]] void raise_with(const std::optional<std::string>& text) {
  if (text) raise_fault(*text);
  raise_fault_without_text();
}

PyObject* faulting_type() { raise_fault("fault while raising the call's error"); }

}  // namespace

FaultHooks::FaultHooks(std::string_view payload) {
  if (!payload.starts_with(kPrefix)) return;
  std::string_view rest = payload.substr(kPrefix.size());
  const size_t colon = rest.find(':');
  const std::string_view name = rest.substr(0, colon);
  if (colon != std::string_view::npos) text_ = std::string(rest.substr(colon + 1));
  if (name == "transform") hook_ = Hook::kTransform;
  if (name == "transform-oom") hook_ = Hook::kTransformOom;
  if (name == "body") hook_ = Hook::kBody;
  if (name == "result-null") hook_ = Hook::kResultNull;
  if (name == "raise") hook_ = Hook::kRaise;
}

std::optional<Error> FaultHooks::in_body() const {
  if (hook_ == Hook::kBody) raise_with(text_);
  if (hook_ == Hook::kRaise) return Error::deferred(faulting_type, "never raised");
  return std::nullopt;
}

void FaultHooks::in_transform() const {
  if (hook_ == Hook::kTransform) raise_with(text_);
  if (hook_ == Hook::kTransformOom) throw std::bad_alloc();
}

std::string_view FaultHooks::transform_input(std::string_view payload) const {
  return hook_ == Hook::kResultNull && text_ ? std::string_view(*text_) : payload;
}

bool FaultHooks::fail_result() const {
  if (hook_ != Hook::kResultNull) return false;
  PyErr_NoMemory();
  return true;
}

}  // namespace tamsel::py
