// Large buffers through the platform layer: contents survive every kind of
// resizing (small, kept by the thread, and mapped directly; mapped blocks
// that grow in place or move), in both the Linux and the portable build.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "support/large_alloc.h"
#include "support/os.h"
#include "support/platform.h"

#if TAMSEL_HAVE_LINUX_MEMORY
#include <sys/mman.h>
#endif

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

#if TAMSEL_HAVE_LINUX_MEMORY
// Untouched memory in 4 KiB pages only (a huge page would bring in its
// neighbours with the first page touched), unmapped at the end.
class SmallPages {
 public:
  explicit SmallPages(size_t bytes) : bytes_(bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    block_ = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    if (block_ != nullptr) madvise(block_, bytes, MADV_NOHUGEPAGE);
  }
  ~SmallPages() {
    if (block_ != nullptr) munmap(block_, bytes_);
  }
  char* get() const { return block_; }
  void touch(size_t pages) {
    for (size_t i = 0; i < pages; ++i) block_[i * 4096] = 1;
  }

 private:
  size_t bytes_;
  char* block_;
};

struct Residency {
  size_t touched;  // of 16 pages
  bool discarded;  // given back after being touched
  bool mostly_absent;
};

void PrintTo(const Residency& r, std::ostream* os) {
  *os << r.touched << " of 16 touched" << (r.discarded ? ", then discarded" : "");
}

class PageResidency : public ::testing::TestWithParam<Residency> {};

TEST_P(PageResidency, TellsWhetherMostPagesAreAbsent) {
  const Residency r = GetParam();
  SmallPages pages(16 * 4096);
  ASSERT_NE(pages.get(), nullptr);
  pages.touch(r.touched);
  if (r.discarded) os::discard_pages(pages.get(), 16 * 4096);
  EXPECT_EQ(os::mostly_absent(pages.get(), 16 * 4096), r.mostly_absent);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageResidency,
                         ::testing::Values(Residency{0, false, true}, Residency{4, false, true},
                                           Residency{7, false, true}, Residency{8, false, false},
                                           Residency{12, false, false}, Residency{16, false, false},
                                           Residency{16, true, true}));

// A result whose pages were given back gets them in one go, within the sizes
// it is checked at: smaller ones are not worth the look, and from
// kLargeBufferBytes up the output asks for its pages piecewise itself.
TEST(PopulateIfGivenBack, PopulatesOnlyTheCheckedSizes) {
  SmallPages probe(4096);
  ASSERT_NE(probe.get(), nullptr);
  os::populate_for_writing(probe.get(), 4096);
  if (os::mostly_absent(probe.get(), 4096)) {
    // Kernels before 5.14 refuse the advice, and user-mode emulators ignore it.
    GTEST_SKIP() << "pages are not supplied ahead of writing here";
  }
  const struct {
    size_t bytes;
    bool populated;
  } cases[] = {{kCheckedResultBytes - 4096, false}, {kCheckedResultBytes, true},
               {kLargeBufferBytes - 4096, true}, {kLargeBufferBytes, false}};
  for (const auto& c : cases) {
    SmallPages pages(c.bytes);
    ASSERT_NE(pages.get(), nullptr);
    pages.touch(c.bytes / 4096);
    os::discard_pages(pages.get(), c.bytes);
    populate_if_given_back(pages.get(), c.bytes);
    EXPECT_EQ(os::mostly_absent(pages.get(), c.bytes), !c.populated) << c.bytes << " bytes";
  }
}
#endif

}  // namespace
}  // namespace tamsel
