// Large blocks kept across calls for reuse, shared by every thread.
//
// A large buffer that is mapped afresh faults its pages in again on every
// call, and on hosts that take back a guest's freed memory those faults are
// slow. The pool keeps blocks that calls give back and hands them to later
// calls, whose pages are then already there. What it keeps is bounded in
// bytes and given back to the system once the pool has gone unused for a
// while (measured both in time and in calls), so a process whose large calls
// have stopped returns to its usual size.
//
// The blocks come from os::map_pages and have sizes that are multiples of
// os::kHugePageBytes. A block handed out may be larger than asked for; the
// pool remembers its real size until it comes back, so callers only ever
// name the size they asked for.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tamsel {

struct BlockPoolLimits {
  size_t max_kept_bytes;  // never more than this is kept
  uint64_t idle_nanoseconds;  // kept blocks go once nothing was taken or given back for this long
  uint32_t idle_calls;  // ... or once this many calls (note_call) went by without
};

class BlockPool {
 public:
  // Monotonic time in nanoseconds; read only when a call finds blocks kept.
  using Clock = uint64_t (*)() noexcept;
  // Whether `fresh_bytes` of memory not already mapped may be mapped now;
  // asked before every fresh mapping and every growth by remapping.
  using Admit = bool (*)(size_t fresh_bytes) noexcept;

  // Without `admit`, every mapping is tried.
  BlockPool(BlockPoolLimits limits, Clock clock, Admit admit = nullptr) noexcept;
  ~BlockPool();  // gives back what it keeps; no block may be out
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;

  // A block of at least `bytes` (a positive multiple of os::kHugePageBytes):
  // the smallest kept one that fits, or else a fresh one. Before mapping
  // afresh, the kept blocks too small for this request are given back, so
  // they do not add to a large call's own memory; then the admission is
  // asked, and nullptr returned, nothing mapped, if it refuses. When mapping
  // fails, all kept blocks are given back and mapping is tried once more.
  // nullptr when no memory can be had.
  // Of several kept blocks of that size, the one given back last: its lines
  // are the likeliest to be in a cache near the caller, and a thread that
  // makes call after call gets its own block back rather than another
  // thread's, whose lines would have to move over from that thread's core.
  void* take(size_t bytes) noexcept;
  // Takes back a block from take or resize; `bytes` is the size it was asked
  // for with. Kept when the bound allows, given back to the system otherwise.
  void give_back(void* block, size_t bytes) noexcept;
  // The block, resized from `old_bytes` to `new_bytes` (both as asked for)
  // with its contents kept: the same block when its real size holds the new
  // one, otherwise remapped where the system can and the admission allows
  // the growth. nullptr (block unchanged) when the caller must move the
  // contents itself.
  void* resize(void* block, size_t old_bytes, size_t new_bytes) noexcept;

  // Once per call of the library, however small: gives back the kept blocks
  // when the pool has gone unused. Costs one relaxed load while nothing is
  // kept, and a counter and a clock read while blocks are.
  void note_call() noexcept;
  // Gives back every kept block now.
  void release_all() noexcept;

  size_t kept_bytes() const noexcept { return kept_bytes_.load(std::memory_order_relaxed); }

  // Around fork (see shared_block_pool).
  void hold_lock() noexcept { mutex_.lock(); }
  void drop_lock() noexcept { mutex_.unlock(); }

  static constexpr size_t kSlots = 64;

 private:
  struct Block {
    void* start;
    size_t bytes;
    uint64_t given_back;  // when, in gives back counted by the pool
  };
  // Blocks to give back to the system once the lock is dropped.
  struct Spill {
    Block blocks[kSlots + 1];
    size_t count = 0;
    void release() noexcept;
  };

  void mark_used() noexcept;
  size_t lent_size(void* block, size_t bytes, bool forget) noexcept;
  void remember_lent(void* block, size_t real, size_t bytes) noexcept;
  void spill_kept_if(Spill& spill, size_t below) noexcept;

  const BlockPoolLimits limits_;
  const Clock clock_;
  const Admit admit_;
  std::mutex mutex_;
  Block kept_[kSlots];  // under mutex_
  size_t kept_count_ = 0;
  uint64_t gives_back_ = 0;  // under mutex_
  struct Lent {
    uintptr_t hidden_start;
    size_t bytes;
  };
  Lent lent_[kSlots];  // blocks out that are larger than asked for, with their real sizes
  size_t lent_count_ = 0;
  std::atomic<size_t> kept_bytes_{0};  // written under mutex_, read anywhere
  std::atomic<uint64_t> last_used_{0};
  std::atomic<uint32_t> calls_unused_{0};
};

// The process-wide pool behind allocate_large (support/large_alloc.h), with
// the bound stated in the README. Never destroyed, so threads still running
// at exit can use it.
BlockPool& shared_block_pool() noexcept;

}  // namespace tamsel
