#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "reference_model.h"
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
        // Names first met inside a value, then as members of later rows,
        // one of them in a shape already seen.
        Columnarized{R"([{"a":{"b":1,"c":2,"d":3,"e":4,"f":5}},{"f":1,"a":2},{"a":3},{"f":1,"a":2}])",
                     R"({"columns":["a","f"],"rows":[[{"b":1,"c":2,"d":3,"e":4,"f":5},null],[2,1],[3,null],[2,1]],"constants":{}})"},
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

// Every byte the writer escapes, and the slash, in each form the reader
// takes: its short escape, \u00xx in lower and in upper case, and the slash
// also as itself. Each form is also met beside an escape (\u0078, an "x")
// that the writer would not use. All forms of one byte are one value: a
// column holding them is a constant, and as names they are one column; with
// a different tail in each row the column varies. The writer's own form
// appears in every case.
struct EscapedByte {
  char byte;
  std::string written;     // how the writer writes it
  std::string short_form;  // its short escape, if it has one
};

void PrintTo(const EscapedByte& e, std::ostream* os) { *os << e.written; }

std::vector<std::string> forms_of(const EscapedByte& e) {
  static const char kLower[] = "0123456789abcdef", kUpper[] = "0123456789ABCDEF";
  const unsigned c = static_cast<unsigned char>(e.byte);
  std::vector<std::string> forms;
  if (!e.short_form.empty()) forms.push_back(e.short_form);
  for (const char* hex : {kLower, kUpper}) {
    std::string form = std::string("\\u00") + hex[c >> 4] + hex[c & 0xf];
    if (forms.empty() || forms.back() != form) forms.push_back(form);
  }
  if (e.byte == '/') forms.push_back("/");
  return forms;
}

class EscapeForms : public ::testing::TestWithParam<EscapedByte> {};

TEST_P(EscapeForms, AreOneValueInTheWritersForm) {
  const std::string& w = GetParam().written;
  std::string constant = "[", constant_rows, varying = "[", varying_rows;
  int row = 0;
  for (const std::string& form : forms_of(GetParam())) {
    for (const char* x : {"x", "\\u0078"}) {
      const std::string tail = std::to_string(row);
      const std::string sep = row++ ? "," : "";
      constant += sep + "{\"c\":\"" + x + form + "\"}";
      constant_rows += sep + "[]";
      varying += sep + "{\"k" + form + "\":\"" + x + form + tail + "\"}";
      varying_rows += sep + "[\"x" + w + tail + "\"]";
    }
  }
  TransformOutcome as_constant = columnarize_json(constant + "]");
  ASSERT_TRUE(as_constant.ok()) << constant;
  EXPECT_EQ(std::string(as_constant.output().view()),
            "{\"columns\":[],\"rows\":[" + constant_rows + "],\"constants\":{\"c\":\"x" + w + "\"}}")
      << constant;
  TransformOutcome as_column = columnarize_json(varying + "]");
  ASSERT_TRUE(as_column.ok()) << varying;
  EXPECT_EQ(std::string(as_column.output().view()),
            "{\"columns\":[\"k" + w + "\"],\"rows\":[" + varying_rows + "],\"constants\":{}}")
      << varying;
}

INSTANTIATE_TEST_SUITE_P(
    EveryEscapedByte, EscapeForms,
    ::testing::Values(
        EscapedByte{'\x00', R"(\u0000)", ""}, EscapedByte{'\x01', R"(\u0001)", ""},
        EscapedByte{'\x02', R"(\u0002)", ""}, EscapedByte{'\x03', R"(\u0003)", ""},
        EscapedByte{'\x04', R"(\u0004)", ""}, EscapedByte{'\x05', R"(\u0005)", ""},
        EscapedByte{'\x06', R"(\u0006)", ""}, EscapedByte{'\x07', R"(\u0007)", ""},
        EscapedByte{'\x08', R"(\b)", R"(\b)"}, EscapedByte{'\x09', R"(\t)", R"(\t)"},
        EscapedByte{'\x0a', R"(\n)", R"(\n)"}, EscapedByte{'\x0b', R"(\u000b)", ""},
        EscapedByte{'\x0c', R"(\f)", R"(\f)"}, EscapedByte{'\x0d', R"(\r)", R"(\r)"},
        EscapedByte{'\x0e', R"(\u000e)", ""}, EscapedByte{'\x0f', R"(\u000f)", ""},
        EscapedByte{'\x10', R"(\u0010)", ""}, EscapedByte{'\x11', R"(\u0011)", ""},
        EscapedByte{'\x12', R"(\u0012)", ""}, EscapedByte{'\x13', R"(\u0013)", ""},
        EscapedByte{'\x14', R"(\u0014)", ""}, EscapedByte{'\x15', R"(\u0015)", ""},
        EscapedByte{'\x16', R"(\u0016)", ""}, EscapedByte{'\x17', R"(\u0017)", ""},
        EscapedByte{'\x18', R"(\u0018)", ""}, EscapedByte{'\x19', R"(\u0019)", ""},
        EscapedByte{'\x1a', R"(\u001a)", ""}, EscapedByte{'\x1b', R"(\u001b)", ""},
        EscapedByte{'\x1c', R"(\u001c)", ""}, EscapedByte{'\x1d', R"(\u001d)", ""},
        EscapedByte{'\x1e', R"(\u001e)", ""}, EscapedByte{'\x1f', R"(\u001f)", ""},
        EscapedByte{'"', R"(\")", R"(\")"}, EscapedByte{'\\', R"(\\)", R"(\\)"},
        EscapedByte{'/', "/", R"(\/)"}));

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
  auto out_rows = testing::find_member(parsed.first().as_object(), "rows")->as_array();
  ASSERT_EQ(out_rows.size(), static_cast<size_t>(rows));
  EXPECT_EQ(out_rows[7].as_array().size(), static_cast<size_t>(rows));
  EXPECT_EQ(out_rows[7].as_array()[7].as_unsigned(), 1u);
  EXPECT_TRUE(out_rows[7].as_array()[8].is_null());
}

// Rows of `cells` columns (named in row 0, in order), each row holding the
// cells a pattern picks, plus a constant and an all-null member that must not
// take cells: runs of nulls of every length a row can have, across the
// sizes where the writer changes how it keeps cells and writes runs.
struct SparseRows {
  int cells;
};

void PrintTo(const SparseRows& s, std::ostream* os) { *os << s.cells << " cells"; }

class SparseRowOutput : public ::testing::TestWithParam<SparseRows> {};

TEST_P(SparseRowOutput, MatchesTheModelInAnyGivenMemory) {
  const int cells = GetParam().cells;
  // Which cells of a row are present, by row after row 0 (which has all).
  const std::vector<std::function<bool(int)>> patterns = {
      [](int) { return false; },                              // all nulls, one run
      [&](int c) { return c == cells - 1; },                  // one run before the last
      [](int c) { return c == 0; },                           // one run after the first
      [](int c) { return c % 2 == 1; },                       // single nulls
      [](int c) { return c % 13 == 0; },                      // runs of 12: 60 bytes and its comma
      [](int c) { return c % 14 == 0; },                      // runs of 13: past two pieces
      [](int c) { return c % 26 == 5; },                      // runs of 25: just within four pieces
      [](int c) { return c % 27 == 5; },                      // runs of 26: past them
      [](int c) { return c % 53 == 5; },                      // runs of 52
      [&](int c) { return c == cells / 2 || c == cells - 2; },
  };
  std::vector<reference::Value> rows;
  std::string payload = "[";
  for (size_t r = 0; r <= patterns.size(); ++r) {
    reference::Value row = reference::Value::object();
    for (int c = 0; c < cells; ++c) {
      if (r == 0 || patterns[r - 1](c)) {
        row.insert("c" + std::to_string(c), *reference::read_number(std::to_string(r * 1000 + static_cast<size_t>(c))));
      }
      if (c == cells / 3) {
        row.insert("k", *reference::read_number("7"));
        row.insert("z", reference::Value());
      }
    }
    payload.append(r ? "," : "").append(reference::text(row));
    rows.push_back(std::move(row));
  }
  payload += "]";
  const std::string want = reference::columnarized(rows);
  TransformOutcome outcome = columnarize_json(payload);
  ASSERT_TRUE(outcome.ok()) << outcome.message();
  EXPECT_EQ(std::string(outcome.output().view()), want);
  Columnarizer columnarizer(payload);
  ASSERT_FALSE(columnarizer.failure());
  for (size_t given : {want.size(), want.size() + 64}) {
    std::vector<char> memory(given);
    json::ByteBuffer out(memory.data(), given);
    columnarizer.write(out);
    EXPECT_EQ(std::string(out.view()), want) << given;
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, SparseRowOutput,
                         ::testing::Values(SparseRows{1}, SparseRows{2}, SparseRows{14}, SparseRows{63},
                                           SparseRows{64}, SparseRows{65}, SparseRows{129}, SparseRows{256},
                                           SparseRows{257}, SparseRows{400}));

// Given memory of any size, the output is the same: written there while it
// fits, moved to memory of the buffer's own when it does not.
TEST(Columnarizer, WritesTheSameBytesIntoGivenMemoryOfAnySize) {
  std::vector<reference::Value> sparse_rows;
  std::string sparse = "[";
  for (int r = 0; r < 2000; ++r) {
    reference::Value row = reference::Value::object();
    for (int m = 0; m < 12; ++m) {
      row.insert(std::string("k").append(std::to_string((r * 7 + m * 13) % 300)),
                 *reference::read_number(std::to_string(r)));
    }
    sparse.append(r ? "," : "").append(reference::text(row));
    sparse_rows.push_back(std::move(row));
  }
  sparse += "]";
  const std::pair<std::string, std::string> cases[] = {
      {R"([{"a":1,"b":"x\n"},{"a":1,"b":2.5}])", R"({"columns":["b"],"rows":[["x\n"],[2.5]],"constants":{"a":1}})"},
      {sparse, reference::columnarized(sparse_rows)}};
  for (const auto& [payload, want] : cases) {
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
  EXPECT_EQ(*bad_syntax.failure(), "invalid row-oriented JSON: EOF while parsing a value at line 1 column 3");
  Columnarizer not_rows(R"([{"a":1},2])");
  ASSERT_TRUE(not_rows.failure());
  EXPECT_EQ(*not_rows.failure(), "expected a JSON object row, got: 2");
}

}  // namespace
}  // namespace tamsel
