// The transform on eight threads at once, on inputs they share and on inputs
// of their own, valid and invalid: every answer is the one a lone call gives.
// Built with ThreadSanitizer (TAMSEL_TSAN) this is the race detector's test.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "hostile_payloads.h"
#include "json/byte_buffer.h"
#include "support/alloc_failure.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

constexpr int kThreads = 8;

std::string answer_of(std::string_view payload) {
  TransformOutcome outcome = columnarize_json(payload);
  return outcome.ok() ? "ok:" + std::string(outcome.output().view()) : "failed:" + outcome.message();
}

// Two rows per thread with values of its own; every fourth one is cut short.
std::string own_payload(int thread, int round) {
  std::string text = R"([{"t":)" + std::to_string(thread) + R"(,"r":)" + std::to_string(round) +
                     R"(,"s":"x"},{"t":)" + std::to_string(thread) + R"(,"u":[)" + std::to_string(round) + "]}]";
  if ((thread + round) % 4 == 0) text.resize(text.size() - 3);
  return text;
}

// Runs `body(thread)` on kThreads threads released together.
template <class Body>
void on_threads(Body body) {
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      body(t);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(Concurrency, SharedInputsGiveTheLoneCallsAnswers) {
  // The large payloads only take long, under the race detector very long.
  std::vector<testing::NamedPayload> payloads;
  for (auto& p : testing::hostile_payloads()) {
    if (!p.large) payloads.push_back(std::move(p));
  }
  std::vector<std::string> expected;
  for (const auto& p : payloads) expected.push_back(answer_of(p.text));
  std::atomic<int> wrong{0};
  on_threads([&](int t) {
    // Each thread starts at a different payload, so different work overlaps.
    for (size_t i = 0; i < 4 * payloads.size(); ++i) {
      const size_t k = (i + static_cast<size_t>(t) * 3) % payloads.size();
      if (answer_of(payloads[k].text) != expected[k]) ++wrong;
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}

TEST(Concurrency, OwnInputsGiveTheLoneCallsAnswers) {
  constexpr int kRounds = 40;
  std::vector<std::vector<std::string>> expected(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (int r = 0; r < kRounds; ++r) expected[t].push_back(answer_of(own_payload(t, r)));
  }
  std::atomic<int> wrong{0};
  on_threads([&](int t) {
    for (int r = 0; r < kRounds; ++r) {
      if (answer_of(own_payload(t, r)) != expected[t][r]) ++wrong;
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}

TEST(Concurrency, WritingIntoGivenMemoryOnEveryThread) {
  const std::string payload = testing::large_rows(500);
  const std::string expected = answer_of(payload);
  std::atomic<int> wrong{0};
  on_threads([&](int t) {
    Columnarizer columnarizer(payload);
    // Half the threads give too little memory, so the output moves out of it.
    const size_t bytes = columnarizer.expected_output_size() / (t % 2 ? 2 : 1);
    std::vector<char> memory(bytes);
    json::ByteBuffer out(memory.data(), bytes);
    columnarizer.write(out);
    if ("ok:" + std::string(out.view()) != expected) ++wrong;
  });
  EXPECT_EQ(wrong.load(), 0);
}

#ifdef TAMSEL_ALLOC_FAILURE
// Each thread fails allocations of its own calls only.
TEST(Concurrency, AllocationFailuresStayOnTheirThread) {
  const std::string payload = testing::large_rows(200);
  const std::string expected = answer_of(payload);
  std::atomic<int> wrong{0};
  on_threads([&](int t) {
    for (uint64_t n = 1 + static_cast<uint64_t>(t); n < 60; n += kThreads) {
      alloc_failure::arm(n);
      try {
        if (answer_of(payload) != expected) ++wrong;
      } catch (const std::bad_alloc&) {
      }
      alloc_failure::disarm();
      if (answer_of(payload) != expected) ++wrong;
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}
#endif

}  // namespace
}  // namespace tamsel
