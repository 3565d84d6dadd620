#include "support/os.h"

#include "support/platform.h"

#include <cstdint>
#include <cstdlib>

#if TAMSEL_HAVE_LINUX_MEMORY
#include <sys/mman.h>
#endif
#if TAMSEL_HAVE_THREAD_NAMES
#include <pthread.h>
#endif

namespace tamsel::os {

namespace {

// [start, end) of the pages of `page` bytes wholly inside the range; empty
// when there are none.
struct PageRange {
  uintptr_t start;
  uintptr_t end;
};
[[maybe_unused]] PageRange pages_inside(void* block, size_t bytes, size_t page) {
  uintptr_t first = reinterpret_cast<uintptr_t>(block);
  uintptr_t start = (first + page - 1) & ~uintptr_t{page - 1};
  uintptr_t end = (first + bytes) & ~uintptr_t{page - 1};
  return {start, end > start ? end : start};
}

}  // namespace

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

#if TAMSEL_HAVE_LINUX_MEMORY

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, which is harmless
#endif

void* map_pages(size_t bytes) noexcept {
  // Map one huge page more than needed and trim both ends to alignment.
  size_t span = bytes + kHugePageBytes;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  if (aligned != start) munmap(raw, aligned - start);
  size_t tail = (start + span) - (aligned + bytes);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // Advice only; 4 KiB pages still work.
  madvise(block, bytes, MADV_HUGEPAGE);
  return block;
}

void unmap_pages(void* block, size_t bytes) noexcept { munmap(block, bytes); }

void* remap_pages(void* block, size_t old_bytes, size_t new_bytes) noexcept {
  // In place keeps the alignment; moving may cost it, which only loses huge
  // pages, not correctness.
  void* moved = mremap(block, old_bytes, new_bytes, 0);
  if (moved == MAP_FAILED) moved = mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

void populate_for_writing(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  if (r.end > r.start) madvise(reinterpret_cast<void*>(r.start), r.end - r.start, MADV_POPULATE_WRITE);
}

bool mostly_absent(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  const size_t pages = (r.end - r.start) / 4096;
  unsigned char resident[kMostlyAbsentMaxPages];
  if (pages == 0 || pages > kMostlyAbsentMaxPages) return false;
  if (mincore(reinterpret_cast<void*>(r.start), r.end - r.start, resident) != 0) return false;
  size_t absent = 0;
  for (size_t i = 0; i < pages; ++i) absent += (resident[i] & 1) == 0 ? 1 : 0;
  return 2 * absent > pages;
}

void advise_huge_pages(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, kHugePageBytes);
  if (r.end > r.start) madvise(reinterpret_cast<void*>(r.start), r.end - r.start, MADV_HUGEPAGE);
}

void discard_pages(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  if (r.end > r.start) madvise(reinterpret_cast<void*>(r.start), r.end - r.start, MADV_DONTNEED);
}

#else  // The C allocator, and no advice.

void* map_pages(size_t bytes) noexcept { return std::aligned_alloc(kHugePageBytes, bytes); }

void unmap_pages(void* block, size_t) noexcept { std::free(block); }

void* remap_pages(void*, size_t, size_t) noexcept { return nullptr; }

void populate_for_writing(void*, size_t) noexcept {}

bool mostly_absent(void*, size_t) noexcept { return false; }

void advise_huge_pages(void*, size_t) noexcept {}

void discard_pages(void*, size_t) noexcept {}

#endif

// ---------------------------------------------------------------------------
// Thread names
// ---------------------------------------------------------------------------

std::string current_thread_name() {
#if TAMSEL_HAVE_THREAD_NAMES
  char name[64] = {0};
  if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 && name[0] != '\0') return name;
#endif
  return "<unnamed>";
}

}  // namespace tamsel::os
