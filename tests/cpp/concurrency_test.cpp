// The transform on eight threads at once, on inputs they share and on inputs
// of their own, valid and invalid: every answer is the one a lone call gives.
// Large buffers pass between the threads through the shared pool while it is
// trimmed. Built with ThreadSanitizer (TAMSEL_TSAN) this is the race
// detector's test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "hostile_payloads.h"
#include "json/byte_buffer.h"
#include "support/alloc_failure.h"
#include "support/block_pool.h"
#include "support/large_alloc.h"
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

// Fills every 4 KiB page's first byte of a large block, or counts those that
// do not hold the fill.
void fill_pages(unsigned char* block, size_t bytes, unsigned char fill) {
  for (size_t i = 0; i < bytes; i += 4096) block[i] = fill;
}
int pages_not_holding(const unsigned char* block, size_t bytes, unsigned char fill) {
  int differing = 0;
  for (size_t i = 0; i < bytes; i += 4096) differing += block[i] != fill;
  return differing;
}

TEST(Concurrency, LargeBuffersPassThroughThePoolWhileItIsTrimmed) {
  // 1.1 to 2.1 MB each: every call takes and gives back pooled blocks of
  // several sizes (payload, arena chunks, a growing output).
  constexpr int kPayloads = 4;
  std::vector<std::string> payloads;
  std::vector<std::string> expected;
  for (int i = 0; i < kPayloads; ++i) {
    payloads.push_back(testing::large_rows(14000 + 4000 * i));
    expected.push_back(answer_of(payloads.back()));
  }
  std::atomic<bool> done{false};
  std::thread trimmer([&] {
    for (int n = 1; !done.load(); ++n) {
      shared_block_pool().note_call();
      if (n % 16 == 0) shared_block_pool().release_all();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::atomic<int> wrong{0};
  on_threads([&](int t) {
    for (int round = 0; round < 2; ++round) {
      const int k = (t + round) % kPayloads;
      if (answer_of(payloads[k]) != expected[k]) ++wrong;
      // Straight through the allocation calls: grown past and shrunk within
      // the block, its pages keeping what this thread wrote.
      const size_t bytes = kLargeBufferBytes * static_cast<size_t>(1 + k % 4);
      const auto fill = static_cast<unsigned char>(1 + t);
      auto* block = static_cast<unsigned char*>(allocate_large(bytes));
      fill_pages(block, bytes, fill);
      block = static_cast<unsigned char*>(reallocate_large(block, bytes, 3 * bytes));
      wrong += pages_not_holding(block, bytes, fill);
      fill_pages(block, 3 * bytes, fill);
      block = static_cast<unsigned char*>(reallocate_large(block, 3 * bytes, bytes));
      wrong += pages_not_holding(block, bytes, fill);
      free_large(block, bytes);
    }
  });
  done.store(true);
  trimmer.join();
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
