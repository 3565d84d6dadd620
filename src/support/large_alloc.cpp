#include "support/large_alloc.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tamsel {

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, which is harmless
#endif

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;

size_t mapped_size(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

void* map_aligned(size_t size) {
  // Map one huge page more than needed and trim both ends to alignment.
  size_t span = size + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned != start) munmap(raw, aligned - start);
  size_t tail = (start + span) - (aligned + size);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // Advice only; 4 KiB pages still work.
  madvise(block, size, MADV_HUGEPAGE);
  return block;
}

}  // namespace

void* allocate_large(size_t bytes) {
  if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  void* block = bytes < kLargeBufferBytes ? std::malloc(bytes == 0 ? 1 : bytes) : map_aligned(mapped_size(bytes));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void prepare_for_writing(void* block, size_t bytes) noexcept {
  if (bytes < kLargeBufferBytes) return;
  // Only whole pages inside the range: the pages at its ends may hold
  // someone else's bytes, and they are a couple of faults at most.
  uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~uintptr_t{kPage - 1};
  uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~uintptr_t{kPage - 1};
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
}

void advise_huge_pages(void* block, size_t bytes) noexcept {
  // Only the whole huge pages inside the range, which the caller alone uses;
  // the memory around it is the other allocator's.
  uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
  uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~uintptr_t{kHugePage - 1};
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

void free_large(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kLargeBufferBytes) {
    std::free(block);
  } else {
    munmap(block, mapped_size(bytes));
  }
}

void* reallocate_large(void* block, size_t old_bytes, size_t new_bytes) {
  if (block == nullptr) return allocate_large(new_bytes);
  if (new_bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  bool old_large = old_bytes >= kLargeBufferBytes;
  bool new_large = new_bytes >= kLargeBufferBytes;
  if (!old_large && !new_large) {
    void* grown = std::realloc(block, new_bytes == 0 ? 1 : new_bytes);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
  }
  if (old_large && new_large) {
    size_t old_size = mapped_size(old_bytes);
    size_t new_size = mapped_size(new_bytes);
    if (old_size == new_size) return block;
    // In place keeps the alignment; moving may cost it, which only loses
    // huge pages, not correctness.
    void* moved = mremap(block, old_size, new_size, 0);
    if (moved == MAP_FAILED) moved = mremap(block, old_size, new_size, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
    return moved;
  }
  void* fresh = allocate_large(new_bytes);
  std::memcpy(fresh, block, old_bytes < new_bytes ? old_bytes : new_bytes);
  free_large(block, old_bytes);
  return fresh;
}

}  // namespace tamsel
