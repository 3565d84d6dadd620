// The reader's working stacks (elements and member values, member names):
// the first items sit in room inside the stack itself, so a small document
// is read without asking the heap for anything, and past that room the items
// move to the heap and grow geometrically, as a vector's would.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

namespace tamsel::json {

namespace stack_detail {
// The first and the last `N` of `bytes` bytes (N <= bytes <= 2N), each
// read before either is written.
template <size_t N>
inline void copy_two_ends(unsigned char* to, const unsigned char* from, size_t bytes) {
  unsigned char head[N], tail[N];
  std::memcpy(head, from, N);
  std::memcpy(tail, from + bytes - N, N);
  std::memcpy(to, head, N);
  std::memcpy(to + bytes - N, tail, N);
}
}  // namespace stack_detail

// Copies `count` items from a stack to where they are kept. Most objects
// and arrays hold a few items, and a call to the library's memcpy for
// them costs more than the copy: up to 64 bytes are moved as two
// fixed-size pieces that may overlap, as small strings are copied.
template <class T>
inline void copy_items(T* to, const T* from, size_t count) {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 8 == 0);
  const size_t bytes = count * sizeof(T);
  auto* d = reinterpret_cast<unsigned char*>(to);
  const auto* s = reinterpret_cast<const unsigned char*>(from);
  if (bytes > 64) {
    std::memcpy(d, s, bytes);
  } else if (bytes >= 32) {
    stack_detail::copy_two_ends<32>(d, s, bytes);
  } else if (bytes >= 16) {
    stack_detail::copy_two_ends<16>(d, s, bytes);
  } else if (bytes == 8) {
    std::memcpy(d, s, 8);
  }
}

// Heap storage given away by a ValueStack.
struct StackStorageDeleter {
  void operator()(void* items) const noexcept { ::operator delete(items); }
};
template <class T>
using StackStorage = std::unique_ptr<T[], StackStorageDeleter>;

template <class T, size_t InlineItems>
class ValueStack {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  ValueStack() = default;
  ~ValueStack() {
    if (data_ != inline_) ::operator delete(data_);
  }
  ValueStack(const ValueStack&) = delete;
  ValueStack& operator=(const ValueStack&) = delete;

  size_t size() const { return size_; }
  T* data() { return data_; }
  bool is_inline() const { return data_ == inline_; }

  void reserve(size_t capacity) {
    if (capacity > capacity_) move_to(capacity);
  }
  size_t capacity() const { return capacity_; }
  bool full() const { return size_ == capacity_; }

  void push_back(const T& item) {
    if (size_ == capacity_) move_to(capacity_ * 2);
    data_[size_++] = item;
  }
  // Only when the stack is known not to be full.
  void push_unchecked(const T& item) { data_[size_++] = item; }
  // Drops the items from `size` on; never grows.
  void shrink_to(size_t size) { size_ = size; }

  // Gives the heap storage away, the items in it, and leaves the stack empty
  // and inline again. Only when the items are not inline.
  StackStorage<T> release_heap() {
    StackStorage<T> storage(data_);
    data_ = inline_;
    size_ = 0;
    capacity_ = InlineItems;
    return storage;
  }

 private:
  void move_to(size_t capacity) {
    if (capacity > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    T* grown = static_cast<T*>(::operator new(capacity * sizeof(T)));
    if (size_ != 0) std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(T));
    if (data_ != inline_) ::operator delete(data_);
    data_ = grown;
    capacity_ = capacity;
  }

  // Raw room, so that making a stack writes nothing into it.
  alignas(T) unsigned char room_[InlineItems * sizeof(T)];
  T* const inline_ = reinterpret_cast<T*>(room_);
  T* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = InlineItems;
};

}  // namespace tamsel::json
