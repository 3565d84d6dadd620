// The wide-word kernels: the string scan, the UTF-8 check and the reader
// compiled around them, once per processor level. One level is chosen per
// process, when the library is loaded, and a whole document is read with
// it (parse_row_array, reader.h): the scan is inlined into that level's reader, so the choice costs
// one switch per document, never a call per string.
//
// The level is the best the processor runs, unless fixed by the environment
// variable TAMSEL_KERNEL (portable, sse2, avx2 or avx512; read at load) or else by the
// CMake option of the same name. A level that is unknown, not compiled in or
// not run by this processor is never used: the best one is, and
// kernel_choice() says what was asked for and why it was not honoured.
//
// Adding a level takes one more value below, one more
// file under kernels/ that defines its KernelEntries, and one line in
// kernel.cpp that says when the processor runs it.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/reader.h"  // ParseOutcome, RowVisitor

namespace tamsel::json {

enum class Kernel : unsigned char {
  portable,  // plain C++: 8-byte words, a byte automaton for UTF-8
  sse2,      // 16-byte SSE2 scan; SSSE3 block check of UTF-8 where present
  avx2,      // 32-byte AVX2 scan and block check of UTF-8
  avx512,    // 64-byte AVX-512 scan and block check of UTF-8, masked tails
};
inline constexpr Kernel kKernels[] = {Kernel::portable, Kernel::sse2, Kernel::avx2, Kernel::avx512};

// "portable", "sse2", "avx2", "avx512".
const char* kernel_name(Kernel kernel);

// Compiled into this build and run by this processor.
bool kernel_available(Kernel kernel);

struct KernelChoice {
  Kernel kernel;
  // Empty when the level was chosen freely or exactly as asked; otherwise
  // why the one asked for is not in use (the best available is).
  std::string_view problem;
};

// Decided once per process, when the library is loaded.
const KernelChoice& kernel_choice();
inline Kernel active_kernel() { return kernel_choice().kernel; }

// What one level provides. Each is defined in that level's file under
// kernels/; calling the entries of a level that is not available is an
// error (tests ask kernel_available first).
template <Kernel K>
struct KernelEntries {
  // The first quote, backslash or control byte in [p, end), or end. `high`
  // is set when a byte of 0x80 or above lies before the returned position,
  // and may be set by one shortly after it.
  static const char* find_string_special(const char* p, const char* end, bool& high);
  static bool is_valid_utf8(const char* data, size_t size);
  static ParseOutcome read_rows(std::string_view input, RowVisitor* visitor, JsonDocument* document);
};

// Defines a level's entries from its namespace's functions of the same
// names (and its reader's read_rows); used once in each kernels/<name>.cpp.
#define TAMSEL_DEFINE_KERNEL_ENTRIES(level)                                                                      \
  template <>                                                                                                  \
  const char* KernelEntries<Kernel::level>::find_string_special(const char* p, const char* end, bool& high) {  \
    return level::find_string_special(p, end, high);                                                           \
  }                                                                                                            \
  template <>                                                                                                  \
  bool KernelEntries<Kernel::level>::is_valid_utf8(const char* data, size_t size) {                            \
    return level::is_valid_utf8(data, size);                                                                   \
  }                                                                                                            \
  template <>                                                                                                  \
  ParseOutcome KernelEntries<Kernel::level>::read_rows(std::string_view input, RowVisitor* visitor,              \
                                                     JsonDocument* document) {                                 \
    return level::read_rows(input, visitor, document);                                                         \
  }

// The same, for a level chosen at run time.
const char* find_string_special(Kernel kernel, const char* p, const char* end, bool& high);
bool is_valid_utf8(Kernel kernel, const char* data, size_t size);
// `document`, when given, is built into (see parse_row_array); else the
// outcome owns a document of its own.
ParseOutcome read_rows(Kernel kernel, std::string_view input, RowVisitor* visitor,
                       JsonDocument* document = nullptr);

}  // namespace tamsel::json
