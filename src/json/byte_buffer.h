// One growing output buffer. Large buffers are mapped in huge pages and grow
// by remapping pages instead of copying them.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "support/large_alloc.h"

namespace tamsel::json {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ~ByteBuffer() { free_large(data_, capacity_); }
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      free_large(data_, capacity_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  void reserve(size_t capacity) {
    if (capacity > capacity_) regrow(capacity);
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
    if (n != 0) std::memcpy(data_ + size_, bytes, n);
    size_ += n;
  }
  void append(std::string_view s) { append(s.data(), s.size()); }

 private:
  void grow_for(size_t n) {
    if (n > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    size_t wanted = size_ + n;
    size_t doubled = capacity_ + capacity_ / 2;
    regrow(wanted > doubled ? wanted : (doubled < 256 ? 256 : doubled));
  }
  void regrow(size_t capacity) {
    data_ = static_cast<char*>(reallocate_large(data_, capacity_, capacity));
    capacity_ = capacity;
  }

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace tamsel::json
