// The operating system calls the library makes, each with a plain fallback
// for systems that lack it (see support/platform.h). Nothing here is needed
// for correct results: the Linux calls only make large buffers cheaper and
// fault reports more telling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tamsel::os {

// The alignment of blocks from map_pages: one huge page.
inline constexpr size_t kHugePageBytes = size_t{2} << 20;

// `bytes` (a multiple of kHugePageBytes) of fresh memory aligned to
// kHugePageBytes, marked for huge pages where that exists; nullptr when none
// can be had.
void* map_pages(size_t bytes) noexcept;
// Gives back a block from map_pages or remap_pages of that size.
void unmap_pages(void* block, size_t bytes) noexcept;
// Resizes such a block, keeping its contents, and returns where it now is;
// nullptr (the block left as it was) when this cannot be done without a copy
// by the caller.
void* remap_pages(void* block, size_t old_bytes, size_t new_bytes) noexcept;

// Advice on the pages wholly inside [block, block + bytes), ignored where it
// is not supported. The pages at the ends may hold someone else's bytes and
// are left alone.
// The 4 KiB pages: supply them all now, to be written.
void populate_for_writing(void* block, size_t bytes) noexcept;
// The huge pages: back them with huge pages when they are first touched.
void advise_huge_pages(void* block, size_t bytes) noexcept;
// The 4 KiB pages of a block from map_pages: their contents are no longer
// needed, so give their memory back now; they read as zero if touched again.
// Only for blocks from map_pages (an allocator keeps its own data in the
// memory it hands out); does nothing where map_pages is the C allocator.
void discard_pages(void* block, size_t bytes) noexcept;
// The same pages, given back lazily: the system takes their memory only
// when it runs short (it counts as available meanwhile), and until they are
// written again they read as their old bytes or as zero. Written again before
// it was taken, a page costs no fault and no fresh memory, which on a host
// that reclaims what its guests free is most of the cost of a large call.
// Where the system cannot (Linux before 4.5), the pages are discarded as
// above, and false is returned.
bool free_pages_lazily(void* block, size_t bytes) noexcept;

// Whether most of the 4 KiB pages wholly inside [block, block + bytes) are
// not in memory (never touched, or given back), for up to
// kMostlyAbsentMaxPages of them; false where that cannot be told.
inline constexpr size_t kMostlyAbsentMaxPages = 512;
bool mostly_absent(void* block, size_t bytes) noexcept;

// The bytes of memory the process may still take before the system refuses
// it or ends the process for it: the least of
// - what its memory cgroup, and every cgroup above it, still allows: the
//   limit less the usage (cgroup v2: memory.max, memory.current; v1:
//   memory.limit_in_bytes, memory.usage_in_bytes), not counting the file
//   pages the kernel takes back first when the cgroup is full (inactive_file
//   in memory.stat); the cgroup is found through /proc/self/cgroup and
//   /proc/self/mountinfo, and a limit of "max" is none;
// - the system's MemAvailable (/proc/meminfo);
// - what RLIMIT_AS leaves: the limit less VmSize (/proc/self/status).
// kNoMemoryLimit when none of them is known (files absent, or a system
// without them). Reads a handful of small files: tens of microseconds, for
// callers about to commit to far more memory than that costs to fill.
inline constexpr uint64_t kNoMemoryLimit = UINT64_MAX;
uint64_t memory_headroom() noexcept;
// The same, read from the files under `root` (a directory standing in for
// "/", so that tests can make up the files), with `address_space_limit` in
// place of RLIMIT_AS (kNoMemoryLimit for none). Plain C++: no system call
// beyond opening and reading files.
uint64_t memory_headroom_under(const char* root, uint64_t address_space_limit) noexcept;

// The calling thread's name, or "<unnamed>".
std::string current_thread_name();

}  // namespace tamsel::os
