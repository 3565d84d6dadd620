// Choosing the kernel, once per process, and the calls that go by it:
// reading a document, checking UTF-8, scanning a string to escape it.
#include "json/kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json/scan.h"
#include "json/utf8.h"
#include "support/platform.h"

// The CMake option TAMSEL_KERNEL, when set, names the level to use unless
// the environment names one.
#ifndef TAMSEL_DEFAULT_KERNEL
#define TAMSEL_DEFAULT_KERNEL ""
#endif

namespace tamsel::json {

namespace {

bool processor_runs(Kernel kernel) {
  switch (kernel) {
    case Kernel::portable:
      return true;
#if TAMSEL_HAVE_X86_KERNELS
    case Kernel::sse2:
      return true;  // part of x86-64
    case Kernel::avx2:
      // Asked while the library is being loaded, perhaps before the
      // compiler's runtime has set up its answers itself. True only when the
      // system also saves the 32-byte registers.
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
    case Kernel::avx512:
      // The same, for the 64-byte registers and the mask registers; the
      // kernel also calls the AVX2 kernel's functions. AVX512-VBMI2, which
      // the kernel does not use, marks the processors (Ice Lake and Zen 4
      // on) whose clock drops little or not at all while they run 512-bit
      // integer code; on earlier ones the whole core would slow down for a
      // while after each long string.
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("bmi");
#else
    default:
      return false;
#endif
  }
  return false;
}

Kernel best_available() {
  Kernel best = Kernel::portable;
  for (Kernel k : kKernels) {
    if (kernel_available(k)) best = k;
  }
  return best;
}

// Why a kernel asked for is not used. Written once, while the library is
// loaded, without allocating: nothing may throw then.
char g_problem[256];

KernelChoice choose() {
  const char* asked = std::getenv("TAMSEL_KERNEL");
  const char* source = "the environment variable TAMSEL_KERNEL";
  if (asked == nullptr || *asked == '\0') {
    asked = TAMSEL_DEFAULT_KERNEL;
    source = "the build option TAMSEL_KERNEL";
  }
  Kernel best = best_available();
  if (*asked == '\0') return KernelChoice{best, {}};
  const char* why = "is no kernel (portable, sse2, avx2, avx512)";
  for (Kernel k : kKernels) {
    if (std::strcmp(asked, kernel_name(k)) != 0) continue;
    if (kernel_available(k)) return KernelChoice{k, {}};
    why = "is not compiled into this build or not run by this processor";
  }
  int n = std::snprintf(g_problem, sizeof g_problem, "%s asks for \"%.40s\", which %s; %s is used instead", source,
                        asked, why, kernel_name(best));
  return KernelChoice{best, std::string_view(g_problem, n > 0 ? std::min<size_t>(n, sizeof g_problem - 1) : 0)};
}

}  // namespace

const char* kernel_name(Kernel kernel) {
  switch (kernel) {
    case Kernel::portable:
      return "portable";
    case Kernel::sse2:
      return "sse2";
    case Kernel::avx2:
      return "avx2";
    case Kernel::avx512:
      return "avx512";
  }
  return "unknown";
}

bool kernel_available(Kernel kernel) {
  static const bool runs[] = {processor_runs(Kernel::portable), processor_runs(Kernel::sse2),
                              processor_runs(Kernel::avx2), processor_runs(Kernel::avx512)};
  return runs[static_cast<unsigned>(kernel)];
}

namespace {

// Decided when the library is loaded, before any call can read a document:
// a call then pays one load for it, not a check that it has been decided.
const KernelChoice g_choice = choose();

}  // namespace

const KernelChoice& kernel_choice() { return g_choice; }

// Each switch names the levels compiled in; kernel_available() keeps the
// others from being chosen.
#if TAMSEL_HAVE_X86_KERNELS
#define TAMSEL_KERNEL_SWITCH(call)                  \
  switch (kernel) {                                 \
    case Kernel::avx512:                            \
      return KernelEntries<Kernel::avx512>::call;   \
    case Kernel::avx2:                              \
      return KernelEntries<Kernel::avx2>::call;     \
    case Kernel::sse2:                              \
      return KernelEntries<Kernel::sse2>::call;     \
    case Kernel::portable:                          \
      break;                                        \
  }                                                 \
  return KernelEntries<Kernel::portable>::call
#else
#define TAMSEL_KERNEL_SWITCH(call) \
  (void)kernel;                    \
  return KernelEntries<Kernel::portable>::call
#endif

const char* find_string_special(Kernel kernel, const char* p, const char* end, bool& high) {
  TAMSEL_KERNEL_SWITCH(find_string_special(p, end, high));
}

bool is_valid_utf8(Kernel kernel, const char* data, size_t size) {
  TAMSEL_KERNEL_SWITCH(is_valid_utf8(data, size));
}

ParseOutcome read_rows(Kernel kernel, std::string_view input, RowVisitor* visitor, JsonDocument* document) {
  TAMSEL_KERNEL_SWITCH(read_rows(input, visitor, document));
}

bool is_valid_utf8(const char* data, size_t size) { return is_valid_utf8(g_choice.kernel, data, size); }

// Whole documents are read by one kernel's reader.
ParseOutcome parse_row_array(std::string_view input) { return read_rows(g_choice.kernel, input, nullptr); }

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor) {
  return read_rows(g_choice.kernel, input, &visitor);
}

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor, JsonDocument& document) {
  return read_rows(g_choice.kernel, input, &visitor, &document);
}

const char* find_string_special(const char* p, const char* end) {
  bool high = false;
  return find_string_special(g_choice.kernel, p, end, high);
}

}  // namespace tamsel::json
