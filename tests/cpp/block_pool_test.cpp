// The pool of large blocks on its own, with a clock the test moves: what it
// reuses, what it keeps within its bound, when it gives blocks back, and
// resizing within and past a pooled block with the contents kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if TAMSEL_HAVE_FORK_HANDLERS
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/block_pool.h"
#include "support/large_alloc.h"
#include "support/os.h"
#include "support/platform.h"

namespace tamsel {
namespace {

constexpr size_t H = os::kHugePageBytes;
// Whether the system grows a block in place of the caller's copy; without,
// the copy's own take and give back change what is kept.
constexpr bool kRemaps = TAMSEL_HAVE_LINUX_MEMORY;

uint64_t fake_now = 0;
uint64_t fake_clock() noexcept { return fake_now; }

// The admission: fresh memory up to this much is allowed.
size_t fresh_allowed = SIZE_MAX;
bool fake_admit(size_t fresh_bytes) noexcept { return fresh_bytes <= fresh_allowed; }

constexpr BlockPoolLimits kLimits{8 * H, 1000, 10};

// One step of a scenario; blocks are named by their place in `held`.
struct Step {
  enum Kind { kTake, kGiveBack, kResize, kCall, kWait, kAllow } kind;
  size_t bytes = 0;     // kTake, kResize: the size asked for; kAllow: fresh memory allowed from now on
  size_t index = 0;     // kGiveBack, kResize: which held block
  int reused = -1;      // kTake, kResize: the earlier block (by index) expected back, -1 for any,
                        // kRefused for none (the block asked to grow then stays as it was)
  size_t kept = SIZE_MAX;  // kept bytes after the step, SIZE_MAX when not checked
};

struct Scenario {
  std::string name;
  std::vector<Step> steps;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

Step take(size_t bytes, int reused = -1, size_t kept = SIZE_MAX) { return {Step::kTake, bytes, 0, reused, kept}; }
Step give(size_t index, size_t kept = SIZE_MAX) { return {Step::kGiveBack, 0, index, -1, kept}; }
Step resize(size_t index, size_t bytes, int reused = -1) { return {Step::kResize, bytes, index, reused}; }
Step call(size_t kept) { return {Step::kCall, 0, 0, -1, kept}; }
Step wait(uint64_t nanoseconds) { return {Step::kWait, nanoseconds}; }
Step allow(size_t fresh_bytes) { return {Step::kAllow, fresh_bytes}; }
constexpr int kRefused = -2;

// A held block: where it is, the size it was asked with, its fill byte.
struct Held {
  unsigned char* start;
  size_t bytes;
  unsigned char fill;
};

bool filled_with(const Held& h, size_t bytes) {
  for (size_t i = 0; i < bytes; i += 4093) {
    if (h.start[i] != h.fill) return false;
  }
  return h.start[bytes - 1] == h.fill;
}

class BlockPoolContract : public ::testing::TestWithParam<Scenario> {};

TEST_P(BlockPoolContract, FollowsTheScenario) {
  fake_now = 1;
  fresh_allowed = SIZE_MAX;
  BlockPool pool(kLimits, fake_clock, fake_admit);
  std::vector<Held> held;
  std::vector<void*> first_seen;  // each held index's first address
  for (size_t n = 0; n < GetParam().steps.size(); ++n) {
    const Step& s = GetParam().steps[n];
    SCOPED_TRACE("step " + std::to_string(n));
    switch (s.kind) {
      case Step::kTake: {
        auto* block = static_cast<unsigned char*>(pool.take(s.bytes));
        if (s.reused == kRefused) {
          EXPECT_EQ(block, nullptr);
          held.push_back({nullptr, s.bytes, 0});
          first_seen.push_back(nullptr);
          break;
        }
        ASSERT_NE(block, nullptr);
        const auto fill = static_cast<unsigned char>(held.size() + 1);
        std::memset(block, fill, s.bytes);
        if (s.reused >= 0) {
          EXPECT_EQ(block, first_seen[s.reused]);
        }
        held.push_back({block, s.bytes, fill});
        first_seen.push_back(block);
        break;
      }
      case Step::kGiveBack:
        pool.give_back(held[s.index].start, held[s.index].bytes);
        held[s.index].start = nullptr;
        break;
      case Step::kResize: {
        Held& h = held[s.index];
        void* moved = pool.resize(h.start, h.bytes, s.bytes);
        if (s.reused == kRefused) {  // neither in place nor by the caller's move
          EXPECT_EQ(moved, nullptr);
          EXPECT_EQ(pool.take(s.bytes), nullptr);
          EXPECT_TRUE(filled_with(h, h.bytes));
          break;
        }
        if (moved == nullptr) {  // the caller moves it, as allocate_large's users do
          moved = pool.take(s.bytes);
          ASSERT_NE(moved, nullptr);
          std::memcpy(moved, h.start, std::min(h.bytes, s.bytes));
          pool.give_back(h.start, h.bytes);
        }
        if (s.reused >= 0) {
          EXPECT_EQ(moved, first_seen[s.reused]);
        }
        h.start = static_cast<unsigned char*>(moved);
        EXPECT_TRUE(filled_with(h, std::min(h.bytes, s.bytes)));
        h.bytes = s.bytes;
        std::memset(h.start, h.fill, h.bytes);
        break;
      }
      case Step::kCall:
        pool.note_call();
        break;
      case Step::kWait:
        fake_now += s.bytes;
        break;
      case Step::kAllow:
        fresh_allowed = s.bytes;
        break;
    }
    if (s.kept != SIZE_MAX) {
      EXPECT_EQ(pool.kept_bytes(), s.kept);
    }
  }
  for (const Held& h : held) {
    if (h.start != nullptr) {
      EXPECT_TRUE(filled_with(h, h.bytes));
      pool.give_back(h.start, h.bytes);
    }
  }
}

Scenario calls_until_idle() {
  Scenario s{"ten calls without use give everything back", {take(2 * H), give(0, 2 * H)}};
  for (int i = 0; i < 9; ++i) s.steps.push_back(call(2 * H));
  s.steps.push_back(call(0));
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, BlockPoolContract,
    ::testing::Values(
        Scenario{"a block given back is taken again",
                 {take(2 * H, -1, 0), give(0, 2 * H), take(2 * H, 0, 0)}},
        Scenario{"of blocks of one size, the one given back last is taken first",
                 {take(2 * H), take(2 * H), take(2 * H), give(1), give(0), give(2), take(2 * H, 2),
                  take(2 * H, 0), give(3), take(2 * H, 2), take(2 * H, 1)}},
        Scenario{"the smallest block that fits is chosen",
                 {take(4 * H), take(H), take(2 * H), give(0), give(1), give(2, 7 * H), take(2 * H, 2, 5 * H),
                  take(H, 1, 4 * H), take(3 * H, 0, 0)}},
        Scenario{"a larger block is lent and comes back at its real size",
                 {take(4 * H), give(0, 4 * H), take(H, 0, 0), give(1, 4 * H)}},
        Scenario{"blocks past the bound go back to the system",
                 {take(4 * H), take(4 * H), take(2 * H), give(0, 4 * H), give(1, 8 * H), give(2, 8 * H)}},
        Scenario{"a block larger than the bound is never kept", {take(9 * H), give(0, 0)}},
        Scenario{"a miss gives back the blocks too small for it",
                 {take(2 * H), take(6 * H), give(0), give(1, 8 * H), take(7 * H, -1, 0)}},
        Scenario{"a miss keeps the blocks that are large enough",
                 {take(2 * H), take(6 * H), take(7 * H), give(0), give(1, 8 * H), take(3 * H, 1, 2 * H)}},
        Scenario{"idle time gives everything back",
                 {take(2 * H), take(2 * H), give(0), give(1, 4 * H), wait(999), call(4 * H), wait(1), call(0)}},
        Scenario{"use restarts the idle time",
                 {take(2 * H), take(2 * H), give(0), wait(900), give(1), wait(900), call(4 * H)}},
        calls_until_idle(),
        Scenario{"resizing within a lent block keeps it in place",
                 {take(4 * H), give(0), take(H, 0), resize(1, 3 * H, 0), resize(1, 4 * H, 0), give(1, 4 * H)}},
        Scenario{"shrinking keeps the block whole for later",
                 {take(4 * H), resize(0, H, 0), give(0, 4 * H), take(4 * H, 0)}},
        Scenario{"growing past a block keeps its contents",
                 {take(H), take(2 * H), resize(0, 5 * H), resize(1, 3 * H), give(0), give(1)}},
        Scenario{"growing a lent block past its real size keeps its contents",
                 {take(3 * H), give(0), take(2 * H, 0), resize(1, 6 * H), give(1, kRemaps ? 6 * H : SIZE_MAX)}},
        Scenario{"fresh memory the admission refuses is not mapped; a kept block needs none",
                 {take(4 * H), give(0, 4 * H), allow(2 * H), take(3 * H, 0, 0), take(3 * H, kRefused, 0),
                  take(2 * H), give(1, 4 * H)}},
        Scenario{"a refused request still gives back the kept blocks too small for it",
                 {take(2 * H), give(0, 2 * H), allow(2 * H), take(3 * H, kRefused, 0)}},
        Scenario{"growing by remapping is admitted by its growth alone",
                 {take(2 * H), allow(3 * H), resize(0, 5 * H, kRemaps ? -1 : kRefused), give(0)}},
        Scenario{"growing past what is admitted leaves the block as it was",
                 {take(2 * H), allow(2 * H), resize(0, 5 * H, kRefused), give(0, 2 * H)}}));

#if TAMSEL_HAVE_FORK_HANDLERS
// A child forked while other threads take and give back large buffers finds
// the pool usable (its lock not left held by a thread the child lacks).
TEST(BlockPool, ForkedChildrenCanUseIt) {
  std::atomic<bool> done{false};
  std::vector<std::thread> users;
  for (int t = 0; t < 4; ++t) {
    users.emplace_back([&] {
      while (!done.load()) free_large(allocate_large(2 * H), 2 * H);
    });
  }
  int stuck_or_failed = 0;
  for (int i = 0; i < 20; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      alarm(2);  // a child that blocks is killed, and counted below
      free_large(allocate_large(3 * H), 3 * H);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    stuck_or_failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  done.store(true);
  for (std::thread& user : users) user.join();
  EXPECT_EQ(stuck_or_failed, 0);
}
#endif

}  // namespace
}  // namespace tamsel
