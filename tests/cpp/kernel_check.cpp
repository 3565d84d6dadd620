// Linked into every test program that runs once per kernel: when
// TAMSEL_KERNEL forces a kernel that is unknown or that this processor or
// build lacks, every test fails with the reason, instead of passing with
// another kernel in its place.
#include <gtest/gtest.h>

#include <cstdlib>

#include "json/kernel.h"

namespace {

class ForcedKernelCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    const tamsel::json::KernelChoice& choice = tamsel::json::kernel_choice();
    ASSERT_TRUE(choice.problem.empty()) << choice.problem;
  }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new ForcedKernelCheck);

TEST(KernelChoice, ForcedKernelIsTheActiveOne) {
  const char* forced = std::getenv("TAMSEL_KERNEL");
  if (forced == nullptr || *forced == '\0') GTEST_SKIP() << "no kernel forced";
  EXPECT_STREQ(tamsel::json::kernel_name(tamsel::json::active_kernel()), forced);
}

}  // namespace
