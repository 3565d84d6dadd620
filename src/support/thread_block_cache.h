// Mid-size buffers that a thread frees, kept for that thread's next call.
//
// Buffers below the size that is mapped directly (large_alloc.h) come from
// malloc. glibc gives the free memory at the top of its heap back to the
// system once more than its trim threshold lies there (128 KiB until a
// larger mapped block raises it), so a call whose buffers add up to a few
// hundred KiB had the heap shrink under it when it freed them, and the next
// call faulted every page in again: at 100 KB, 44 faults and about half the
// speed of the same call in a process whose threshold had risen. A thread
// keeps a few of its freed buffers instead, of power-of-two sizes so that
// the next call of about the same size finds one of its own size.
//
// The cache is plain per-thread state: no lock, nothing shared. What it
// keeps is bounded per thread (the bound it is made with, and kSlots
// blocks), and freed when the thread ends.
#pragma once

#include <cstddef>

namespace tamsel {

class ThreadBlockCache {
 public:
  static constexpr size_t kSlots = 8;

  // Trivially destructible, so that it stays usable while a thread ends;
  // release_all frees what it keeps.
  explicit constexpr ThreadBlockCache(size_t max_kept_bytes) noexcept : max_kept_(max_kept_bytes) {}

  // A kept block of exactly `bytes`, or nullptr.
  void* take(size_t bytes) noexcept;
  // Keeps `block` (from malloc, `bytes` long), pushing out the oldest kept
  // blocks to make room; frees it at once when it alone is over the bound.
  void keep(void* block, size_t bytes) noexcept;
  void release_all() noexcept;
  // Once closed, nothing more is kept: blocks given to keep are freed.
  void close() noexcept {
    release_all();
    closed_ = true;
  }

  size_t kept_bytes() const noexcept { return kept_; }
  size_t kept_count() const noexcept { return count_; }

 private:
  struct Slot {
    void* block;
    size_t bytes;
  };
  // Takes slot i out, keeping the others in order, and unpoisons its block.
  Slot remove(size_t i) noexcept;
  void drop_oldest() noexcept;

  const size_t max_kept_;
  Slot slots_[kSlots]{};  // oldest first
  size_t count_ = 0;
  size_t kept_ = 0;
  bool closed_ = false;
};

}  // namespace tamsel
