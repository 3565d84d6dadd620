// Linked into every test program: when TAMSEL_KERNEL forces a kernel that
// is unknown or that this processor or build lacks, every test fails with
// the reason, instead of passing with another kernel in its place.
#include <gtest/gtest.h>

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

}  // namespace
