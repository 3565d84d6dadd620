// The main of every test program that runs once per kernel (json/kernel.h).
//
// Run as it is, the program runs its tests once for each kernel that this
// build has and this processor runs, as the library tells (kernel_available),
// each in a process of its own with TAMSEL_KERNEL naming it, since the kernel
// is chosen when the library is loaded; it fails if any of them fails. Where
// only the kernel the library chose by itself is available, the tests run in
// this process.
//
// TAMSEL_TEST_KERNELS, a list of kernel names, narrows that to those of them
// that are available (a name that is no kernel fails the run): CI runs the
// slow sanitizer builds with the wide kernels only, the others being
// covered there by other steps.
//
// With TAMSEL_KERNEL set, as in each of those processes, the tests run with
// that kernel, and one that is unknown or unavailable fails every test with
// the reason, instead of passing with another kernel in its place.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "json/kernel.h"

namespace {

using tamsel::json::Kernel;

class ForcedKernelCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    const tamsel::json::KernelChoice& choice = tamsel::json::kernel_choice();
    ASSERT_TRUE(choice.problem.empty()) << choice.problem;
  }
};

TEST(KernelChoice, ForcedKernelIsTheActiveOne) {
  const char* forced = std::getenv("TAMSEL_KERNEL");
  if (forced == nullptr || *forced == '\0') GTEST_SKIP() << "no kernel forced";
  EXPECT_STREQ(tamsel::json::kernel_name(tamsel::json::active_kernel()), forced);
}

// Runs this program again with `kernel` forced and the same arguments;
// whether all its tests passed.
bool run_with(Kernel kernel, char** arguments) {
  std::printf("== tests with the %s kernel\n", tamsel::json::kernel_name(kernel));
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    setenv("TAMSEL_KERNEL", tamsel::json::kernel_name(kernel), 1);
    execv("/proc/self/exe", arguments);
    std::perror("execv /proc/self/exe");
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether `kernel` is among those TAMSEL_TEST_KERNELS names (all when it
// is unset); fails the run on a name that is no kernel.
bool wanted(Kernel kernel) {
  const char* list = std::getenv("TAMSEL_TEST_KERNELS");
  if (list == nullptr || *list == '\0') return true;
  std::istringstream names(list);
  bool found = false;
  for (std::string name; names >> name;) {
    bool known = false;
    for (Kernel k : tamsel::json::kKernels) known = known || name == tamsel::json::kernel_name(k);
    if (!known) {
      std::fprintf(stderr, "TAMSEL_TEST_KERNELS names \"%s\", which is no kernel\n", name.c_str());
      std::exit(1);
    }
    found = found || name == tamsel::json::kernel_name(kernel);
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments(argv, argv + argc);
  arguments.push_back(nullptr);
  ::testing::InitGoogleTest(&argc, argv);

  std::vector<Kernel> kernels;
  for (Kernel kernel : tamsel::json::kKernels) {
    if (tamsel::json::kernel_available(kernel) && wanted(kernel)) kernels.push_back(kernel);
  }
  const char* forced = std::getenv("TAMSEL_KERNEL");
  const bool one_run = (forced != nullptr && *forced != '\0') || GTEST_FLAG_GET(list_tests) ||
                       (kernels.size() == 1 && kernels[0] == tamsel::json::active_kernel());
  if (one_run) {
    ::testing::AddGlobalTestEnvironment(new ForcedKernelCheck);
    return RUN_ALL_TESTS();
  }
  if (kernels.empty()) {
    std::fprintf(stderr, "none of the kernels TAMSEL_TEST_KERNELS names is available here\n");
    return 1;
  }
  bool passed = true;
  for (Kernel kernel : kernels) passed = run_with(kernel, arguments.data()) && passed;
  return passed ? 0 : 1;
}
