#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "test_support.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

using json::JsonKind;
using json::JsonValue;

struct Columnarized {
  std::string payload;
  std::string output;
};

void PrintTo(const Columnarized& c, std::ostream* os) { *os << c.payload; }

class TransformOutput : public ::testing::TestWithParam<Columnarized> {};

TEST_P(TransformOutput, IsExactBytes) {
  TransformOutcome outcome = columnarize_json(GetParam().payload);
  ASSERT_TRUE(outcome.ok()) << outcome.message();
  EXPECT_EQ(std::string(outcome.output().view()), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TransformOutput,
    ::testing::Values(
        Columnarized{R"([])", R"({"columns":[],"rows":[],"constants":{}})"},
        Columnarized{R"([{}])", R"({"columns":[],"rows":[[]],"constants":{}})"},
        Columnarized{R"([{"a":1,"b":"x"}])", R"({"columns":["a","b"],"rows":[[1,"x"]],"constants":{}})"},
        Columnarized{R"([{"a":1,"b":2},{"a":1,"b":3}])",
                     R"({"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}})"},
        Columnarized{R"([{"a":1},{"a":1}])", R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
        Columnarized{R"([{"a":1,"n":null,"b":2},{"a":3,"b":2}])",
                     R"({"columns":["a"],"rows":[[1],[3]],"constants":{"b":2}})"},
        Columnarized{R"([{"a":null},{"a":null}])", R"({"columns":[],"rows":[[],[]],"constants":{}})"},
        Columnarized{R"([{"a":1},{"b":2}])",
                     R"({"columns":["a","b"],"rows":[[1,null],[null,2]],"constants":{}})"},
        Columnarized{R"([{"a":1},{"a":1},{}])", R"({"columns":["a"],"rows":[[1],[1],[null]],"constants":{}})"},
        Columnarized{R"([{"b":1,"a":2},{"c":3,"a":4}])",
                     R"({"columns":["b","a","c"],"rows":[[1,2,null],[null,4,3]],"constants":{}})"},
        Columnarized{R"([{"a":1},{"a":1.0}])", R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
        Columnarized{R"([{"a":1.0},{"a":1}])", R"({"columns":[],"rows":[[],[]],"constants":{"a":1.0}})"},
        Columnarized{R"([{"k":{"x":1,"y":2}},{"k":{"y":2,"x":1}}])",
                     R"({"columns":[],"rows":[[],[]],"constants":{"k":{"x":1,"y":2}}})"},
        Columnarized{R"([{"a":[1]},{"a":[1.0]}])", R"({"columns":["a"],"rows":[[[1]],[[1.0]]],"constants":{}})"},
        Columnarized{R"([{"a":null},{"a":1},{"a":1}])",
                     R"({"columns":["a"],"rows":[[null],[1],[1]],"constants":{}})"},
        Columnarized{R"([{"a":1,"a":2},{"a":2}])", R"({"columns":[],"rows":[[],[]],"constants":{"a":2}})"},
        Columnarized{R"([{"\u0061":1},{"a":2}])", R"({"columns":["a"],"rows":[[1],[2]],"constants":{}})"},
        Columnarized{R"([{"q\"\n":"\u00e9\/"},{"q\"\n":"x"}])",
                     "{\"columns\":[\"q\\\"\\n\"],\"rows\":[[\"\xc3\xa9/\"],[\"x\"]],\"constants\":{}}"},
        Columnarized{" \n[{\"a\":true}] \t", R"({"columns":["a"],"rows":[[true]],"constants":{}})"}));

// Top-level numbers compare by mathematical value: variants may differ, but
// two different integers are never equal, even where doubles cannot tell
// them apart.
INSTANTIATE_TEST_SUITE_P(
    NumberEquality, TransformOutput,
    ::testing::Values(
        Columnarized{R"([{"id":1234567890123456789},{"id":1234567890123456790}])",
                     R"({"columns":["id"],"rows":[[1234567890123456789],[1234567890123456790]],"constants":{}})"},
        Columnarized{R"([{"a":9007199254740993},{"a":9007199254740992.0}])",
                     R"({"columns":["a"],"rows":[[9007199254740993],[9007199254740992.0]],"constants":{}})"},
        Columnarized{R"([{"a":18446744073709551615},{"a":18446744073709551616}])",
                     R"({"columns":["a"],"rows":[[18446744073709551615],[1.8446744073709552e+19]],"constants":{}})"},
        Columnarized{R"([{"a":-9223372036854775808},{"a":-9223372036854775808.0}])",
                     R"({"columns":[],"rows":[[],[]],"constants":{"a":-9223372036854775808}})"},
        Columnarized{R"([{"a":0},{"a":-0}])", R"({"columns":[],"rows":[[],[]],"constants":{"a":0}})"},
        Columnarized{R"([{"a":-1},{"a":18446744073709551615}])",
                     R"({"columns":["a"],"rows":[[-1],[18446744073709551615]],"constants":{}})"},
        Columnarized{R"([{"a":2.5},{"a":2}])", R"({"columns":["a"],"rows":[[2.5],[2]],"constants":{}})"}));

struct Refused {
  std::string payload;
  std::string message;
};

void PrintTo(const Refused& r, std::ostream* os) { *os << r.payload; }

class TransformFailure : public ::testing::TestWithParam<Refused> {};

TEST_P(TransformFailure, GivesExactMessage) {
  TransformOutcome outcome = columnarize_json(GetParam().payload);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.message(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransformFailure,
    ::testing::Values(
        Refused{"", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"},
        Refused{"  ", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 2"},
        Refused{"{}", "invalid row-oriented JSON: invalid type: map, expected a sequence at line 1 column 0"},
        Refused{R"([{"a":1}]x)", "invalid row-oriented JSON: trailing characters at line 1 column 10"},
        Refused{"[1,{", "invalid row-oriented JSON: EOF while parsing an object at line 1 column 4"},
        Refused{R"([{"a":1},2,"x"])", "expected a JSON object row, got: 2"},
        Refused{R"([[1,2]])", "expected a JSON object row, got: [1,2]"},
        Refused{R"(["a\"b\u0001"])", R"(expected a JSON object row, got: "a\"b\u0001")"},
        Refused{R"([{},null])", "expected a JSON object row, got: null"},
        Refused{R"([1.0e2])", "expected a JSON object row, got: 100.0"}));

// ---- Property: the output, joined back with its constants, gives every
// input row's non-null members.

class DocumentGenerator {
 public:
  explicit DocumentGenerator(uint32_t seed) : rng_(seed) {}

  std::string rows() {
    int row_count = pick(0, 6);
    std::string doc = "[";
    for (int r = 0; r < row_count; ++r) {
      if (r) doc += ',';
      doc += row();
    }
    return doc + "]";
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::string row() {
    // Names that share their first bytes, around the lengths (8, 16) where
    // names are compared and hashed differently.
    static const char* names[] = {"a",        "b",         "id",       "n\\u00e9",         "q\\\"",
                                  "",         "x y",       "k",        "attr_00",           "attr_001",
                                  "attr_002", "attr_0010", "attr_01\\u0030", "created_at_time_", "created_at_time_x",
                                  "created_at_time"};
    constexpr int kNames = sizeof names / sizeof names[0];
    int members = pick(0, 8);
    std::string s = "{";
    for (int m = 0; m < members; ++m) {
      if (m) s += ',';
      s += std::string("\"") + names[pick(0, kNames - 1)] + "\":" + value(0);
    }
    return s + "}";
  }

  std::string value(int depth) {
    switch (pick(0, depth < 2 ? 9 : 7)) {
      case 0: return "null";
      case 1: return pick(0, 1) ? "true" : "false";
      case 2: return std::to_string(pick(-3, 3));
      case 3: return std::to_string(pick(0, 2)) + ".0";
      case 4: return std::to_string(pick(0, 99)) + "." + std::to_string(pick(1, 99));
      case 5: return pick(0, 1) ? "18446744073709551615" : "-9223372036854775808";
      case 6: return pick(0, 1) ? "\"v\"" : "\"\\u00e9\\n\"";
      case 7: return "\"s" + std::to_string(pick(0, 2)) + "\"";
      case 8: return "[" + value(depth + 1) + "," + value(depth + 1) + "]";
      default: return "{\"x\":" + value(depth + 1) + ",\"y\":" + value(depth + 1) + "}";
    }
  }

  std::mt19937 rng_;
};

bool same_number_value(const JsonValue& a, const JsonValue& b) {
  auto as_long_double = [](const JsonValue& v) -> long double {
    switch (v.number_variant()) {
      case json::NumberVariant::unsigned_int: return static_cast<long double>(v.as_unsigned());
      case json::NumberVariant::negative_int: return static_cast<long double>(v.as_negative());
      case json::NumberVariant::floating: break;
    }
    return static_cast<long double>(v.as_double());
  };
  return as_long_double(a) == as_long_double(b);
}

TEST(TransformProperty, OutputRebuildsEveryRow) {
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    std::string payload = DocumentGenerator(seed).rows();
    TransformOutcome outcome = columnarize_json(payload);
    ASSERT_TRUE(outcome.ok()) << payload << ": " << outcome.message();
    auto input = testing::parse(payload);
    auto output = testing::parse("[" + std::string(outcome.output().view()) + "]");
    ASSERT_TRUE(input.outcome.ok() && output.outcome.ok()) << payload;

    const json::JsonObject& doc = output.first().as_object();
    ASSERT_EQ(doc.count(), 3u);
    EXPECT_EQ(doc.keys[0]->view(), "columns");
    EXPECT_EQ(doc.keys[1]->view(), "rows");
    EXPECT_EQ(doc.keys[2]->view(), "constants");
    auto columns = doc.values[0].as_array();
    auto out_rows = doc.values[1].as_array();
    const json::JsonObject& constants = doc.values[2].as_object();
    auto in_rows = input.outcome.rows().rows();
    ASSERT_EQ(out_rows.size(), in_rows.size()) << payload;
    if (in_rows.size() < 2) {
      EXPECT_EQ(constants.count(), 0u);
    }
    for (const JsonValue& name : columns) {
      EXPECT_EQ(constants.find(json::string_content(name)), nullptr) << payload;
    }

    for (size_t r = 0; r < in_rows.size(); ++r) {
      const json::JsonObject& in = in_rows[r].as_object();
      auto cells = out_rows[r].as_array();
      ASSERT_EQ(cells.size(), columns.size()) << payload;
      size_t rebuilt = 0;
      for (size_t c = 0; c < columns.size(); ++c) {
        const JsonValue* original = in.find(json::string_content(columns[c]));
        if (cells[c].is_null()) {
          EXPECT_TRUE(original == nullptr || original->is_null()) << payload;
          continue;
        }
        ++rebuilt;
        ASSERT_NE(original, nullptr) << payload;
        EXPECT_TRUE(json::values_equal(*original, cells[c])) << payload;
      }
      for (const auto& constant : constants.entries()) {
        ++rebuilt;
        const JsonValue* original = in.find(*constant.key);
        ASSERT_NE(original, nullptr) << payload;
        bool numbers = original->kind() == JsonKind::number && constant.value.kind() == JsonKind::number;
        EXPECT_TRUE(numbers ? same_number_value(*original, constant.value)
                            : json::values_equal(*original, constant.value))
            << payload;
      }
      size_t non_null = 0;
      for (const auto& member : in.entries()) non_null += member.value.is_null() ? 0 : 1;
      EXPECT_EQ(rebuilt, non_null) << payload;
    }
  }
}

TEST(Transform, WideSparseRowsStayLinear) {
  // Each row has a name of its own: the output is rows x columns nulls.
  std::string payload = "[";
  const int rows = 300;
  for (int r = 0; r < rows; ++r) payload += (r ? ",{\"c" : "{\"c") + std::to_string(r) + "\":1}";
  payload += "]";
  TransformOutcome outcome = columnarize_json(payload);
  ASSERT_TRUE(outcome.ok());
  auto parsed = testing::parse("[" + std::string(outcome.output().view()) + "]");
  ASSERT_TRUE(parsed.outcome.ok());
  auto out_rows = parsed.first().as_object().find("rows")->as_array();
  ASSERT_EQ(out_rows.size(), static_cast<size_t>(rows));
  EXPECT_EQ(out_rows[7].as_array().size(), static_cast<size_t>(rows));
  EXPECT_EQ(out_rows[7].as_array()[7].as_unsigned(), 1u);
  EXPECT_TRUE(out_rows[7].as_array()[8].is_null());
}

// Given memory of any size, the output is the same: written there while it
// fits, moved to memory of the buffer's own when it does not.
TEST(Columnarizer, WritesTheSameBytesIntoGivenMemoryOfAnySize) {
  std::string sparse = "[";
  for (int r = 0; r < 2000; ++r) {
    sparse += r ? ",{" : "{";
    for (int m = 0; m < 12; ++m) sparse += (m ? ",\"k" : "\"k") + std::to_string((r * 7 + m * 13) % 300) + "\":" + std::to_string(r);
    sparse += "}";
  }
  sparse += "]";
  for (const std::string& payload : {std::string(R"([{"a":1,"b":"x\n"},{"a":1,"b":2.5}])"), sparse}) {
    const std::string want(columnarize_json(payload).output().view());
    Columnarizer columnarizer(payload);
    ASSERT_FALSE(columnarizer.failure());
    const size_t n = want.size();
    for (size_t given : {size_t{1}, n / 2, n - 1, n, n + 64, columnarizer.expected_output_size(), 2 * n + 64}) {
      std::vector<char> memory(given);
      json::ByteBuffer out(memory.data(), given);
      columnarizer.write(out);
      EXPECT_EQ(std::string(out.view()), want) << given;
      if (given < n) {
        EXPECT_FALSE(out.in_memory(memory.data())) << given;
      }
      if (given >= n + 64) {
        EXPECT_TRUE(out.in_memory(memory.data())) << given;
      }
    }
  }
}

TEST(Columnarizer, RejectsWithTheTransformsMessage) {
  Columnarizer bad_syntax("[1,");
  ASSERT_TRUE(bad_syntax.failure());
  EXPECT_EQ(*bad_syntax.failure(), columnarize_json("[1,").message());
  Columnarizer not_rows(R"([{"a":1},2])");
  ASSERT_TRUE(not_rows.failure());
  EXPECT_EQ(*not_rows.failure(), "expected a JSON object row, got: 2");
}

}  // namespace
}  // namespace tamsel
