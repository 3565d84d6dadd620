// The table of kernels, and choosing one of them, once per process.
#include "json/kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "json/scan.h"

// The CMake option TAMSEL_KERNEL, when set, names the kernel to use unless
// the environment names one.
#ifndef TAMSEL_DEFAULT_KERNEL
#define TAMSEL_DEFAULT_KERNEL ""
#endif

namespace tamsel::json {

namespace {

// Every kernel compiled into this build, at the place of its Kernel value.
constexpr const KernelEntry* kTable[] = {
    &portable::kEntry,
#if TAMSEL_HAVE_X86_KERNELS
    &sse2::kEntry,
    &avx2::kEntry,
    &avx512::kEntry,
#endif
};
static_assert(std::size(kTable) <= std::size(kKernels));

const KernelEntry* compiled(Kernel kernel) {
  const auto index = static_cast<size_t>(kernel);
  return index < std::size(kTable) ? kTable[index] : nullptr;
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

bool kernel_available(Kernel kernel) {
  static const bool runs[] = {
      compiled(Kernel::portable) != nullptr && compiled(Kernel::portable)->processor_runs(),
      compiled(Kernel::sse2) != nullptr && compiled(Kernel::sse2)->processor_runs(),
      compiled(Kernel::avx2) != nullptr && compiled(Kernel::avx2)->processor_runs(),
      compiled(Kernel::avx512) != nullptr && compiled(Kernel::avx512)->processor_runs(),
  };
  static_assert(std::size(runs) == std::size(kKernels));
  return runs[static_cast<unsigned>(kernel)];
}

const KernelEntry& kernel_entry(Kernel kernel) { return *compiled(kernel); }

namespace {

// Decided when the library is loaded, before any call can read a document:
// a call then pays one load for it, not a check that it has been decided.
const KernelChoice g_choice = choose();
const KernelEntry* const g_active = compiled(g_choice.kernel);

}  // namespace

const KernelChoice& kernel_choice() { return g_choice; }

const KernelEntry& active_kernel_entry() { return *g_active; }

// The writer's escaped strings, one call each; the reader has the scan of
// its own kernel inlined.
const char* find_string_special(const char* p, const char* end) {
  bool high = false;
  return g_active->find_string_special(p, end, high);
}

}  // namespace tamsel::json
