#include "support/alloc_failure.h"

#include <atomic>

namespace tamsel::alloc_failure {

namespace {

// Per thread, so that calls on different threads never see each other's count.
struct Counter {
  bool armed = false;
  uint64_t failing = 0;
  uint64_t passed = 0;
};
thread_local Counter counter;

std::atomic<uint64_t> limit{UINT64_MAX};

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

void limit_memory(uint64_t bytes) noexcept { limit.store(bytes, std::memory_order_relaxed); }

uint64_t memory_limit() noexcept { return limit.load(std::memory_order_relaxed); }

}  // namespace tamsel::alloc_failure
