// Memory kept for reuse is out of bounds to AddressSanitizer while it is
// kept, so a use after giving it back is still reported as one. Nothing is
// done in other builds.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define TAMSEL_POISON_KEPT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAMSEL_POISON_KEPT 1
#endif
#endif
#ifdef TAMSEL_POISON_KEPT
#include <sanitizer/asan_interface.h>
#endif

namespace tamsel {

inline void mark_kept(void* block, size_t bytes, bool kept) noexcept {
#ifdef TAMSEL_POISON_KEPT
  if (kept) {
    ASAN_POISON_MEMORY_REGION(block, bytes);
  } else {
    ASAN_UNPOISON_MEMORY_REGION(block, bytes);
  }
#else
  (void)block, (void)bytes, (void)kept;
#endif
}

}  // namespace tamsel
