#include "support/alloc_failure.h"

namespace tamsel::alloc_failure {

namespace {

// Per thread, so that calls on different threads never see each other's count.
struct Counter {
  bool armed = false;
  uint64_t failing = 0;
  uint64_t passed = 0;
};
thread_local Counter counter;

}  // namespace

void arm(uint64_t n) noexcept { counter = Counter{true, n, 0}; }

uint64_t disarm() noexcept {
  counter.armed = false;
  return counter.passed;
}

bool next_fails() noexcept {
  if (!counter.armed) return false;
  return ++counter.passed == counter.failing;
}

}  // namespace tamsel::alloc_failure
