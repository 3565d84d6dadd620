#include "support/large_alloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/alloc_failure.h"
#include "support/block_pool.h"
#include "support/os.h"

namespace tamsel {

namespace {

size_t mapped_size(size_t bytes) { return (bytes + os::kHugePageBytes - 1) & ~(os::kHugePageBytes - 1); }

}  // namespace

void* allocate_large(size_t bytes) {
  if (bytes > SIZE_MAX - 2 * os::kHugePageBytes) throw std::bad_alloc();
  check_allocation();
  void* block = bytes < kLargeBufferBytes ? std::malloc(bytes == 0 ? 1 : bytes) : shared_block_pool().take(mapped_size(bytes));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void prepare_for_writing(void* block, size_t bytes) noexcept {
  if (bytes >= kLargeBufferBytes) os::populate_for_writing(block, bytes);
}

void advise_huge_pages(void* block, size_t bytes) noexcept { os::advise_huge_pages(block, bytes); }

void note_library_call() noexcept { shared_block_pool().note_call(); }

void free_large(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kLargeBufferBytes) {
    std::free(block);
  } else {
    shared_block_pool().give_back(block, mapped_size(bytes));
  }
}

void* reallocate_large(void* block, size_t old_bytes, size_t new_bytes) {
  if (block == nullptr) return allocate_large(new_bytes);
  if (new_bytes > SIZE_MAX - 2 * os::kHugePageBytes) throw std::bad_alloc();
  bool old_large = old_bytes >= kLargeBufferBytes;
  bool new_large = new_bytes >= kLargeBufferBytes;
  if (!old_large && !new_large) {
    check_allocation();
    void* grown = std::realloc(block, new_bytes == 0 ? 1 : new_bytes);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
  }
  if (old_large && new_large) {
    size_t old_size = mapped_size(old_bytes);
    size_t new_size = mapped_size(new_bytes);
    if (old_size == new_size) return block;
    check_allocation();
    if (void* moved = shared_block_pool().resize(block, old_size, new_size)) return moved;
  }
  void* fresh = allocate_large(new_bytes);
  std::memcpy(fresh, block, old_bytes < new_bytes ? old_bytes : new_bytes);
  free_large(block, old_bytes);
  return fresh;
}

}  // namespace tamsel
