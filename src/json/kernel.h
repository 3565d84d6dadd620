// The wide-word kernels: the string scan, the UTF-8 check and the reader
// compiled around them, once per processor level. One kernel is chosen per
// process, when the library is loaded, and a whole document is read with
// it (parse_row_array, reader.cpp): the scan is inlined into that kernel's
// reader, so the choice costs one indirect call per document, never one per
// string.
//
// The kernel is the best the processor runs, unless fixed by the environment
// variable TAMSEL_KERNEL (portable, sse2, avx2 or avx512; read at load) or
// else by the CMake option of the same name. A kernel that is unknown, not
// compiled in or not run by this processor is never used: the best one is,
// and kernel_choice() says what was asked for and why it was not honoured.
//
// Each kernel is one KernelEntry, defined in its own kernels/<name>.cpp and
// declared below; kernel.cpp holds the table of them. Adding a kernel takes
// a value and a name below, its entry's declaration, its two files under
// kernels/ (built from src/CMakeLists's list), and its line in the table.
// The tests and the fuzzers ask kernel_available() which kernels to run.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/reader.h"  // ParseOutcome, RowVisitor
#include "support/platform.h"

namespace tamsel::json {

enum class Kernel : unsigned char {
  portable,  // plain C++: 8-byte words, a byte automaton for UTF-8
  sse2,      // 16-byte SSE2 scan; SSSE3 block check of UTF-8 where present
  avx2,      // 32-byte AVX2 scan and block check of UTF-8
  avx512,    // 64-byte AVX-512 scan and block check of UTF-8, masked tails
};
inline constexpr Kernel kKernels[] = {Kernel::portable, Kernel::sse2, Kernel::avx2, Kernel::avx512};
inline constexpr const char* kKernelNames[] = {"portable", "sse2", "avx2", "avx512"};

// One kernel: whether the processor runs it, and what the library calls.
struct KernelEntry {
  Kernel kernel;
  // Asked once, while the library is loaded.
  bool (*processor_runs)();
  // The first quote, backslash or control byte in [p, end), or end. `high`
  // is set when a byte of 0x80 or above lies before the returned position,
  // and may be set by one shortly after it.
  const char* (*find_string_special)(const char* p, const char* end, bool& high);
  bool (*is_valid_utf8)(const char* data, size_t size);
  // The reader compiled around this kernel's scan (reader_generic.h);
  // `document`, when given, is built into, else the outcome owns one.
  ParseOutcome (*read_rows)(std::string_view input, RowVisitor* visitor, JsonDocument* document);
};

namespace portable {
extern const KernelEntry kEntry;
}
#if TAMSEL_HAVE_X86_KERNELS
namespace sse2 {
extern const KernelEntry kEntry;
}
namespace avx2 {
extern const KernelEntry kEntry;
}
namespace avx512 {
extern const KernelEntry kEntry;
}
#endif

// "portable", "sse2", "avx2", "avx512".
inline const char* kernel_name(Kernel kernel) { return kKernelNames[static_cast<unsigned>(kernel)]; }

// Compiled into this build and run by this processor.
bool kernel_available(Kernel kernel);

// A kernel's entry; only for a kernel that is available.
const KernelEntry& kernel_entry(Kernel kernel);

struct KernelChoice {
  Kernel kernel;
  // Empty when the kernel was chosen freely or exactly as asked; otherwise
  // why the one asked for is not in use (the best available is).
  std::string_view problem;
};

// Decided once per process, when the library is loaded.
const KernelChoice& kernel_choice();
inline Kernel active_kernel() { return kernel_choice().kernel; }

// The active kernel's entry: what a document is read with.
const KernelEntry& active_kernel_entry();

}  // namespace tamsel::json
