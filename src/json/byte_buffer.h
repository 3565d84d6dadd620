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

// The write position and the end of the room are kept as pointers: the
// bytes a writer stores may alias the buffer's own fields, so the compiler
// reads them again after each store, and pointers need fewer such reads and
// less arithmetic than a base, a size and a capacity.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  // Writes into [memory, memory + bytes), which must outlive the buffer's use.
  // Memory too small to be worth asking pages for piecewise is writable at
  // once, so a small output never takes the growing path.
  ByteBuffer(char* memory, size_t bytes)
      : data_(memory),
        end_(memory),
        limit_(memory + (bytes < kLargeBufferBytes ? bytes : 0)),
        lent_(memory),
        lent_bytes_(bytes) {}
  ~ByteBuffer() { release(); }
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        limit_(std::exchange(other.limit_, nullptr)),
        lent_(std::exchange(other.lent_, nullptr)),
        lent_bytes_(std::exchange(other.lent_bytes_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      end_ = std::exchange(other.end_, nullptr);
      limit_ = std::exchange(other.limit_, nullptr);
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
  char* data() { return data_; }
  size_t size() const { return static_cast<size_t>(end_ - data_); }
  std::string_view view() const { return {data_, size()}; }

  // A hint; a buffer over given memory ignores it.
  void reserve(size_t capacity) {
    if (lent_ == nullptr && capacity > this->capacity()) regrow(capacity);
  }
  // Room for `n` more bytes; returns where they go. Commit with `advance`.
  char* room(size_t n) {
    if (static_cast<size_t>(limit_ - end_) < n) grow_for(n);
    return end_;
  }
  void advance(size_t n) { end_ += n; }

  // For a writer that keeps the write position in a local while it writes
  // many values: where the next byte goes, where the room ends, and setting
  // the position to where its text ended (within the room).
  char* position() const { return end_; }
  char* room_limit() const { return limit_; }
  void settle(char* at) { end_ = at; }

  void push(char c) {
    if (end_ == limit_) grow_for(1);
    *end_++ = c;
  }
  void append(const char* bytes, size_t n) {
    if (static_cast<size_t>(limit_ - end_) < n) grow_for(n);
    copy_bytes(end_, bytes, n);
    end_ += n;
  }
  void append(std::string_view s) { append(s.data(), s.size()); }

 private:
  size_t capacity() const { return static_cast<size_t>(limit_ - data_); }

  void grow_for(size_t n) {
    const size_t size = this->size();
    const size_t capacity = this->capacity();
    if (n > SIZE_MAX / 2 - size) throw std::bad_alloc();
    size_t wanted = size + n;
    if (lent_ != nullptr && wanted <= lent_bytes_) {
      // The next piece of the given memory, its pages asked for together.
      size_t grown = capacity + kLentPiece;
      if (grown < wanted) grown = wanted;
      if (grown > lent_bytes_) grown = lent_bytes_;
      prepare_for_writing(limit_, grown - capacity);
      limit_ = data_ + grown;
      return;
    }
    size_t doubled = capacity + capacity / 2;
    regrow(wanted > doubled ? wanted : (doubled < 256 ? 256 : doubled));
  }
  void regrow(size_t capacity) {
    const size_t size = this->size();
    if (lent_ != nullptr) {
      // Past the given memory: on in memory of its own.
      char* own = static_cast<char*>(allocate_large(capacity));
      if (size != 0) std::memcpy(own, data_, size);
      lent_ = nullptr;
      lent_bytes_ = 0;
      data_ = own;
    } else {
      data_ = static_cast<char*>(reallocate_large(data_, this->capacity(), capacity));
    }
    end_ = data_ + size;
    limit_ = data_ + capacity;
  }
  void release() noexcept {
    if (lent_ == nullptr && data_ != nullptr) free_large(data_, capacity());
  }

  static constexpr size_t kLentPiece = size_t{2} << 20;

  char* data_ = nullptr;
  char* end_ = nullptr;    // where the next byte goes
  char* limit_ = nullptr;  // the end of the room that may be written now
  char* lent_ = nullptr;   // the given memory, while the bytes are there
  size_t lent_bytes_ = 0;
};

}  // namespace tamsel::json
