// The bytes between a member's name, its value and the next member, and
// between the elements of an array: compact text is read on a short path
// that looks at the two bytes after a name or a value at once, anything else
// on the general one. Both must accept and reject the same inputs, with the
// same message and position, including when the input ends inside those two
// bytes.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "transform/columnarize.h"

namespace tamsel::json {
namespace {

using tamsel::testing::parse;

struct Rejected {
  std::string input;
  std::string message;
  uint64_t column;
};

void PrintTo(const Rejected& r, std::ostream* os) { *os << "input " << ::testing::PrintToString(r.input); }

class RejectedSeparator : public ::testing::TestWithParam<Rejected> {};

TEST_P(RejectedSeparator, GivesMessageAndPosition) {
  const Rejected& want = GetParam();
  auto parsed = parse(want.input);
  ASSERT_FALSE(parsed.outcome.ok());
  const JsonError& got = parsed.outcome.error();
  EXPECT_EQ(got.message, want.message);
  EXPECT_EQ(got.line, 1u);
  EXPECT_EQ(got.column, want.column);
}

INSTANTIATE_TEST_SUITE_P(
    AfterName, RejectedSeparator,
    ::testing::Values(Rejected{"[{\"a\":", "EOF while parsing a value", 6},
                      Rejected{"[{\"a\":}]", "expected value", 7},
                      Rejected{"[{\"a\":]", "expected value", 7},
                      Rejected{"[{\"a\":\x7f}]", "expected value", 7},
                      Rejected{"[{\"a\":\xc3\xa9}]", "expected value", 7},
                      Rejected{"[{\"a\": }]", "expected value", 8},
                      Rejected{"[{\"a\":,\"b\":2}]", "expected value", 7},
                      Rejected{"[{\"a\"::1}]", "expected value", 7},
                      Rejected{"[{\"a\":x}]", "expected value", 7},
                      Rejected{"[{\"a\":1,\"b\"", "EOF while parsing an object", 11},
                      Rejected{"[{\"a\":1,\"b\":", "EOF while parsing a value", 12},
                      Rejected{"[{\"a\":1,\t\"b\"}]", "expected `:`", 13}));

INSTANTIATE_TEST_SUITE_P(
    AfterValue, RejectedSeparator,
    ::testing::Values(Rejected{"[{\"a\":1", "EOF while parsing an object", 7},
                      Rejected{"[{\"a\":1,", "EOF while parsing a value", 8},
                      Rejected{"[{\"a\":1,\"", "EOF while parsing a string", 9},
                      Rejected{"[{\"a\":1,,\"b\":2}]", "key must be a string", 9},
                      Rejected{"[{\"a\":1,\"b\":2,}]", "trailing comma", 15},
                      Rejected{"[{\"a\":1 ,\"b\":2", "EOF while parsing an object", 14},
                      Rejected{"[{\"a\":1, \"b\":2}", "EOF while parsing a list", 15},
                      Rejected{"[{\"a\":{\"b\":1,\"c\":", "EOF while parsing a value", 17},
                      Rejected{"[{\"a\":1,\"b\":2}", "EOF while parsing a list", 14}));

INSTANTIATE_TEST_SUITE_P(
    BetweenElements, RejectedSeparator,
    ::testing::Values(Rejected{"[1,\x01]", "expected value", 4},
                      Rejected{"[1,\x7f]", "expected value", 4},
                      Rejected{"[[1,", "EOF while parsing a value", 4},
                      Rejected{"[[1,2", "EOF while parsing a list", 5},
                      Rejected{"[[1,\"", "EOF while parsing a string", 5},
                      Rejected{"[{\"a\":[1,]}]", "trailing comma", 10},
                      Rejected{"[{\"a\":[1,,2]}]", "expected value", 10},
                      Rejected{"[{\"a\":[1,}]}]", "expected value", 10},
                      Rejected{"[{\"a\":1},]", "trailing comma", 10},
                      Rejected{"[{\"a\":1},}]", "expected value", 10}));

// Space anywhere between the tokens of a member reads as the compact text.
class SpacedMembers : public ::testing::TestWithParam<std::string> {};

// Enough rows for a columnar output: two rows, given without their array.
std::string payload_of(const std::string& two_rows) {
  std::string payload = "[";
  for (int i = 0; i < 12; ++i) payload += (i ? "," : "") + two_rows;
  return payload + "]";
}

TEST_P(SpacedMembers, ReadAsCompactText) {
  TransformOutcome want = columnarize_json(payload_of(R"({"a":1,"b":"x","c":{"d":[true,null]}},{"b":"y","a":2.5,"c":{}})"));
  TransformOutcome got = columnarize_json(payload_of(GetParam()));
  ASSERT_TRUE(want.ok()) << want.message();
  ASSERT_TRUE(got.ok()) << got.message();
  EXPECT_EQ(got.output().view(), want.output().view());
}

INSTANTIATE_TEST_SUITE_P(
    Spacing, SpacedMembers,
    ::testing::Values(R"({"a" :1,"b":"x","c":{"d":[true,null]}},{"b":"y","a":2.5,"c":{}})",
                      R"({"a": 1,"b":"x","c":{"d":[true,null]}},{"b":"y","a":2.5,"c":{}})",
                      R"({"a":1 ,"b":"x","c":{"d":[true,null]}},{"b":"y","a":2.5,"c":{}})",
                      R"({"a":1, "b":"x","c":{"d":[true,null]}},{"b":"y","a":2.5,"c":{}})",
                      "{\"a\":1,\"b\":\"x\",\"c\":\n{\"d\":[true,null]\t}\r},{\"b\":\"y\",\"a\":2.5,\"c\":{ }}",
                      "{ \"a\" : 1 , \"b\" : \"x\" , \"c\" : { \"d\" : [ true , null ] } } ,"
                      " { \"b\" : \"y\" , \"a\" : 2.5 , \"c\" : { } } "));

}  // namespace
}  // namespace tamsel::json
