// Large buffers through the platform layer: contents survive every kind of
// resizing (small, kept by the thread, and mapped directly; mapped blocks
// that grow in place or move), in both the Linux and the portable build.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "support/large_alloc.h"
#include "support/os.h"

namespace tamsel {
namespace {

struct Resize {
  size_t from;
  size_t to;
};

void PrintTo(const Resize& r, std::ostream* os) { *os << r.from << " -> " << r.to; }

class LargeBuffer : public ::testing::TestWithParam<Resize> {};

unsigned char pattern(size_t i) { return static_cast<unsigned char>(i * 131 + (i >> 12)); }

TEST_P(LargeBuffer, KeepsItsBytesWhenResized) {
  const auto [from, to] = GetParam();
  auto* block = static_cast<unsigned char*>(allocate_large(from));
  prepare_for_writing(block, from);
  for (size_t i = 0; i < from; ++i) block[i] = pattern(i);
  block = static_cast<unsigned char*>(reallocate_large(block, from, to));
  const size_t kept = from < to ? from : to;
  size_t differing = 0;
  for (size_t i = 0; i < kept; ++i) differing += block[i] != pattern(i);
  EXPECT_EQ(differing, 0u);
  // All of the new size is writable.
  for (size_t i = 0; i < to; i += 4096) block[i] = 1;
  if (to != 0) block[to - 1] = 1;
  free_large(block, to);
}

constexpr size_t kLarge = kLargeBufferBytes;
constexpr size_t kMid = kThreadKeptFromBytes;
constexpr size_t kHuge = os::kHugePageBytes;

INSTANTIATE_TEST_SUITE_P(Sizes, LargeBuffer,
                         ::testing::Values(Resize{0, 100}, Resize{100, 5000}, Resize{5000, 100},
                                           Resize{1000, kLarge}, Resize{kMid - 1, kMid}, Resize{kMid, kMid - 1},
                                           Resize{kMid, 2 * kMid}, Resize{3 * kMid, 4 * kMid},  // one kept size
                                           Resize{4 * kMid, 4 * kMid + 1}, Resize{kLarge - 1, 2 * kMid},
                                           Resize{kLarge - 1, kLarge + 1},
                                           Resize{kLarge + 1, kLarge - 1}, Resize{3 * kLarge, 1000},
                                           Resize{kLarge, kLarge + 100},  // same mapped size
                                           Resize{kHuge, 5 * kHuge + 7}, Resize{9 * kHuge, 2 * kHuge + 1}));

TEST(LargeBuffer, MappedBlocksAreAlignedToHugePages) {
  void* block = allocate_large(3 * kHuge);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kHuge, 0u);
  advise_huge_pages(block, 3 * kHuge);
  free_large(block, 3 * kHuge);
}

}  // namespace
}  // namespace tamsel
