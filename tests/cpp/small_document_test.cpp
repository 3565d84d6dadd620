// Small documents are read into room held inline (the columnarizer's first
// arena block, the reader's stacks) and move on to the heap past it. These
// cases sit on either side of each edge: the output must not depend on where
// the tree and the stacks happened to live.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "json/arena.h"
#include "json/reader.h"
#include "json/value_stack.h"
#include "json/writer.h"
#include "reference_model.h"
#include "test_support.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

struct Shape {
  const char* what;
  int rows;
  int members;      // per row
  int text_bytes;   // of each string value
  int nesting;      // arrays around each row's last value
};

// Rows of `members` members, the names varying a little between rows so that
// some columns are sparse, one column constant, and one string per row.
std::vector<reference::Value> make_rows(const Shape& s) {
  std::vector<reference::Value> rows;
  for (int r = 0; r < s.rows; ++r) {
    reference::Value row = reference::Value::object();
    row.insert("same", *reference::read_number("7"));
    for (int m = 1; m < s.members; ++m) {
      row.insert("k" + std::to_string((m + (r % 3 == 0 ? 1 : 0)) % (s.members + 1)),
                 *reference::read_number(std::to_string(r * 31 + m)));
    }
    reference::Value last = reference::Value::string(std::string(static_cast<size_t>(s.text_bytes), 'a' + r % 26));
    for (int d = 0; d < s.nesting; ++d) {
      reference::Value around = reference::Value::array();
      around.items.push_back(std::move(last));
      last = std::move(around);
    }
    row.insert("z", std::move(last));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string text_of(const std::vector<reference::Value>& rows) {
  std::string payload = "[";
  for (size_t r = 0; r < rows.size(); ++r) payload.append(r ? "," : "").append(reference::text(rows[r]));
  return payload + "]";
}

// Around the reader's stacks (64 values, 32 names), the columnarizer's first
// arena block (8 KiB: 10 rows of these fit, 11 do not) and chunks past it.
const Shape kShapes[] = {
    {"empty", 0, 0, 0, 0},
    {"one row", 1, 1, 0, 0},
    {"62 rows", 62, 1, 1, 0},
    {"63 rows", 63, 1, 1, 0},
    {"64 rows", 64, 1, 1, 0},
    {"65 rows", 65, 1, 1, 0},
    {"31 members", 2, 31, 1, 0},
    {"32 members", 2, 32, 1, 0},
    {"33 members", 2, 33, 1, 0},
    {"values at the stack edge", 2, 60, 1, 4},
    {"deep values past the stack", 3, 40, 1, 40},
    {"tree near the block", 10, 14, 4, 0},
    {"tree just past the block", 11, 14, 4, 0},
    {"tree far past the block", 400, 14, 30, 1},
};

TEST(SmallDocuments, GiveTheRestatedOutputOnEitherSideOfEachEdge) {
  for (const Shape& shape : kShapes) {
    const std::vector<reference::Value> rows = make_rows(shape);
    const std::string payload = text_of(rows);
    const std::string want = reference::columnarized(rows);
    TransformOutcome outcome = columnarize_json(payload);
    ASSERT_TRUE(outcome.ok()) << shape.what << ": " << outcome.message();
    EXPECT_EQ(std::string(outcome.output().view()), want) << shape.what;
    // The two-step form, read into the columnarizer's own block.
    Columnarizer columnarizer(payload);
    ASSERT_FALSE(columnarizer.failure()) << shape.what;
    json::ByteBuffer out;
    columnarizer.write(out);
    EXPECT_EQ(std::string(out.view()), want) << shape.what;
    // The reader alone, into a document of its own: the same rows.
    json::ParseOutcome parsed = tamsel::testing::read_rows(payload);
    ASSERT_TRUE(parsed.ok()) << shape.what;
    ASSERT_EQ(parsed.rows().rows().size(), rows.size()) << shape.what;
    for (size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(json::compact_text(parsed.rows().rows()[r]), reference::text(rows[r])) << shape.what << " row " << r;
    }
  }
}

// A failure found after the stacks or the arena have moved to the heap
// leaves nothing behind (the sanitizer builds check) and says where it is.
TEST(SmallDocuments, FailuresPastTheInlineRoomAreReportedAsUsual) {
  struct Case {
    const char* what;
    std::string payload;
    std::string message;
  };
  std::string many_rows = "[";
  for (int r = 0; r < 100; ++r) many_rows += R"({"a":1},)";
  const Case cases[] = {
      {"past the value stack", many_rows + "2]", "expected a JSON object row, got: 2"},
      {"cut short past the value stack", many_rows, "invalid row-oriented JSON: EOF while parsing a value at line 1 column 801"},
      {"past the arena block", "[" + std::string(5000, ' ') + "{\"a\":\"" + std::string(5000, 'x') + "\"},3]",
       "expected a JSON object row, got: 3"},
  };
  for (const Case& c : cases) {
    Columnarizer columnarizer(c.payload);
    ASSERT_TRUE(columnarizer.failure()) << c.what;
    EXPECT_EQ(*columnarizer.failure(), c.message) << c.what;
  }
}

// The stack keeps its items in order across the move to the heap, and gives
// the heap storage away whole.
TEST(ValueStack, KeepsItemsAcrossItsOwnRoomAndTheHeap) {
  for (size_t count : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{17}, size_t{100}}) {
    json::ValueStack<uint64_t, 8> stack;
    for (size_t i = 0; i < count; ++i) stack.push_back(i * 3);
    EXPECT_EQ(stack.is_inline(), count <= 8) << count;
    ASSERT_EQ(stack.size(), count);
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(stack.data()[i], i * 3) << count;
    stack.shrink_to(count / 2);
    stack.push_back(99);
    EXPECT_EQ(stack.data()[count / 2], 99u) << count;
    if (!stack.is_inline()) {
      const size_t kept = stack.size();
      json::StackStorage<uint64_t> storage = stack.release_heap();
      EXPECT_EQ(storage[kept - 1], 99u) << count;
      EXPECT_TRUE(stack.is_inline());
      EXPECT_EQ(stack.size(), 0u);
    }
  }
}

// Arrays in an arena started in a caller's block: growing past the block
// keeps every item, and new items take the fill value.
TEST(ArenaArray, GrowsFromACallersBlockIntoChunks) {
  alignas(16) char block[256];
  json::Arena arena(block, sizeof block, 64);
  json::ArenaArray<uint32_t> ids(arena);
  json::ArenaArray<uint64_t> words(arena);
  for (uint32_t n = 0; n < 300; ++n) {
    ids.push_back(n);
    if (n % 10 == 0) words.resize(words.size() + 7, n);
  }
  ASSERT_EQ(ids.size(), 300u);
  for (uint32_t n = 0; n < 300; ++n) EXPECT_EQ(ids[n], n);
  ASSERT_EQ(words.size(), 210u);
  for (size_t i = 0; i < words.size(); ++i) EXPECT_EQ(words[i], i / 7 * 10) << i;
}

// Allocations of every size and alignment from arenas that start empty, or
// in a block whose size is no multiple of 16: each lies aligned, inside
// memory of its own, and none overlaps another; empty ones are not null.
TEST(Arena, PlacesEachAllocationAlignedAndApart) {
  alignas(16) char block[100];
  for (bool in_block : {false, true}) {
    json::Arena fresh(24);
    json::Arena started(block, sizeof block, 24);
    json::Arena& arena = in_block ? started : fresh;
    std::vector<std::pair<uintptr_t, size_t>> taken;
    for (size_t i = 0; i < 200; ++i) {
      const size_t align = size_t{1} << (i % 5);
      const size_t bytes = (i * 7) % 41;
      char* p = static_cast<char*>(arena.allocate(bytes, align));
      ASSERT_NE(p, nullptr) << in_block << " " << i;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u) << in_block << " " << i;
      std::memset(p, static_cast<int>(i), bytes);
      taken.emplace_back(reinterpret_cast<uintptr_t>(p), bytes);
    }
    for (size_t i = 0; i < taken.size(); ++i) {
      const auto [at, bytes] = taken[i];
      for (size_t b = 0; b < bytes; ++b) {
        ASSERT_EQ(reinterpret_cast<const unsigned char*>(at)[b], static_cast<unsigned char>(i)) << in_block << " " << i;
      }
      const uintptr_t start = reinterpret_cast<uintptr_t>(block);
      if (in_block && bytes != 0 && at >= start && at < start + sizeof block) {
        EXPECT_LE(at + bytes, start + sizeof block) << i;
      }
    }
  }
}

}  // namespace
}  // namespace tamsel
