// Member names the reader settles from a word of input (the guess for a
// member's position, the table of recent names), names written with escapes,
// and objects whose members outgrow the reader's stacks while elements of an
// enclosing array are held there too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reference_model.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

using reference::Value;

Value number(int n) { return *reference::read_number(std::to_string(n)); }

std::string text_of(const std::vector<Value>& rows) {
  std::string payload = "[";
  for (size_t r = 0; r < rows.size(); ++r) payload += (r ? "," : "") + reference::text(rows[r]);
  return payload + "]";
}

// Rows over `names`, each taking `per_row` of them from a place that moves
// by `step`: positions repeat their names or not, and every name comes back.
std::vector<Value> rows_over(const std::vector<std::string>& names, size_t per_row, size_t step, int rows) {
  std::vector<Value> out;
  for (int r = 0; r < rows; ++r) {
    Value row = Value::object();
    for (size_t m = 0; m < per_row; ++m) row.insert(names[(r * step + m) % names.size()], number(r * 10 + int(m)));
    out.push_back(std::move(row));
  }
  return out;
}

struct NameCase {
  const char* label;
  std::vector<std::string> names;
};

class NamesFromEarlierRows : public ::testing::TestWithParam<NameCase> {};

TEST_P(NamesFromEarlierRows, GiveTheReferenceOutput) {
  const std::vector<std::string>& names = GetParam().names;
  for (size_t step : {size_t{0}, size_t{1}, size_t{3}}) {
    for (int rows : {1, 2, 7, 60}) {
      const std::vector<Value> model = rows_over(names, std::min<size_t>(names.size(), 3), step, rows);
      TransformOutcome outcome = columnarize_json(text_of(model));
      ASSERT_TRUE(outcome.ok()) << outcome.message() << " step " << step << " rows " << rows;
      EXPECT_EQ(outcome.output().view(), reference::columnarized(model)) << "step " << step << " rows " << rows;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, NamesFromEarlierRows,
    ::testing::Values(
        NameCase{"ShortAndLong", {"a", "ab", "abcdefg", "abcdefgh", "abcdefghi", "abcdefghijklmnop", "abcdefghijklmnopq"}},
        // The same first eight bytes, names of different lengths.
        NameCase{"SharedLead", {"abcdefgh", "abcdefghi", "abcdefghij", "abcdefgh_", "abcdefghijklmnopqrstu"}},
        // Names with a quote, a backslash or a control byte are written with
        // escapes, so their bytes never stand in the input as they are.
        NameCase{"NeedEscapes", {"a\"b", "a\\b", "a", "a\"", "abcdefg\"", "abcdefgh\"", "tab\there", "\x01"}},
        NameCase{"NonAscii", {"\xc3\xa9t\xc3\xa9", "\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "x"}}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

// The same rows spelled two ways must read alike; in the second spelling a
// name known from an earlier row stands near the end of the input, or with
// an escape where the first has the byte itself.
TEST(NameSpellings, ReadAlike) {
  struct Case {
    const char* escaped;
    const char* plain;
  };
  const Case cases[] = {
      {R"([{"ABC":1},{"\u0041BC":2}])", R"([{"ABC":1},{"ABC":2}])"},
      {R"([{"abcdefgh":1},{"abcdefg\u0068":2}])", R"([{"abcdefgh":1},{"abcdefgh":2}])"},
      {R"([{"a":1,"b":2},{"b":3,"a":4},{"a":5}])", R"([{"a":1,"b":2},{"b":3,"a":4},{"a":5}])"},
      {R"([{"abcdefghij":1},{"abcdefghi\u006a":2},{"abcdefghij":3}])", R"([{"abcdefghij":1},{"abcdefghij":2},{"abcdefghij":3}])"},
      {R"([{"k":1},{"k":2},{"\u006b":3}])", R"([{"k":1},{"k":2},{"k":3}])"},
  };
  for (const Case& c : cases) {
    TransformOutcome a = columnarize_json(c.escaped);
    TransformOutcome b = columnarize_json(c.plain);
    ASSERT_TRUE(a.ok() && b.ok()) << c.escaped;
    EXPECT_EQ(a.output().view(), b.output().view()) << c.escaped;
  }
}

// A name met before whose content holds a quote must not match input that
// holds those bytes unescaped: that input ends the name at the quote and
// fails as it would with no such name met before (the first row's name is
// as long, so the offsets agree).
TEST(NameSpellings, UnescapedQuoteFailsAsInAFreshDocument) {
  struct Case {
    const char* after_name;
    const char* fresh;
  };
  const Case cases[] = {
      {R"([{"a\"b":1},{"a"b":2}])", R"([{"xxxx":1},{"a"b":2}])"},
      {R"([{"abcdefgh\"":1},{"abcdefgh"":2}])", R"([{"xxxxxxxxxx":1},{"abcdefgh"":2}])"},
      {R"([{"a\"":1},{"a"":2}])", R"([{"xxx":1},{"a"":2}])"},
  };
  for (const Case& c : cases) {
    TransformOutcome a = columnarize_json(c.after_name);
    TransformOutcome b = columnarize_json(c.fresh);
    ASSERT_FALSE(a.ok()) << c.after_name;
    ASSERT_FALSE(b.ok()) << c.fresh;
    EXPECT_EQ(a.message(), b.message()) << c.after_name;
  }
}

// Elements of an array fill the reader's stack of values before an object
// inside it pushes its members: the names' stack must have grown with it.
TEST(MembersAfterElements, OutgrowTheStacksTogether) {
  for (int elements : {0, 63, 64, 65, 130, 600}) {
    for (int members : {1, 63, 64, 65, 200}) {
      Value list = Value::array();
      for (int e = 0; e < elements; ++e) list.items.push_back(number(e));
      Value inner = Value::object();
      for (int m = 0; m < members; ++m) inner.insert("m" + std::to_string(m), number(m));
      list.items.push_back(inner);
      Value row = Value::object();
      row.insert("list", list);
      row.insert("after", number(elements));
      const std::vector<Value> model = {row, row};
      TransformOutcome outcome = columnarize_json(text_of(model));
      ASSERT_TRUE(outcome.ok()) << elements << " " << members;
      EXPECT_EQ(outcome.output().view(), reference::columnarized(model)) << elements << " " << members;
    }
  }
}

}  // namespace
}  // namespace tamsel
