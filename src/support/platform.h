// What the library uses of the processor, the compiler and the operating
// system beyond standard C++, decided here once. Every such choice is a macro
// that is always defined, as 1 or 0, so that `#if TAMSEL_HAVE_...` never
// silently reads an unset name.
//
// Defining TAMSEL_PORTABLE (the CMake option of the same name) turns every
// one of them off: the plain C++ paths are then compiled and tested on any
// host, just as on a processor or system that lacks the feature.
#pragma once

// Any standard header brings in the C library's identification (__GLIBC__).
#include <cstddef>

// ---------------------------------------------------------------------------
// Processor: wide-word routines
// ---------------------------------------------------------------------------

// The x86-64 kernels (json/kernels/sse2.*, avx2.*, avx512.*): the string
// scan and the UTF-8 check in 16-, 32- and 64-byte words, each with the
// reader compiled around it, chosen at run time by what the processor has
// (see json/kernel.h). Without them only the portable kernel, plain C++,
// exists.
#if !defined(TAMSEL_PORTABLE) && defined(__x86_64__) && defined(__GNUC__)
#define TAMSEL_HAVE_X86_KERNELS 1
#else
#define TAMSEL_HAVE_X86_KERNELS 0
#endif

// ---------------------------------------------------------------------------
// Compiler: target regions
// ---------------------------------------------------------------------------

// Every function defined between TAMSEL_TARGET_REGION_BEGIN(T) and
// TAMSEL_TARGET_REGION_END is compiled for the target T (a string such as
// "avx2,bmi"), as if each carried [[gnu::target(T)]]. A kernel names its
// target once, as a macro, and uses it both for its region and for the
// attribute of the inline functions in its header. _Pragma takes the text
// that a macro made, where #pragma would not.
#define TAMSEL_PRAGMA(...) _Pragma(#__VA_ARGS__)
#if defined(__clang__)
#define TAMSEL_TARGET_REGION_BEGIN(T) \
  TAMSEL_PRAGMA(clang attribute push(__attribute__((target(T))), apply_to = function))
#define TAMSEL_TARGET_REGION_END TAMSEL_PRAGMA(clang attribute pop)
#else
#define TAMSEL_TARGET_REGION_BEGIN(T) TAMSEL_PRAGMA(GCC push_options) TAMSEL_PRAGMA(GCC target(T))
#define TAMSEL_TARGET_REGION_END TAMSEL_PRAGMA(GCC pop_options)
#endif

// ---------------------------------------------------------------------------
// Compiler: 128-bit integers
// ---------------------------------------------------------------------------

// The 64 x 64 -> 128-bit products of the shortest-digits routine; without
// them the product is put together from 32-bit halves.
#if !defined(TAMSEL_PORTABLE) && defined(__SIZEOF_INT128__)
#define TAMSEL_HAVE_INT128 1
#else
#define TAMSEL_HAVE_INT128 0
#endif

// ---------------------------------------------------------------------------
// Operating system: memory (see support/os.h)
// ---------------------------------------------------------------------------

// mmap, mremap and madvise (huge pages, populating pages ahead of writing).
// Without them large buffers come from the C allocator and no advice is given.
#if !defined(TAMSEL_PORTABLE) && defined(__linux__)
#define TAMSEL_HAVE_LINUX_MEMORY 1
#else
#define TAMSEL_HAVE_LINUX_MEMORY 0
#endif

// ---------------------------------------------------------------------------
// Operating system: memory limits (see support/os.h)
// ---------------------------------------------------------------------------

// getrlimit and the /proc and cgroup files that say how much memory the
// process may still take. Without them no limit is known, and large buffers
// are asked for as they come.
#if !defined(TAMSEL_PORTABLE) && defined(__linux__)
#define TAMSEL_HAVE_MEMORY_LIMITS 1
#else
#define TAMSEL_HAVE_MEMORY_LIMITS 0
#endif

// ---------------------------------------------------------------------------
// Operating system: fork handlers
// ---------------------------------------------------------------------------

// pthread_atfork, so that a process forked while another thread held the
// large-buffer pool's lock (support/block_pool.h) does not find it held for
// ever. Without it a child forked at that moment could block on its first
// large buffer.
#if !defined(TAMSEL_PORTABLE) && (defined(__linux__) || defined(__APPLE__))
#define TAMSEL_HAVE_FORK_HANDLERS 1
#else
#define TAMSEL_HAVE_FORK_HANDLERS 0
#endif

// ---------------------------------------------------------------------------
// Operating system: thread names (see support/os.h)
// ---------------------------------------------------------------------------

// pthread_getname_np, for naming the thread in a fault report. Without it the
// report says the thread is unnamed.
#if !defined(TAMSEL_PORTABLE) && defined(__linux__) && defined(__GLIBC__)
#define TAMSEL_HAVE_THREAD_NAMES 1
#else
#define TAMSEL_HAVE_THREAD_NAMES 0
#endif
