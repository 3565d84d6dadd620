// The bracket around every entry point: internal faults raised by the body
// are contained and become the fault exception; the body's error is raised.
#pragma once

#include "lib/python_api.h"

#include <optional>
#include <utility>

#include "lib/errors.h"

namespace tamsel::py {

// Runs `body` (returning Result<T>) on an attached thread. Returns its value,
// or nothing once its error has been set as the current exception. A fault
// while raising that error cannot be delivered and aborts the process.
template <class T, class Body>
std::optional<T> run_entry(Body&& body) noexcept {
  std::optional<Result<T>> outcome;
  try {
    try {
      outcome.emplace(body());
    } catch (...) {
      outcome.emplace(error_for_escaped_exception());
    }
    if (outcome->ok()) return std::move(outcome->value());
    raise_error(std::move(outcome->error()));
  } catch (...) {
    abort_uncaught_fault();
  }
  return std::nullopt;
}

}  // namespace tamsel::py
