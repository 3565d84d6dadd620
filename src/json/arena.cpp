#include "json/arena.h"

#include <algorithm>
#include <cstdlib>

#include "support/large_alloc.h"

namespace tamsel::json {

Arena::~Arena() {
  while (head_ != nullptr) {
    Chunk* previous = head_->previous;
    free_large(head_, head_->bytes);
    head_ = previous;
  }
}

void* Arena::allocate_slow(size_t bytes, size_t align) {
  constexpr size_t header = 16;  // keeps the usable area 16-byte aligned
  constexpr size_t max_growth = size_t{256} << 20;
  if (bytes > std::numeric_limits<size_t>::max() - header - align - 16) throw std::bad_alloc();
  // A multiple of 16, so that the room ends on one (see allocate).
  size_t chunk = (std::max(next_chunk_, bytes + align) + 15) & ~size_t{15};
  void* memory = allocate_large(header + chunk);
  Chunk* c = static_cast<Chunk*>(memory);
  c->previous = head_;
  c->bytes = header + chunk;
  head_ = c;
  cur_ = static_cast<char*>(memory) + header;
  end_ = cur_ + chunk;
  // Geometric growth keeps the number of chunks logarithmic in the total.
  next_chunk_ = std::min(std::max(next_chunk_, chunk) * 2, std::max(max_growth, next_chunk_));
  return allocate(bytes, align);
}

}  // namespace tamsel::json
