// Rows that come back to a few shapes in turn, member names the reader has
// been told to expect, and space wherever the text allows it. The survey's
// cache of shapes, the key table's first size and the reader's test for
// space before each token must not show in the output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "reference_model.h"
#include "transform/columnarize.h"
#include "transform/row_survey.h"

namespace tamsel {
namespace {

using reference::Value;

Value number(int n) { return *reference::read_number(std::to_string(n)); }

// Row r takes shape r % shapes (shapes that alternate, or cycle through more
// of them than the survey keeps): its own run of names, in an order of its
// own, one of them null in some rows.
std::vector<Value> rows_cycling(int rows, int shapes) {
  std::vector<Value> out;
  for (int r = 0; r < rows; ++r) {
    const int s = r % shapes;
    Value row = Value::object();
    row.insert("id", number(r));
    for (int m = 0; m < 3 + s % 4; ++m) {
      const int name = (s * 7 + m * (s % 2 == 0 ? 1 : -1) + 64) % 41;
      row.insert("n" + std::to_string(name), r % 5 == m ? Value() : number(r * 3 + m));
    }
    out.push_back(std::move(row));
  }
  return out;
}

std::string text_of(const std::vector<Value>& rows, const std::string& gap = "") {
  std::string payload = "[" + gap;
  for (size_t r = 0; r < rows.size(); ++r) payload += (r ? "," + gap : "") + reference::text(rows[r]) + gap;
  return payload + "]";
}

class CyclingShapes : public ::testing::TestWithParam<int> {};

TEST_P(CyclingShapes, GiveTheReferenceOutput) {
  for (int rows : {1, 2, 3, 40, 300}) {
    const std::vector<Value> model = rows_cycling(rows, GetParam());
    TransformOutcome outcome = columnarize_json(text_of(model));
    ASSERT_TRUE(outcome.ok()) << rows;
    EXPECT_EQ(outcome.output().view(), reference::columnarized(model)) << rows;
  }
}

TEST_P(CyclingShapes, CountNameBytesOncePerMember) {
  const std::vector<Value> model = rows_cycling(200, GetParam());
  // A repeated name is one member: the last value at the first position.
  std::string payload = text_of(model);
  payload.insert(2, R"("id":-1,)");
  size_t expected = 0;
  for (const Value& row : model) {
    for (const auto& member : row.members) expected += member.first.size() + 3;
  }
  json::JsonDocument document;
  RowSurvey survey(document.arena());
  json::ParseOutcome parsed = json::parse_row_array(payload, survey, document);
  ASSERT_TRUE(parsed.ok());
  size_t counted = 0;
  for (const Column& c : survey.columns()) counted += name_text_bytes(c);
  EXPECT_EQ(counted, expected);
  for (const Column& c : survey.columns()) {
    size_t present = 0;
    for (const Value& row : model) present += row.member(c.key->view()) != nullptr ? 1 : 0;
    EXPECT_EQ(c.rows_present, present) << c.key->view();
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, CyclingShapes, ::testing::Values(1, 2, 3, 5, 17, 40));

TEST(ExpectedNames, LeaveEveryNameFoundAndNumberedInOrder) {
  for (size_t expected : {size_t{0}, size_t{1}, size_t{3}, size_t{100}, size_t{1} << 40}) {
    for (bool early : {true, false}) {
      json::JsonDocument document;
      if (early) document.expect_names(expected);
      std::vector<std::string> names;
      for (int i = 0; i < 700; ++i) names.push_back("name_" + std::to_string(i * 7919 % 1000));
      std::vector<const json::JsonKey*> keys;
      for (size_t i = 0; i < names.size(); ++i) {
        keys.push_back(document.intern(json::key_text(names[i].data(), names[i].size()), false, true));
        // Too late to matter once the table is made; it must not lose it.
        if (!early && i == 2) document.expect_names(expected);
        EXPECT_EQ(keys[i]->id, i);
      }
      for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(document.intern(json::key_text(names[i].data(), names[i].size()), false, true), keys[i]);
        EXPECT_EQ(keys[i]->view(), names[i]);
      }
    }
  }
}

// Space of every kind between every two tokens, or none: the same output.
TEST(SpaceBetweenTokens, ChangesNothing) {
  const std::vector<Value> model = rows_cycling(30, 3);
  const std::string expected = reference::columnarized(model);
  for (const char* gap : {" ", "\n", "\r\n", "\t", " \t\n\r "}) {
    std::string spaced;
    for (char c : text_of(model)) {
      spaced += c;
      if (c == ':' || c == ',' || c == '{' || c == '[') spaced += gap;
    }
    // And before each closing bracket and comma.
    std::string payload;
    for (char c : spaced) {
      if (c == '}' || c == ']' || c == ',') payload += gap;
      payload += c;
    }
    TransformOutcome outcome = columnarize_json(std::string(gap) + payload + gap);
    ASSERT_TRUE(outcome.ok()) << payload;
    EXPECT_EQ(outcome.output().view(), expected);
  }
}

// Input that ends in space where a token should follow, and bytes below '!'
// that are not space: each fails where the compact text would.
TEST(SpaceBetweenTokens, EndingOrFalseSpaceFailsAsWithout) {
  struct Case {
    const char* payload;
    const char* message;
  };
  const Case cases[] = {
      {"[ ", "invalid row-oriented JSON: EOF while parsing a list at line 1 column 2"},
      {"[{ ", "invalid row-oriented JSON: EOF while parsing an object at line 1 column 3"},
      {"[{\"a\" ", "invalid row-oriented JSON: EOF while parsing an object at line 1 column 6"},
      {"[{\"a\": ", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 7"},
      {"[{\"a\":1 ", "invalid row-oriented JSON: EOF while parsing an object at line 1 column 8"},
      {"[{\"a\":1}, ", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 10"},
      {"[{\"a\":\x01}]", "invalid row-oriented JSON: expected value at line 1 column 7"},
      {"[{\"a\":1\x0b}]", "invalid row-oriented JSON: expected `,` or `}` at line 1 column 8"},
      {"[\x1f]", "invalid row-oriented JSON: expected value at line 1 column 2"},
  };
  for (const Case& c : cases) {
    TransformOutcome outcome = columnarize_json(c.payload);
    ASSERT_FALSE(outcome.ok()) << c.payload;
    EXPECT_EQ(outcome.message(), c.message) << c.payload;
  }
}

}  // namespace
}  // namespace tamsel
