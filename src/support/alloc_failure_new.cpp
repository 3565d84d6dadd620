// Test-only global operator new (see support/alloc_failure.h): every
// allocation of the standard containers and strings is an allocation point
// too. Linked into the test programs and the allocation-failure module only.
//
// Memory comes from malloc and goes back to free, as with the library's own
// operators, so that memory from either may be released by either.
#include <cstdlib>
#include <new>

#include "support/alloc_failure.h"

namespace {

void* allocate(std::size_t bytes) {
  tamsel::check_allocation();
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return allocate(bytes);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t bytes, const std::nothrow_t& tag) noexcept { return operator new(bytes, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
