// Mid-size buffers kept by the thread that frees them: a cache on its own
// (what it hands back, its bounds, which block it pushes out), and through
// allocate_large (reuse by the same thread only, sizes rounded so that a
// resize within one size keeps the block).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/large_alloc.h"
#include "support/thread_block_cache.h"

namespace tamsel {
namespace {

constexpr size_t K = 1024;

// One step: keep a fresh block of `keep` bytes, or take one of `take` bytes.
// Blocks are named by the order they were kept in; `expect` is the name of
// the block take must return (-1: none), and the cache must then hold
// exactly the blocks `held` (by name, oldest first).
struct Step {
  size_t keep = 0;
  size_t take = 0;
  int expect = -1;
  std::vector<int> held;
};

struct Scenario {
  std::string name;
  size_t bound;
  std::vector<Step> steps;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

Step keep(size_t bytes, std::vector<int> held) { return {bytes, 0, -1, std::move(held)}; }
Step take(size_t bytes, int expect, std::vector<int> held) { return {0, bytes, expect, std::move(held)}; }

class CacheScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(CacheScenario, HoldsWhatItShould) {
  const Scenario& scenario = GetParam();
  ThreadBlockCache cache(scenario.bound);
  std::vector<void*> blocks;  // by name
  std::vector<size_t> sizes;
  for (size_t i = 0; i < scenario.steps.size(); ++i) {
    const Step& step = scenario.steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    if (step.keep != 0) {
      void* block = std::malloc(step.keep);
      ASSERT_NE(block, nullptr);
      std::memset(block, static_cast<int>(blocks.size()), step.keep);
      blocks.push_back(block);
      sizes.push_back(step.keep);
      cache.keep(block, step.keep);
    } else {
      void* got = cache.take(step.take);
      if (step.expect < 0) {
        EXPECT_EQ(got, nullptr);
      } else {
        ASSERT_EQ(got, blocks[static_cast<size_t>(step.expect)]);
        // Its contents were left alone while it was kept.
        const auto* bytes = static_cast<const unsigned char*>(got);
        EXPECT_EQ(bytes[0], step.expect);
        EXPECT_EQ(bytes[step.take - 1], step.expect);
        std::free(got);
      }
    }
    size_t held_bytes = 0;
    for (int name : step.held) held_bytes += sizes[static_cast<size_t>(name)];
    EXPECT_EQ(cache.kept_count(), step.held.size());
    EXPECT_EQ(cache.kept_bytes(), held_bytes);
    EXPECT_LE(cache.kept_bytes(), scenario.bound);
  }
  // Whatever is left is held in the order named: taking each size gives
  // back the newest of that size first.
  const std::vector<int>& last = scenario.steps.back().held;
  for (size_t i = last.size(); i-- > 0;) {
    const size_t name = static_cast<size_t>(last[i]);
    void* got = cache.take(sizes[name]);
    EXPECT_NE(got, nullptr);
    std::free(got);
  }
  EXPECT_EQ(cache.kept_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CacheScenario,
    ::testing::Values(
        Scenario{"TakesOnlyItsOwnSize", 1024 * K,
                 {keep(32 * K, {0}), take(64 * K, -1, {0}), take(16 * K, -1, {0}), take(32 * K, 0, {})}},
        Scenario{"NewestOfASizeFirst", 1024 * K,
                 {keep(32 * K, {0}), keep(64 * K, {0, 1}), keep(32 * K, {0, 1, 2}), take(32 * K, 2, {0, 1}),
                  take(32 * K, 0, {1})}},
        Scenario{"ByteBoundPushesOutTheOldest", 256 * K,
                 {keep(128 * K, {0}), keep(64 * K, {0, 1}), keep(64 * K, {0, 1, 2}), keep(32 * K, {1, 2, 3}),
                  take(128 * K, -1, {1, 2, 3})}},
        Scenario{"SlotBoundPushesOutTheOldest", 1024 * K,
                 {keep(16 * K, {0}), keep(16 * K, {0, 1}), keep(16 * K, {0, 1, 2}), keep(16 * K, {0, 1, 2, 3}),
                  keep(16 * K, {0, 1, 2, 3, 4}), keep(16 * K, {0, 1, 2, 3, 4, 5}),
                  keep(16 * K, {0, 1, 2, 3, 4, 5, 6}), keep(16 * K, {0, 1, 2, 3, 4, 5, 6, 7}),
                  keep(32 * K, {1, 2, 3, 4, 5, 6, 7, 8})}},
        Scenario{"ABlockOverTheBoundIsFreed", 64 * K,
                 {keep(32 * K, {0}), keep(128 * K, {0}), take(128 * K, -1, {0})}},
        Scenario{"ABlockAtTheBoundPushesOutAll", 64 * K, {keep(16 * K, {0}), keep(32 * K, {0, 1}), keep(64 * K, {2})}}));

TEST(ThreadBlockCache, ClosedKeepsNothing) {
  ThreadBlockCache cache(1024 * K);
  cache.keep(std::malloc(16 * K), 16 * K);
  cache.close();
  EXPECT_EQ(cache.kept_count(), 0u);
  cache.keep(std::malloc(16 * K), 16 * K);  // freed at once; a leak checker would see it otherwise
  EXPECT_EQ(cache.kept_count(), 0u);
  EXPECT_EQ(cache.take(16 * K), nullptr);
}

// Through allocate_large: a mid-size buffer freed by a thread comes back to
// that thread's next request of about its size, and to no other thread.
TEST(ThreadKeptBuffers, ReusedByTheSameThreadOnly) {
  constexpr size_t kBytes = 100 * K;
  static_assert(kBytes >= kThreadKeptFromBytes && kBytes < kLargeBufferBytes);
  void* first = nullptr;
  void* other_thread_got = nullptr;
  std::thread([&] {
    first = allocate_large(kBytes);
    free_large(first, kBytes);
    void* again = allocate_large(kBytes + 1000);  // the same power-of-two size
    EXPECT_EQ(again, first);
    free_large(again, kBytes + 1000);
    std::thread([&] {
      other_thread_got = allocate_large(kBytes);
      free_large(other_thread_got, kBytes);
    }).join();
  }).join();
  EXPECT_NE(other_thread_got, first);
}

TEST(ThreadKeptBuffers, ResizeWithinItsSizeKeepsTheBlock) {
  auto* block = static_cast<unsigned char*>(allocate_large(40 * K));
  for (size_t i = 0; i < 40 * K; ++i) block[i] = static_cast<unsigned char>(i * 7);
  auto* same = static_cast<unsigned char*>(reallocate_large(block, 40 * K, 64 * K));
  EXPECT_EQ(same, block);
  for (size_t i = 40 * K; i < 64 * K; ++i) same[i] = 1;  // all of the new size is writable
  auto* moved = static_cast<unsigned char*>(reallocate_large(same, 64 * K, 64 * K + 1));
  size_t differing = 0;
  for (size_t i = 0; i < 40 * K; ++i) differing += moved[i] != static_cast<unsigned char>(i * 7);
  EXPECT_EQ(differing, 0u);
  free_large(moved, 64 * K + 1);
}

}  // namespace
}  // namespace tamsel
