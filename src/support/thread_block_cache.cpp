#include "support/thread_block_cache.h"

#include <cstdlib>

#include "support/poison.h"

namespace tamsel {

ThreadBlockCache::Slot ThreadBlockCache::remove(size_t i) noexcept {
  const Slot slot = slots_[i];
  for (size_t j = i + 1; j < count_; ++j) slots_[j - 1] = slots_[j];
  --count_;
  kept_ -= slot.bytes;
  mark_kept(slot.block, slot.bytes, false);
  return slot;
}

void* ThreadBlockCache::take(size_t bytes) noexcept {
  // Newest first: it is the likeliest to be warm.
  for (size_t i = count_; i-- > 0;) {
    if (slots_[i].bytes == bytes) return remove(i).block;
  }
  return nullptr;
}

void ThreadBlockCache::keep(void* block, size_t bytes) noexcept {
  if (closed_ || bytes > max_kept_) {
    std::free(block);
    return;
  }
  while (count_ == kSlots || kept_ + bytes > max_kept_) drop_oldest();
  mark_kept(block, bytes, true);
  slots_[count_++] = Slot{block, bytes};
  kept_ += bytes;
}

void ThreadBlockCache::drop_oldest() noexcept { std::free(remove(0).block); }

void ThreadBlockCache::release_all() noexcept {
  while (count_ != 0) drop_oldest();
}

}  // namespace tamsel
