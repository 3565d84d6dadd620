// Every allocation point of the transform, failed in turn: the call either
// gives the result it gives without the failure, or lets std::bad_alloc out,
// and the next call is unaffected. Run under AddressSanitizer this also shows
// that no failure leaks what was allocated before it.
//
// TAMSEL_ALLOC_SWEEP=full fails every point of every payload; otherwise the
// large payloads fail an evenly spread sample of their points.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hostile_payloads.h"
#include "support/alloc_failure.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

using testing::NamedPayload;

// What a call gave: the output bytes, or the failure message.
struct Answer {
  bool ok = false;
  std::string text;
  bool operator==(const Answer&) const = default;
};

Answer whole(std::string_view payload) {
  TransformOutcome outcome = columnarize_json(payload);
  return outcome.ok() ? Answer{true, std::string(outcome.output().view())} : Answer{false, outcome.message()};
}

// As the module does it: the output written into memory of the expected
// size, and moved out of it should it not fit.
Answer into_memory(std::string_view payload) {
  Columnarizer columnarizer(payload);
  if (columnarizer.failure()) return Answer{false, *columnarizer.failure()};
  const size_t expected = columnarizer.expected_output_size();
  auto memory = std::make_unique_for_overwrite<char[]>(expected);
  json::ByteBuffer out(memory.get(), expected);
  columnarizer.write(out);
  return Answer{true, std::string(out.view())};
}

using Call = Answer (*)(std::string_view);

struct Sweep {
  uint64_t points = 0;  // allocation points of one call
  uint64_t failed = 0;  // calls that let std::bad_alloc out
};

bool full_sweep() {
  const char* mode = std::getenv("TAMSEL_ALLOC_SWEEP");
  return mode != nullptr && std::string(mode) == "full";
}

// 1 .. points + 1 (the last one fails nothing), or for a sampled sweep the
// first and last 8 points and about 16 spread between them.
std::vector<uint64_t> points_to_fail(uint64_t points, bool sampled) {
  std::vector<uint64_t> chosen;
  const uint64_t step = sampled && points > 32 ? points / 16 : 1;
  for (uint64_t n = 1; n <= points + 1; n += (n < 8 || n + 8 > points) ? 1 : step) chosen.push_back(n);
  return chosen;
}

// Fails the chosen points one call at a time, checking every call.
Sweep sweep(const NamedPayload& p, Call call) {
  const Answer reference = call(p.text);
  EXPECT_EQ(reference.ok, p.valid) << p.name << ": " << reference.text.substr(0, 200);
  Sweep s;
  alloc_failure::arm(UINT64_MAX);
  call(p.text);
  s.points = alloc_failure::disarm();
  const std::vector<uint64_t> chosen = points_to_fail(s.points, p.large && !full_sweep());
  std::printf("%s: %llu points, %zu failed in turn\n", p.name.c_str(), static_cast<unsigned long long>(s.points),
              chosen.size());
  for (uint64_t n : chosen) {
    std::optional<Answer> answer;
    alloc_failure::arm(n);
    try {
      answer = call(p.text);
    } catch (const std::bad_alloc&) {
      ++s.failed;
    }
    const uint64_t passed = alloc_failure::disarm();
    if (passed < n) {
      EXPECT_TRUE(answer.has_value()) << p.name << ": failed with no point failed, n=" << n;
    }
    if (answer) {
      EXPECT_EQ(*answer, reference) << p.name << ": wrong answer with point " << n << " failed";
    }
    EXPECT_EQ(call(p.text), reference) << p.name << ": call after point " << n << " failed";
  }
  return s;
}

class AllocationFailure : public ::testing::TestWithParam<NamedPayload> {};

TEST_P(AllocationFailure, WholeCallIsContainedAtEveryPoint) {
  Sweep s = sweep(GetParam(), whole);
  EXPECT_GT(s.failed, 0u) << "no allocation point failed the call";
}

TEST_P(AllocationFailure, WritingIntoGivenMemoryIsContainedAtEveryPoint) { sweep(GetParam(), into_memory); }

INSTANTIATE_TEST_SUITE_P(Payloads, AllocationFailure, ::testing::ValuesIn(testing::hostile_payloads()),
                         [](const auto& info) { return info.param.name; });

TEST(AllocationFailure, OutgrowingPayloadOutgrowsItsEstimate) {
  const std::string payload = testing::outgrowing_rows(6000);
  Columnarizer columnarizer(payload);
  json::ByteBuffer out;
  columnarizer.write(out);
  EXPECT_GT(out.size(), columnarizer.expected_output_size());
}

TEST(AllocationFailure, CountsOnlyTheArmedThread) {
  std::latch armed(1);
  std::thread other([&] {
    armed.wait();
    EXPECT_TRUE(columnarize_json("[{\"a\":1}]").ok());
  });
  alloc_failure::arm(1);
  armed.count_down();
  other.join();
  EXPECT_EQ(alloc_failure::disarm(), 0u);
}

}  // namespace
}  // namespace tamsel
