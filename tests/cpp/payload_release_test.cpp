// Giving back the payload behind the rows written must not change a byte of
// the output: whatever is read from the given-back memory shows up as junk
// (or, under AddressSanitizer, as a poisoned read).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/large_alloc.h"
#include "support/os.h"
#include "transform/columnarize.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define TAMSEL_TEST_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TAMSEL_TEST_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TAMSEL_TEST_POISON(p, n) ((void)(p), (void)(n))
#define TAMSEL_TEST_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace tamsel {
namespace {

size_t given_back_bytes = 0;

// Overwrites what is given back with bytes no output could hold unchanged.
void give_back_as_junk(const char* from, size_t bytes) noexcept {
  std::memset(const_cast<char*>(from), '#', bytes);
  TAMSEL_TEST_POISON(from, bytes);
  given_back_bytes += bytes;
}

void give_back_to_system(const char* from, size_t bytes) noexcept {
  os::discard_pages(const_cast<char*>(from), bytes);
  given_back_bytes += bytes;
}

std::string rows_of(size_t n, const std::function<std::string(size_t)>& row) {
  std::string text = "[";
  for (size_t i = 0; i < n; ++i) text += (i == 0 ? "" : ",\n") + row(i);
  return text + "]";
}

std::string num(size_t i) { return std::to_string(i); }

struct Document {
  const char* name;
  std::string payload;
};

void PrintTo(const Document& d, std::ostream* os) { *os << d.name; }

std::vector<Document> documents() {
  return {
      // Constants from row 0: a string in the writer's escaped form, a nested
      // object, a number; the varying columns around them.
      {"constants_from_row_0", rows_of(1500,
                                       [](size_t i) {
                                         return R"({"cs":"same \"text\" \n","co":{"inner":"x","deep":[1,"y"]},)"
                                                R"("i":)" + num(i) + R"(,"s":"str)" + num(i) +
                                                R"(","cn":-2.5})";
                                       })},
      // Columns and nested names first met late, then reused by later rows.
      {"names_first_seen_late", rows_of(2000,
                                        [](size_t i) {
                                          std::string row = R"({"i":)" + num(i) + R"(,"s":"r)" + num(i) + "\"";
                                          if (i >= 600) row += R"(,"late_)" + num(i / 300) + R"(":"v)" + num(i) + "\"";
                                          if (i >= 900) {
                                            row += R"(,"nested":{"inner_)" + num(i / 250) + R"(":"w)" + num(i) +
                                                   R"(","a_rather_long_inner_name_)" + num(i / 400) + R"(":[)" +
                                                   num(i) + "]}";
                                          }
                                          return row + "}";
                                        })},
      // Strings kept in their escaped text, strings decoded into the arena,
      // and names with escapes.
      {"escaped_strings", rows_of(1500,
                                  [](size_t i) {
                                    return R"({"e":"tab\there )" + num(i) + R"(","u":"\u0041\u00e9)" + num(i) +
                                           R"(","q":"say \"hi\" )" + num(i) + R"(","n\u0061me":)" + num(i) +
                                           R"(,"k\"q":"x"})";
                                  })},
      // Long stretches of rows without a string of their own, and sparse rows.
      {"rows_without_strings", rows_of(3000,
                                       [](size_t i) {
                                         if ((i / 200) % 2 == 0) {
                                           return R"({"x":)" + num(i) + R"(,"y":1.5,"z":[true,null]})";
                                         }
                                         return R"({"x":)" + num(i) + R"(,"t":"s)" + num(i) + R"(","a_long_name_of_column_)" +
                                                num(i % 7) + R"(":")" + num(i) + "\"}";
                                       })},
  };
}

struct Policy {
  const char* name;
  size_t step;
  size_t alignment;
  bool mapped;  // the payload in a mapping of its own, given back to the system
};

void PrintTo(const Policy& p, std::ostream* os) { *os << p.name; }

class GivingBackPayload : public ::testing::TestWithParam<std::tuple<Document, Policy>> {};

TEST_P(GivingBackPayload, GivesTheSameBytes) {
  const auto& [document, policy] = GetParam();
  TransformOutcome expected = columnarize_json(document.payload);
  ASSERT_TRUE(expected.ok()) << expected.message();

  const size_t size = document.payload.size();
  std::vector<char> heap;
  char* copy;
  if (policy.mapped) {
    copy = static_cast<char*>(allocate_large(kLargeBufferBytes + size));
    copy += kLargeBufferBytes - 7;  // starts inside a page
  } else {
    heap.resize(size);
    copy = heap.data();
  }
  std::memcpy(copy, document.payload.data(), size);
  given_back_bytes = 0;
  std::string written;
  {
    Columnarizer columnarizer({copy, size});
    ASSERT_FALSE(columnarizer.failure());
    const PayloadRelease release{copy, policy.step, policy.alignment,
                                         policy.mapped ? &give_back_to_system : &give_back_as_junk};
    json::ByteBuffer out;
    columnarizer.write(out, &release);
    written = std::string(out.view());
  }
  if (policy.mapped) {
    free_large(copy - (kLargeBufferBytes - 7), kLargeBufferBytes + size);
  } else {
    TAMSEL_TEST_UNPOISON(copy, size);
  }
  EXPECT_EQ(written, std::string(expected.output().view()));
  // Most of the payload went, so the rows above were really read from
  // memory given back behind them.
  EXPECT_GT(given_back_bytes, size / 2);
}

INSTANTIATE_TEST_SUITE_P(Documents, GivingBackPayload,
                         ::testing::Combine(::testing::ValuesIn(documents()),
                                            ::testing::Values(Policy{"every_row", 1, 1, false},
                                                              Policy{"in_pieces", 512, 64, false},
                                                              Policy{"pages_to_system", 4096, 4096, true})),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// Nothing is given back for a payload other than the one read, or without a
// policy.
TEST(GivingBackPayloadTest, OnlyTheReadPayloadIsGivenBack) {
  const std::string payload = documents()[0].payload;
  std::string other = payload;
  given_back_bytes = 0;
  Columnarizer columnarizer(payload);
  const PayloadRelease release{other.data(), 1, 1, &give_back_as_junk};
  json::ByteBuffer out;
  columnarizer.write(out, &release);
  EXPECT_EQ(given_back_bytes, 0u);
  EXPECT_EQ(other, payload);
  EXPECT_EQ(std::string(out.view()), std::string(columnarize_json(payload).output().view()));
}

}  // namespace
}  // namespace tamsel
