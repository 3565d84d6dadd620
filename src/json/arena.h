// A bump allocator for one document: everything a parse builds is carved out
// of a few large chunks and released together when the document goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

namespace tamsel::json {

class Arena {
 public:
  explicit Arena(size_t first_chunk_bytes = 16 * 1024)
      : cur_(nothing_left()), end_(nothing_left()), next_chunk_(first_chunk_bytes) {}
  // Starts in [block, block + block_bytes), which the caller owns and which
  // must outlive the arena and be 16-byte aligned; past it, chunks as above,
  // the first of `next_chunk_bytes`. A small document then costs no heap
  // work at all.
  Arena(void* block, size_t block_bytes, size_t next_chunk_bytes)
      : cur_(static_cast<char*>(block)),
        end_(static_cast<char*>(block) + (block_bytes & ~size_t{15})),
        next_chunk_(next_chunk_bytes) {}
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `align` must be a power of two no larger than 16. The room in use always
  // ends on a multiple of 16, so aligning never passes its end and one
  // comparison tells whether `bytes` fit.
  void* allocate(size_t bytes, size_t align) {
    uintptr_t cur = reinterpret_cast<uintptr_t>(cur_);
    uintptr_t aligned = (cur + (align - 1)) & ~static_cast<uintptr_t>(align - 1);
    if (bytes <= static_cast<size_t>(reinterpret_cast<uintptr_t>(end_) - aligned)) {
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
  // An empty room for an arena with no chunk yet: only empty allocations
  // fit, and they get an address that is not null.
  static char* nothing_left() {
    alignas(16) static char empty[16];
    return empty;
  }

  char* cur_;
  char* end_;
  Chunk* head_ = nullptr;
  size_t next_chunk_;
};

// A growable array in an arena, for tables that stay small or grow
// geometrically: growing copies the items into a larger array and leaves the
// old one to the arena, which frees everything at once.
template <class T>
class ArenaArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  explicit ArenaArray(Arena& arena) : arena_(&arena) {}

  size_t size() const { return size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  void push_back(const T& item) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = item;
  }
  // New items are `fill`.
  void resize(size_t size, const T& fill) {
    if (size > capacity_) grow(size);
    for (size_t i = size_; i < size; ++i) data_[i] = fill;
    size_ = size;
  }

 private:
  static constexpr size_t kFirstCapacity = 16;
  void grow(size_t at_least) {
    size_t capacity = capacity_ < kFirstCapacity ? kFirstCapacity : 2 * capacity_;
    if (capacity < at_least) capacity = at_least;
    T* grown = arena_->allocate_array<T>(capacity);
    if (size_ != 0) std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(T));
    data_ = grown;
    capacity_ = capacity;
  }

  Arena* arena_;
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace tamsel::json
