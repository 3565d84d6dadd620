#include "support/large_alloc.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/alloc_failure.h"
#include "support/block_pool.h"
#include "support/os.h"
#include "support/poison.h"
#include "support/thread_block_cache.h"

namespace tamsel {

namespace {

// Three kinds of buffer, by the size asked for: small ones from malloc as
// they are; mid-size ones from malloc at a power-of-two size, kept by the
// thread that frees them; large ones mapped and pooled.
enum class Kind { small, mid, large };

Kind kind_of(size_t bytes) {
  if (bytes >= kLargeBufferBytes) return Kind::large;
  return bytes >= kThreadKeptFromBytes ? Kind::mid : Kind::small;
}

size_t mapped_size(size_t bytes) { return (bytes + os::kHugePageBytes - 1) & ~(os::kHugePageBytes - 1); }
size_t mid_size(size_t bytes) { return std::bit_ceil(bytes); }

// Under AddressSanitizer the part of a mid-size block past the size asked
// for stays out of bounds, so an overrun is still reported where malloc
// alone would have caught it.
void* fit_mid(void* block, size_t bytes) noexcept {
  const size_t size = mid_size(bytes);
  mark_kept(block, bytes, false);
  mark_kept(static_cast<char*>(block) + bytes, size - bytes, true);
  return block;
}

// Enough for the payload copy and the arena of a call of about 300 KB.
constexpr size_t kThreadKeptBytes = size_t{1} << 20;

// Constant-initialised and trivially destructible: no guard on each use, and
// still there for a buffer freed while the thread's other thread-local
// objects are being destroyed. The closer below frees what it keeps.
thread_local constinit ThreadBlockCache t_kept{kThreadKeptBytes};
thread_local constinit bool t_closer_made = false;

struct ThreadCacheCloser {
  ~ThreadCacheCloser() { t_kept.close(); }
};

void keep_for_thread(void* block, size_t size) noexcept {
  if (!t_closer_made) {
    // Made (and its destructor registered) the first time this thread keeps
    // a block; threads that never do pay nothing at exit.
    static thread_local ThreadCacheCloser closer;
    (void)closer;
    t_closer_made = true;
  }
  t_kept.keep(block, size);
}

}  // namespace

bool fresh_memory_fits(size_t bytes) noexcept {
  if (bytes < kCheckedFreshBytes) return true;
  const uint64_t headroom = std::min(os::memory_headroom(), test_memory_limit());
  return bytes <= headroom;
}

void* allocate_large(size_t bytes) {
  if (bytes > SIZE_MAX - 2 * os::kHugePageBytes) throw std::bad_alloc();
  check_allocation();
  void* block = nullptr;
  switch (kind_of(bytes)) {
    case Kind::small: block = std::malloc(bytes == 0 ? 1 : bytes); break;
    case Kind::mid: {
      const size_t size = mid_size(bytes);
      block = t_kept.take(size);
      if (block == nullptr) block = std::malloc(size);
      if (block != nullptr) fit_mid(block, bytes);
      break;
    }
    case Kind::large: block = shared_block_pool().take(mapped_size(bytes)); break;
  }
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void prepare_for_writing(void* block, size_t bytes) noexcept {
  if (bytes >= kLargeBufferBytes) os::populate_for_writing(block, bytes);
}

void advise_huge_pages(void* block, size_t bytes) noexcept { os::advise_huge_pages(block, bytes); }

void populate_if_given_back(void* block, size_t bytes) noexcept {
  if (bytes < kCheckedResultBytes || bytes >= kLargeBufferBytes) return;
  if (os::mostly_absent(block, bytes)) os::populate_for_writing(block, bytes);
}

void note_library_call() noexcept { shared_block_pool().note_call(); }

void free_large(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  switch (kind_of(bytes)) {
    case Kind::small: std::free(block); return;
    case Kind::mid: keep_for_thread(block, mid_size(bytes)); return;
    case Kind::large: shared_block_pool().give_back(block, mapped_size(bytes)); return;
  }
}

void* reallocate_large(void* block, size_t old_bytes, size_t new_bytes) {
  if (block == nullptr) return allocate_large(new_bytes);
  if (new_bytes > SIZE_MAX - 2 * os::kHugePageBytes) throw std::bad_alloc();
  const Kind old_kind = kind_of(old_bytes);
  const Kind new_kind = kind_of(new_bytes);
  if (old_kind == Kind::small && new_kind == Kind::small) {
    check_allocation();
    void* grown = std::realloc(block, new_bytes == 0 ? 1 : new_bytes);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
  }
  if (old_kind == Kind::mid && new_kind == Kind::mid && mid_size(old_bytes) == mid_size(new_bytes)) {
    return fit_mid(block, new_bytes);
  }
  if (old_kind == Kind::large && new_kind == Kind::large) {
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
