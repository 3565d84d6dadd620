// Rows whose cells are every kind of value, written into buffers that run out
// of room anywhere in a row: the writer keeps its position apart from the
// buffer while it writes rows, and must hand it back whenever it grows.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "json/byte_buffer.h"
#include "reference_model.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

using reference::Value;

// One value of each kind the writer treats apart; strings of the lengths
// where its copies change, and ones that need escapes.
Value cell_value(size_t pick, size_t r) {
  const std::string n = std::to_string(r);
  switch (pick % 16) {
    case 0: return Value();
    case 1: return Value::boolean(true);
    case 2: return Value::boolean(false);
    case 3: return *reference::read_number(n);
    case 4: return *reference::read_number("-" + n);
    case 5: return *reference::read_number("-9223372036854775808");
    case 6: return *reference::read_number("18446744073709551615");
    case 7: return *reference::read_number(n + ".25");
    case 8: return *reference::read_number("-1.5e-7");
    case 9: return *reference::read_number("0.30000000000000004");
    case 10: return Value::string("");
    case 11: return Value::string("s" + n);
    case 12: return Value::string(std::string(17 + r % 50, 'x'));
    case 13: return Value::string("tab\there \"q\" \x01 caf\xc3\xa9");
    case 14: {
      Value a = Value::array();
      a.items.push_back(*reference::read_number(n));
      a.items.push_back(Value::string("a\nb"));
      return a;
    }
    default: {
      Value o = Value::object();
      o.insert("k", Value::boolean(r % 2 == 0));
      return o;
    }
  }
}

struct MixedRows {
  int columns;
  int rows;
};

void PrintTo(const MixedRows& m, std::ostream* os) { *os << m.columns << " columns, " << m.rows << " rows"; }

class MixedRowOutput : public ::testing::TestWithParam<MixedRows> {};

TEST_P(MixedRowOutput, IsTheSameWhereverTheBufferGrows) {
  const auto [columns, row_count] = GetParam();
  std::mt19937 random(static_cast<unsigned>(columns * 7919 + row_count));
  std::vector<Value> rows;
  std::string payload = "[";
  for (int r = 0; r < row_count; ++r) {
    Value row = Value::object();
    for (int c = 0; c < columns; ++c) {
      // Row 0 holds every column; later rows about half, so that both cells
      // next to each other and cells after runs of nulls occur.
      if (r != 0 && random() % 2 == 0) continue;
      row.insert("c" + std::to_string(c), cell_value(random(), static_cast<size_t>(r)));
    }
    payload.append(r ? "," : "").append(reference::text(row));
    rows.push_back(std::move(row));
  }
  payload += "]";
  const std::string want = reference::columnarized(rows);

  Columnarizer columnarizer(payload);
  ASSERT_FALSE(columnarizer.failure()) << *columnarizer.failure();
  {
    json::ByteBuffer own;
    columnarizer.write(own);
    EXPECT_EQ(std::string(own.view()), want);
  }
  const size_t n = want.size();
  for (size_t given : {size_t{1}, size_t{100}, n / 3, n / 2 + 7, n - 1, n, n + 64}) {
    std::vector<char> memory(given);
    json::ByteBuffer out(memory.data(), given);
    columnarizer.write(out);
    EXPECT_EQ(std::string(out.view()), want) << given;
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, MixedRowOutput,
                         ::testing::Values(MixedRows{1, 40}, MixedRows{5, 300}, MixedRows{64, 60},
                                           MixedRows{65, 60}, MixedRows{300, 20}));

// Rows that end up with no cells at all, every column being a constant or
// never holding a value, are each written as "[]".
TEST(MixedRowOutput, RowsWithoutCellsAreEmptyArrays) {
  const std::pair<std::string, std::string> cases[] = {
      {R"([{"a":1},{"a":1},{"a":1}])", R"({"columns":[],"rows":[[],[],[]],"constants":{"a":1}})"},
      {R"([{"z":null},{}])", R"({"columns":[],"rows":[[],[]],"constants":{}})"},
      {R"([{}])", R"({"columns":[],"rows":[[]],"constants":{}})"},
  };
  for (const auto& [payload, want] : cases) {
    Columnarizer columnarizer(payload);
    ASSERT_FALSE(columnarizer.failure()) << payload;
    for (size_t given : {size_t{1}, want.size()}) {
      std::vector<char> memory(given);
      json::ByteBuffer out(memory.data(), given);
      columnarizer.write(out);
      EXPECT_EQ(std::string(out.view()), want) << payload << " in " << given;
    }
  }
}

}  // namespace
}  // namespace tamsel
