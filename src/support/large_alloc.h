// Memory for a call's buffers (the payload copy, arena chunks, the output).
//
// Fresh memory costs a page fault per 4 KiB page on first touch. Large
// buffers are therefore mapped directly, aligned to 2 MiB and marked for
// transparent huge pages, so that a buffer of many megabytes faults a handful
// of times instead of thousands, and they are kept across calls in a bounded
// pool shared by all threads (support/block_pool.h), so that later calls
// find their pages already there. Where the system has no such calls
// (support/os.h), large buffers come from the C allocator, through the same
// pool. Mid-size buffers come from malloc and are kept by the thread that
// frees them for its next call (support/thread_block_cache.h); small ones
// use malloc as usual.
#pragma once

#include <cstddef>

namespace tamsel {

// Sizes from this one up are mapped directly and pooled.
inline constexpr size_t kLargeBufferBytes = size_t{1} << 20;
// Sizes from this one up to kLargeBufferBytes are kept by the thread.
inline constexpr size_t kThreadKeptFromBytes = size_t{16} << 10;

// Before a buffer takes this much fresh memory or more, the process's limits
// are read and the buffer is refused (std::bad_alloc) if they do not leave
// room for it. Mapped memory costs nothing until it is touched; where the
// process runs under a memory cgroup, or the system has less free than it
// would map, the kernel grants the mapping and then ends the process when
// the pages are touched, which no caller can contain. Reading the limits
// costs tens of microseconds, against at least ten milliseconds to fill
// 64 MiB; a 10 MB call's buffers (up to about 15 MB each) never pay it. What
// goes unchecked is bounded: a call's buffers below the threshold (an arena
// grows by doubling, an output by half) come to a few hundred MiB at most.
inline constexpr size_t kCheckedFreshBytes = size_t{64} << 20;
// Whether the process can take `bytes` of fresh memory: true below
// kCheckedFreshBytes without looking; otherwise whether `bytes` is within
// os::memory_headroom() (and the test-only limit of support/alloc_failure.h).
bool fresh_memory_fits(size_t bytes) noexcept;

// Throws std::bad_alloc when no memory can be had, or when a large request
// needs fresh memory that would not fit (fresh_memory_fits): a block the
// pool keeps needs none.
void* allocate_large(size_t bytes);
// `bytes` must be the size the block was allocated or last reallocated with.
void free_large(void* block, size_t bytes) noexcept;
// Keeps the first min(old_bytes, new_bytes) bytes. Throws std::bad_alloc (the
// old block is then left as it was), also when the growth would not fit, as
// allocate_large does.
void* reallocate_large(void* block, size_t old_bytes, size_t new_bytes);

// About to write all of [block, block + bytes): for a large range, asks the
// kernel to supply its pages in one go rather than fault them in one by one.
// Advice only; memory from any allocator may be given.
void prepare_for_writing(void* block, size_t bytes) noexcept;

// Memory from another allocator that is about to be written in full (the
// result object of a large output): marks the 2 MiB pages wholly inside it
// for huge pages. Fresh memory from that allocator then faults once per 2 MiB
// rather than once per 4 KiB; reused memory is unaffected. Advice only.
void advise_huge_pages(void* block, size_t bytes) noexcept;

// Memory from another allocator that is about to be written in full (the
// result object of a mid-size output, from kCheckedResultBytes up to
// kLargeBufferBytes; larger outputs ask for their pages piecewise as they are
// written): asks for its pages in one go when most of them are not in memory.
// The interpreter's allocator gives a thread's freed pages back to the system
// once they have gone unused for a few milliseconds. A thread that waits its
// turn among many on few cores passes that delay between calls, and its next
// result then faulted in page by page; with eight threads on two cores, about
// sixty faults a call at 1 MB. Looking costs a system call of about a
// microsecond, so smaller results are left alone. Advice only.
inline constexpr size_t kCheckedResultBytes = size_t{256} << 10;
void populate_if_given_back(void* block, size_t bytes) noexcept;

// Once at the start of every call of the library, small ones included: gives
// the pooled buffers back to the system once they have gone unused for a
// while. Cheap while nothing is pooled.
void note_library_call() noexcept;

}  // namespace tamsel
