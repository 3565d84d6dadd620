// A bump allocator for one document: everything a parse builds is carved out
// of a few large chunks and released together when the document goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace tamsel::json {

class Arena {
 public:
  explicit Arena(size_t first_chunk_bytes = 16 * 1024) : next_chunk_(first_chunk_bytes) {}
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `align` must be a power of two no larger than 16.
  void* allocate(size_t bytes, size_t align) {
    uintptr_t cur = reinterpret_cast<uintptr_t>(cur_);
    uintptr_t aligned = (cur + (align - 1)) & ~static_cast<uintptr_t>(align - 1);
    if (cur_ != nullptr && aligned <= reinterpret_cast<uintptr_t>(end_) &&
        bytes <= static_cast<size_t>(reinterpret_cast<uintptr_t>(end_) - aligned)) {
      cur_ = reinterpret_cast<char*>(aligned + bytes);
      return reinterpret_cast<void*>(aligned);
    }
    return allocate_slow(bytes, align);
  }

  template <class T>
  T* allocate_array(size_t count) {
    if (count > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate(count * sizeof(T), alignof(T)));
  }

  char* copy_bytes(const char* data, size_t size) {
    char* out = static_cast<char*>(allocate(size, 1));
    if (size != 0) std::memcpy(out, data, size);
    return out;
  }

 private:
  struct Chunk {
    Chunk* previous;
    size_t bytes;  // the whole allocation, this header included
  };
  void* allocate_slow(size_t bytes, size_t align);

  char* cur_ = nullptr;
  char* end_ = nullptr;
  Chunk* head_ = nullptr;
  size_t next_chunk_;
};

}  // namespace tamsel::json
