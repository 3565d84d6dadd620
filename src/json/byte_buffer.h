// One growing output buffer. Large buffers are mapped in huge pages and grow
// by remapping pages instead of copying them.
//
// A buffer may also be given memory of its caller's to write into. It then
// asks for those pages a piece at a time as it fills them, and should the
// memory run out it moves what it holds into memory of its own and goes on
// there: the caller checks `in_memory` to see where the bytes ended up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "support/large_alloc.h"

namespace tamsel::json {

// Copies `n` bytes. Most of what a writer copies is a few bytes long, where a
// call to memcpy costs more than the copy: up to 16 bytes are moved with two
// loads and two stores that may overlap, reading nothing outside the source.
inline void copy_bytes(char* to, const char* from, size_t n) {
  if (n >= 8) {
    if (n > 16) {
      std::memcpy(to, from, n);
      return;
    }
    uint64_t a, b;
    std::memcpy(&a, from, 8);
    std::memcpy(&b, from + n - 8, 8);
    std::memcpy(to, &a, 8);
    std::memcpy(to + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, from, 4);
    std::memcpy(&b, from + n - 4, 4);
    std::memcpy(to, &a, 4);
    std::memcpy(to + n - 4, &b, 4);
  } else if (n != 0) {
    char first = from[0], middle = from[n / 2], last = from[n - 1];
    to[0] = first;
    to[n / 2] = middle;
    to[n - 1] = last;
  }
}

class ByteBuffer {
 public:
  ByteBuffer() = default;
  // Writes into [memory, memory + bytes), which must outlive the buffer's use.
  // Memory too small to be worth asking pages for piecewise is writable at
  // once, so a small output never takes the growing path.
  ByteBuffer(char* memory, size_t bytes)
      : data_(memory), capacity_(bytes < kLargeBufferBytes ? bytes : 0), lent_(memory), lent_bytes_(bytes) {}
  ~ByteBuffer() { release(); }
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        lent_(std::exchange(other.lent_, nullptr)),
        lent_bytes_(std::exchange(other.lent_bytes_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      lent_ = std::exchange(other.lent_, nullptr);
      lent_bytes_ = std::exchange(other.lent_bytes_, 0);
    }
    return *this;
  }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Whether the bytes are in the memory the buffer was given.
  bool in_memory(const char* memory) const { return lent_ != nullptr && data_ == memory; }

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  // A hint; a buffer over given memory ignores it.
  void reserve(size_t capacity) {
    if (lent_ == nullptr && capacity > capacity_) regrow(capacity);
  }
  // Room for `n` more bytes; returns where they go. Commit with `advance`.
  char* room(size_t n) {
    if (capacity_ - size_ < n) grow_for(n);
    return data_ + size_;
  }
  void advance(size_t n) { size_ += n; }

  void push(char c) {
    if (size_ == capacity_) grow_for(1);
    data_[size_++] = c;
  }
  void append(const char* bytes, size_t n) {
    if (capacity_ - size_ < n) grow_for(n);
    copy_bytes(data_ + size_, bytes, n);
    size_ += n;
  }
  void append(std::string_view s) { append(s.data(), s.size()); }

 private:
  void grow_for(size_t n) {
    if (n > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    size_t wanted = size_ + n;
    if (lent_ != nullptr && wanted <= lent_bytes_) {
      // The next piece of the given memory, its pages asked for together.
      size_t grown = capacity_ + kLentPiece;
      if (grown < wanted) grown = wanted;
      if (grown > lent_bytes_) grown = lent_bytes_;
      prepare_for_writing(data_ + capacity_, grown - capacity_);
      capacity_ = grown;
      return;
    }
    size_t doubled = capacity_ + capacity_ / 2;
    regrow(wanted > doubled ? wanted : (doubled < 256 ? 256 : doubled));
  }
  void regrow(size_t capacity) {
    if (lent_ != nullptr) {
      // Past the given memory: on in memory of its own.
      char* own = static_cast<char*>(allocate_large(capacity));
      if (size_ != 0) std::memcpy(own, data_, size_);
      lent_ = nullptr;
      lent_bytes_ = 0;
      data_ = own;
      capacity_ = capacity;
      return;
    }
    data_ = static_cast<char*>(reallocate_large(data_, capacity_, capacity));
    capacity_ = capacity;
  }
  void release() noexcept {
    if (lent_ == nullptr && data_ != nullptr) free_large(data_, capacity_);
  }

  static constexpr size_t kLentPiece = size_t{2} << 20;

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  char* lent_ = nullptr;  // the given memory, while the bytes are there
  size_t lent_bytes_ = 0;
};

}  // namespace tamsel::json
