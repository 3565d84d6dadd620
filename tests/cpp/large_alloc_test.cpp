// Large buffers through the platform layer: contents survive every kind of
// resizing (small, kept by the thread, and mapped directly; mapped blocks
// that grow in place or move), in both the Linux and the portable build;
// and the memory the process may still take, read from made-up files.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

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

// The files a system would show, under a directory of the test's own.
struct LimitFiles {
  std::string name;
  std::vector<std::pair<std::string, std::string>> files;  // path under the root, contents
  uint64_t address_space_limit;
  uint64_t headroom;
};

void PrintTo(const LimitFiles& f, std::ostream* os) { *os << f.name; }

class MemoryHeadroom : public ::testing::TestWithParam<LimitFiles> {};

TEST_P(MemoryHeadroom, IsTheLeastOfWhatTheFilesAllow) {
  const LimitFiles& c = GetParam();
  const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                     ("tamsel-limits-" + std::to_string(getpid()) + "-" + c.name);
  std::filesystem::remove_all(root);
  for (const auto& [path, contents] : c.files) {
    const std::filesystem::path file = root / path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << contents;
  }
  std::filesystem::create_directories(root);
  EXPECT_EQ(os::memory_headroom_under(root.c_str(), c.address_space_limit), c.headroom);
  std::filesystem::remove_all(root);
}

constexpr uint64_t kNone = os::kNoMemoryLimit;
constexpr uint64_t MiB = uint64_t{1} << 20;

// A system with 8 GiB available, and the mounts of cgroup v2 (at
// /sys/fs/cgroup) and v1 (memory controller at /sys/fs/cgroup/memory, with
// other controllers beside it).
const std::pair<std::string, std::string> kMeminfo{
    "proc/meminfo", "MemTotal:       16777216 kB\nMemFree:         1048576 kB\nMemAvailable:    8388608 kB\n"};
const std::pair<std::string, std::string> kMountsV2{
    "proc/self/mountinfo",
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "25 22 0:22 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw,nsdelegate\n"};
std::pair<std::string, std::string> mounts_v1(const std::string& memory_root) {
  return {"proc/self/mountinfo",
          "22 1 8:1 / / rw,relatime - overlay overlay rw,lowerdir=" + std::string(3000, 'l') + "\n"
          "32 22 0:29 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
          "33 32 0:30 / /sys/fs/cgroup/cpu,cpuacct rw,relatime - cgroup cgroup rw,cpu,cpuacct\n"
          "36 32 0:33 " + memory_root + " /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
          "42 32 0:39 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"};
}
std::pair<std::string, std::string> file(std::string path, uint64_t value) {
  return {std::move(path), std::to_string(value) + "\n"};
}
std::pair<std::string, std::string> file(std::string path, std::string text) {
  return {std::move(path), std::move(text)};
}

const std::string kV2 = "sys/fs/cgroup";
const std::string kV1 = "sys/fs/cgroup/memory";

INSTANTIATE_TEST_SUITE_P(
    Systems, MemoryHeadroom,
    ::testing::Values(
        LimitFiles{"v2_limit_less_usage_less_inactive_files",
                   {kMeminfo, kMountsV2, file("proc/self/cgroup", "0::/app.slice/web.service\n"),
                    file(kV2 + "/app.slice/web.service/memory.max", 1024 * MiB),
                    file(kV2 + "/app.slice/web.service/memory.current", 700 * MiB),
                    file(kV2 + "/app.slice/web.service/memory.stat",
                         "anon 1\nactive_file 5\ninactive_file " + std::to_string(100 * MiB) + "\n")},
                   kNone, 424 * MiB},
        LimitFiles{"v2_max_here_limit_above",
                   {kMeminfo, kMountsV2, file("proc/self/cgroup", "0::/app.slice/web.service\n"),
                    file(kV2 + "/app.slice/web.service/memory.max", "max\n"),
                    file(kV2 + "/app.slice/web.service/memory.current", 50 * MiB),
                    file(kV2 + "/app.slice/memory.max", 512 * MiB),
                    file(kV2 + "/app.slice/memory.current", 300 * MiB)},
                   kNone, 212 * MiB},
        LimitFiles{"v2_max_everywhere_leaves_mem_available",
                   {kMeminfo, kMountsV2, file("proc/self/cgroup", "0::/user.slice\n"),
                    file(kV2 + "/user.slice/memory.max", "max\n"),
                    file(kV2 + "/user.slice/memory.current", 50 * MiB)},
                   kNone, 8192 * MiB},
        LimitFiles{"v2_usage_past_the_limit_leaves_nothing",
                   {kMeminfo, kMountsV2, file("proc/self/cgroup", "0::/\n"), file(kV2 + "/memory.max", 64 * MiB),
                    file(kV2 + "/memory.current", 65 * MiB)},
                   kNone, 0},
        LimitFiles{"v1_container_named_in_full",
                   {kMeminfo, mounts_v1("/docker/abc"),
                    file("proc/self/cgroup", "5:cpu,cpuacct:/docker/abc\n4:memory:/docker/abc\n0::/\n"),
                    file(kV1 + "/memory.limit_in_bytes", 2048 * MiB),
                    file(kV1 + "/memory.usage_in_bytes", 1536 * MiB),
                    file(kV1 + "/memory.stat", "cache 9\ninactive_file 1\ntotal_inactive_file " +
                                                   std::to_string(512 * MiB) + "\n")},
                   kNone, 1024 * MiB},
        LimitFiles{"v1_below_the_mount_with_limit_above",
                   {kMeminfo, mounts_v1("/"), file("proc/self/cgroup", "4:memory:/jobs/7\n0::/\n"),
                    file(kV1 + "/jobs/7/memory.limit_in_bytes", uint64_t{9223372036854771712u}),
                    file(kV1 + "/jobs/7/memory.usage_in_bytes", 10 * MiB),
                    file(kV1 + "/jobs/memory.limit_in_bytes", 300 * MiB),
                    file(kV1 + "/jobs/memory.usage_in_bytes", 100 * MiB),
                    file(kV1 + "/memory.limit_in_bytes", uint64_t{9223372036854771712u}),
                    file(kV1 + "/memory.usage_in_bytes", 5000 * MiB)},
                   kNone, 200 * MiB},
        LimitFiles{"v1_unlimited_leaves_mem_available",
                   {kMeminfo, mounts_v1("/"), file("proc/self/cgroup", "4:memory:/\n"),
                    file(kV1 + "/memory.limit_in_bytes", uint64_t{9223372036854771712u}),
                    file(kV1 + "/memory.usage_in_bytes", 5000 * MiB)},
                   kNone, 8192 * MiB},
        LimitFiles{"v1_path_outside_the_mount_is_the_mounts_own",
                   {kMeminfo, mounts_v1("/docker/abc"), file("proc/self/cgroup", "4:memory:/elsewhere\n"),
                    file(kV1 + "/memory.limit_in_bytes", 256 * MiB), file(kV1 + "/memory.usage_in_bytes", 6 * MiB)},
                   kNone, 250 * MiB},
        LimitFiles{"limit_larger_than_mem_available", {kMeminfo, kMountsV2, file("proc/self/cgroup", "0::/\n"),
                                                       file(kV2 + "/memory.max", 64 * 1024 * MiB),
                                                       file(kV2 + "/memory.current", 0)},
                   kNone, 8192 * MiB},
        LimitFiles{"no_cgroup", {kMeminfo, kMountsV2}, kNone, 8192 * MiB},
        LimitFiles{"cgroup_not_mounted", {kMeminfo, file("proc/self/cgroup", "0::/a\n"),
                                          file(kV2 + "/a/memory.max", MiB), file(kV2 + "/a/memory.current", 0)},
                   kNone, 8192 * MiB},
        LimitFiles{"meminfo_without_mem_available",
                   {file("proc/meminfo", "MemTotal:       16777216 kB\nMemFree:         1048576 kB\n")}, kNone,
                   kNone},
        LimitFiles{"nothing_to_read", {}, kNone, kNone},
        LimitFiles{"address_space_limit_less_vm_size",
                   {kMeminfo, file("proc/self/status", "Name:\tpython3\nVmPeak:\t  999999 kB\nVmSize:\t  102400 kB\n")},
                   500 * MiB, 400 * MiB},
        LimitFiles{"address_space_already_past_its_limit",
                   {file("proc/self/status", "VmSize:\t  102400 kB\n")}, 50 * MiB, 0}),
    [](const auto& info) { return info.param.name; });

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

// Pages freed lazily stay in place while memory is plentiful, so writing
// them again needs no fresh memory, and they then hold what was written.
TEST(LazilyFreedPages, StayWhileMemoryIsPlentifulAndTakeNewBytes) {
  SmallPages pages(16 * 4096);
  ASSERT_NE(pages.get(), nullptr);
  pages.touch(16);
  if (!os::free_pages_lazily(pages.get(), 16 * 4096)) GTEST_SKIP() << "no lazy freeing here: pages were discarded";
  EXPECT_FALSE(os::mostly_absent(pages.get(), 16 * 4096));
  std::memset(pages.get(), 'x', 16 * 4096);
  EXPECT_EQ(std::string(pages.get(), 16 * 4096), std::string(16 * 4096, 'x'));
}

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
