// Test-only: making one chosen allocation fail, to show that every failure
// of every allocation is contained, reported and cleaned up. Compiled in
// only with TAMSEL_ALLOC_FAILURE (never in a build that is shipped);
// otherwise check_allocation does nothing and vanishes.
//
// Each thread counts the allocation points it passes while armed; the one
// whose number it was armed with fails, once, and every other one succeeds.
#pragma once

#include <cstdint>
#include <new>

namespace tamsel {

#ifdef TAMSEL_ALLOC_FAILURE

namespace alloc_failure {

// From now on, the `n`th allocation point this thread passes fails (n >= 1).
// The count starts again at zero.
void arm(uint64_t n) noexcept;
// Stops failing; returns how many points this thread passed since arming.
uint64_t disarm() noexcept;
// Counts one point; true when it is the one that fails.
bool next_fails() noexcept;

// From now on the check before large buffers (fresh_memory_fits in
// support/large_alloc.h) takes the process to have at most `bytes` more
// memory to take, as a cgroup's limit would; UINT64_MAX lifts the bound.
// For the whole process, unlike the counter above.
void limit_memory(uint64_t bytes) noexcept;
uint64_t memory_limit() noexcept;

}  // namespace alloc_failure

inline void check_allocation() {
  if (alloc_failure::next_fails()) throw std::bad_alloc();
}

inline uint64_t test_memory_limit() noexcept { return alloc_failure::memory_limit(); }

#else

inline void check_allocation() {}

inline uint64_t test_memory_limit() noexcept { return UINT64_MAX; }

#endif

}  // namespace tamsel
