// Test-only faults on purpose, chosen by a payload that starts with
// "\0tamsel-fault-hook:" followed by a hook name and, optionally, ":" and a
// fault text. Compiled in only with TAMSEL_FAULT_HOOKS; otherwise every hook
// does nothing and the calls vanish.
//
//   transform[:TEXT]  internal fault inside the transform's containment
//   transform-oom     memory exhaustion inside the transform
//   body[:TEXT]       internal fault in the call body, outside it
//   result-null:JSON  JSON is transformed, then its result cannot be created
//   raise             the call's error faults while being raised
#pragma once

#include "lib/python_api.h"

#include <optional>
#include <string>
#include <string_view>

#include "lib/errors.h"

namespace tamsel::py {

#ifdef TAMSEL_FAULT_HOOKS

class FaultHooks {
 public:
  explicit FaultHooks(std::string_view payload);

  // In the call body, attached, before the payload is copied: raises the
  // body fault, or returns an error that cannot be raised.
  std::optional<Error> in_body() const;
  // Inside the transform's containment, detached.
  void in_transform() const;
  // What the transform reads instead of `payload`.
  std::string_view transform_input(std::string_view payload) const;
  // Whether the result's creation fails (with MemoryError set).
  bool fail_result() const;

 private:
  enum class Hook { kNone, kTransform, kTransformOom, kBody, kResultNull, kRaise };
  Hook hook_ = Hook::kNone;
  std::optional<std::string> text_;
};

#else

class FaultHooks {
 public:
  explicit FaultHooks(std::string_view) {}
  std::optional<Error> in_body() const { return std::nullopt; }
  void in_transform() const {}
  std::string_view transform_input(std::string_view payload) const { return payload; }
  bool fail_result() const { return false; }
};

#endif

}  // namespace tamsel::py
