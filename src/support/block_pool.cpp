#include "support/block_pool.h"

#include <chrono>
#include <cstdint>

#include "support/large_alloc.h"
#include "support/os.h"
#include "support/platform.h"
#include "support/poison.h"

#if TAMSEL_HAVE_FORK_HANDLERS
#include <pthread.h>
#endif

namespace tamsel {

namespace {

// Lent blocks are noted inverted, so that a leak checker does not take the
// note for a reference and still reports a lent block that is never given
// back.
uintptr_t hide(void* block) noexcept { return ~reinterpret_cast<uintptr_t>(block); }

// One call's buffers at 100 MB (the payload copy and the first arena chunk)
// fit, and so do eight threads' at 10 MB. See docs/design.md, Memory.
constexpr BlockPoolLimits kSharedLimits{
    size_t{256} << 20,
    uint64_t{1'000'000'000},  // one second
    256,
};

uint64_t steady_nanoseconds() noexcept {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

#if TAMSEL_HAVE_FORK_HANDLERS
namespace {
// Set before the handlers are registered, so that they never wait for the
// shared pool's construction.
std::atomic<BlockPool*> forking_pool{nullptr};
}  // namespace
#endif

BlockPool& shared_block_pool() noexcept {
  static BlockPool* const pool = [] {
    auto* made = new BlockPool(kSharedLimits, steady_nanoseconds, fresh_memory_fits);
#if TAMSEL_HAVE_FORK_HANDLERS
    // Fork waits for the lock, which is only ever held briefly, so the child
    // gets it free.
    forking_pool.store(made);
    pthread_atfork([] { forking_pool.load()->hold_lock(); }, [] { forking_pool.load()->drop_lock(); },
                   [] { forking_pool.load()->drop_lock(); });
#endif
    return made;
  }();
  return *pool;
}

namespace {
// Made while the library loads, before any thread can ask for it: a fork
// while another thread was still making it would leave the child waiting for
// ever on the half-made pool's guard.
[[maybe_unused]] BlockPool& made_at_load = shared_block_pool();
}  // namespace

void BlockPool::Spill::release() noexcept {
  for (size_t i = 0; i < count; ++i) {
    mark_kept(blocks[i].start, blocks[i].bytes, false);
    os::unmap_pages(blocks[i].start, blocks[i].bytes);
  }
  count = 0;
}

BlockPool::BlockPool(BlockPoolLimits limits, Clock clock, Admit admit) noexcept
    : limits_(limits), clock_(clock), admit_(admit) {}

BlockPool::~BlockPool() { release_all(); }

void BlockPool::mark_used() noexcept {
  last_used_.store(clock_(), std::memory_order_relaxed);
  calls_unused_.store(0, std::memory_order_relaxed);
}

size_t BlockPool::lent_size(void* block, size_t bytes, bool forget) noexcept {
  for (size_t i = 0; i < lent_count_; ++i) {
    if (lent_[i].hidden_start != hide(block)) continue;
    size_t real = lent_[i].bytes;
    if (forget) lent_[i] = lent_[--lent_count_];
    return real;
  }
  return bytes;
}

void BlockPool::remember_lent(void* block, size_t real, size_t bytes) noexcept {
  if (real == bytes) return;
  for (size_t i = 0; i < lent_count_; ++i) {
    if (lent_[i].hidden_start == hide(block)) return;
  }
  lent_[lent_count_++] = {hide(block), real};
}

void BlockPool::spill_kept_if(Spill& spill, size_t below) noexcept {
  size_t i = 0;
  while (i < kept_count_) {
    if (kept_[i].bytes < below) {
      spill.blocks[spill.count++] = kept_[i];
      kept_bytes_.store(kept_bytes_.load(std::memory_order_relaxed) - kept_[i].bytes, std::memory_order_relaxed);
      kept_[i] = kept_[--kept_count_];
    } else {
      ++i;
    }
  }
}

void* BlockPool::take(size_t bytes) noexcept {
  Spill spill;
  {
    std::lock_guard lock(mutex_);
    mark_used();
    size_t best = kept_count_;
    for (size_t i = 0; i < kept_count_; ++i) {
      const size_t size = kept_[i].bytes;
      // A larger block can only be lent while its real size can be noted.
      if (size < bytes || (size != bytes && lent_count_ == kSlots)) continue;
      if (best == kept_count_ || size < kept_[best].bytes ||
          (size == kept_[best].bytes && kept_[i].given_back > kept_[best].given_back)) {
        best = i;
      }
    }
    if (best != kept_count_) {
      const Block found = kept_[best];
      kept_[best] = kept_[--kept_count_];
      kept_bytes_.store(kept_bytes_.load(std::memory_order_relaxed) - found.bytes, std::memory_order_relaxed);
      remember_lent(found.start, found.bytes, bytes);
      mark_kept(found.start, found.bytes, false);
      return found.start;
    }
    spill_kept_if(spill, bytes);
  }
  spill.release();
  // Asked once the blocks too small are gone, so that the limits read count
  // them as given back.
  if (admit_ != nullptr && !admit_(bytes)) return nullptr;
  void* fresh = os::map_pages(bytes);
  if (fresh == nullptr) {
    release_all();
    fresh = os::map_pages(bytes);
  }
  return fresh;
}

void BlockPool::give_back(void* block, size_t bytes) noexcept {
  size_t real;
  {
    std::lock_guard lock(mutex_);
    mark_used();
    real = lent_size(block, bytes, true);
    if (kept_count_ < kSlots && real <= limits_.max_kept_bytes - kept_bytes() &&
        kept_bytes() <= limits_.max_kept_bytes) {
      kept_[kept_count_++] = {block, real, ++gives_back_};
      kept_bytes_.store(kept_bytes() + real, std::memory_order_relaxed);
      mark_kept(block, real, true);
      return;
    }
  }
  os::unmap_pages(block, real);
}

void* BlockPool::resize(void* block, size_t old_bytes, size_t new_bytes) noexcept {
  size_t real;
  {
    std::lock_guard lock(mutex_);
    mark_used();
    real = lent_size(block, old_bytes, false);
    if (new_bytes <= real && (real == new_bytes || real != old_bytes || lent_count_ < kSlots)) {
      remember_lent(block, real, new_bytes);
      return block;
    }
  }
  // Asked without the lock, which other threads' buffers need meanwhile;
  // the block is the caller's, so its real size stays as read.
  if (admit_ != nullptr && new_bytes > real && !admit_(new_bytes - real)) return nullptr;
  std::lock_guard lock(mutex_);
  // Remapped under the lock: once moved, the old address may be mapped
  // afresh by another thread, and must not still be noted as lent.
  void* moved = os::remap_pages(block, real, new_bytes);
  if (moved != nullptr) lent_size(block, real, true);
  return moved;
}

void BlockPool::note_call() noexcept {
  if (kept_bytes_.load(std::memory_order_relaxed) == 0) return;
  auto idle = [this](uint32_t calls) {
    if (calls >= limits_.idle_calls) return true;
    const uint64_t now = clock_();
    const uint64_t last = last_used_.load(std::memory_order_relaxed);
    return now > last && now - last >= limits_.idle_nanoseconds;
  };
  if (!idle(calls_unused_.fetch_add(1, std::memory_order_relaxed) + 1)) return;
  Spill spill;
  {
    std::lock_guard lock(mutex_);
    // Another thread may have used the pool since.
    if (!idle(calls_unused_.load(std::memory_order_relaxed))) return;
    spill_kept_if(spill, SIZE_MAX);
  }
  spill.release();
}

void BlockPool::release_all() noexcept {
  Spill spill;
  {
    std::lock_guard lock(mutex_);
    spill_kept_if(spill, SIZE_MAX);
  }
  spill.release();
}

}  // namespace tamsel
