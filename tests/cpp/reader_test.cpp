#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/utf8.h"
#include "json/writer.h"
#include "test_support.h"

namespace tamsel::json {
namespace {

using tamsel::testing::find_member;
using tamsel::testing::parse;
using tamsel::testing::parse_value;

struct Rejected {
  std::string input;
  std::string message;
  uint64_t line;
  uint64_t column;
};

void PrintTo(const Rejected& r, std::ostream* os) { *os << "input " << ::testing::PrintToString(r.input); }

class RejectedInput : public ::testing::TestWithParam<Rejected> {};

TEST_P(RejectedInput, GivesMessageAndPosition) {
  const Rejected& want = GetParam();
  auto parsed = parse(want.input);
  ASSERT_FALSE(parsed.outcome.ok());
  const JsonError& got = parsed.outcome.error();
  EXPECT_EQ(got.message, want.message);
  EXPECT_EQ(got.line, want.line);
  EXPECT_EQ(got.column, want.column);
}

const std::string kControl = "control character (\\u0000-\\u001F) found while parsing a string";

INSTANTIATE_TEST_SUITE_P(
    Syntax, RejectedInput,
    ::testing::Values(
        Rejected{"", "EOF while parsing a value", 1, 0},
        Rejected{"   \n  ", "EOF while parsing a value", 2, 2},
        Rejected{"[", "EOF while parsing a list", 1, 1},
        Rejected{"[1", "EOF while parsing a list", 1, 2},
        Rejected{"[1,", "EOF while parsing a value", 1, 3},
        Rejected{"[1,]", "trailing comma", 1, 4},
        Rejected{"[1 2]", "expected `,` or `]`", 1, 4},
        Rejected{"[1x]", "expected `,` or `]`", 1, 3},
        Rejected{"[nullx]", "expected `,` or `]`", 1, 6},
        Rejected{"[{}] x", "trailing characters", 1, 6},
        Rejected{"[]\n]", "trailing characters", 2, 1},
        Rejected{"]", "expected value", 1, 1},
        Rejected{"[+1]", "expected value", 1, 2},
        Rejected{"[.5]", "expected value", 1, 2},
        Rejected{"[NaN]", "expected value", 1, 2},
        Rejected{"\xef\xbb\xbf[]", "expected value", 1, 1},
        Rejected{"[tru]", "expected ident", 1, 5},
        Rejected{"[nul", "EOF while parsing a value", 1, 4},
        Rejected{"tru", "EOF while parsing a value", 1, 3},
        Rejected{"[{", "EOF while parsing an object", 1, 2},
        Rejected{"[{\"a\"", "EOF while parsing an object", 1, 5},
        Rejected{"[{\"a\":1", "EOF while parsing an object", 1, 7},
        Rejected{"[{\"a\":1,", "EOF while parsing a value", 1, 8},
        Rejected{"[{\"a\" 1}]", "expected `:`", 1, 7},
        Rejected{"[{\"a\":1 \"b\"}]", "expected `,` or `}`", 1, 9},
        Rejected{"[{1:2}]", "key must be a string", 1, 3},
        Rejected{"[{\"a\":1,2}]", "key must be a string", 1, 9},
        Rejected{"[{\"a\":1,}]", "trailing comma", 1, 9},
        Rejected{"[{\"a\":1, \n }]", "trailing comma", 2, 2}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, RejectedInput,
    ::testing::Values(Rejected{"[01]", "invalid number", 1, 3},
                      Rejected{"[-]", "invalid number", 1, 3},
                      Rejected{"[-", "EOF while parsing a value", 1, 2},
                      Rejected{"[1.]", "invalid number", 1, 4},
                      Rejected{"[1.", "EOF while parsing a value", 1, 3},
                      Rejected{"[1.e5]", "invalid number", 1, 4},
                      Rejected{"[1e]", "invalid number", 1, 4},
                      Rejected{"[1e+]", "invalid number", 1, 5},
                      Rejected{"[1e-", "EOF while parsing a value", 1, 4},
                      Rejected{"[1.5e400]", "number out of range", 1, 8},
                      Rejected{"[1e400]", "number out of range", 1, 6},
                      Rejected{"[1e99999999999]", "number out of range", 1, 13},
                      Rejected{"[-1e309]", "number out of range", 1, 7}));

INSTANTIATE_TEST_SUITE_P(
    Strings, RejectedInput,
    ::testing::Values(
        Rejected{"[\"a", "EOF while parsing a string", 1, 3},
        Rejected{"[\"\\", "EOF while parsing a string", 1, 3},
        Rejected{"[\"a\nb\"]", kControl, 2, 0},
        Rejected{std::string("[\"\x01\"]"), kControl, 1, 3},
        Rejected{std::string("[\"\0\"]", 5), kControl, 1, 3},
        Rejected{"[\"\\x\"]", "invalid escape", 1, 4},
        Rejected{"[\"\\u12\"]", "invalid escape", 1, 8},
        // A byte just outside each range of hexadecimal digits, at each place.
        Rejected{"[\"\\u/000\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\u0:00\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\u00@0\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\u000G\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\u`abc\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\uabcg\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\u00\xff" "0\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\u12", "EOF while parsing a string", 1, 6},
        Rejected{"[\"\\uDC00\"]", "lone leading surrogate in hex escape", 1, 8},
        Rejected{"[\"\\uD800x\"]", "unexpected end of hex escape", 1, 9},
        Rejected{"[\"\\uD800\\x\"]", "unexpected end of hex escape", 1, 10},
        Rejected{"[\"\\uD800", "EOF while parsing a string", 1, 8},
        Rejected{"[\"\\uD800\\u0041\"]", "lone leading surrogate in hex escape", 1, 14},
        Rejected{"[\"\\uD800\\uZZZZ\"]", "invalid escape", 1, 14},
        Rejected{"[\"\xff\"]", "invalid unicode code point", 1, 4},
        Rejected{"[\"\xc0\xaf\"]", "invalid unicode code point", 1, 5},
        Rejected{"[\"\xed\xa0\x80\"]", "invalid unicode code point", 1, 6},
        Rejected{"[\"\xf4\x90\x80\x80\"]", "invalid unicode code point", 1, 7},
        Rejected{"[\"\xe2\x82\"]", "invalid unicode code point", 1, 5},
        Rejected{"[\"\\n\xe2\x82\"]", "invalid unicode code point", 1, 7},
        // A cut sequence just before an escape, in either form of escape.
        Rejected{"[\"\\n\xe2\x82\\t\"]", "invalid unicode code point", 1, 9},
        Rejected{"[\"\\/\xe2\x82\\t\"]", "invalid unicode code point", 1, 9},
        Rejected{"[\"\\n\\x\"]", "invalid escape", 1, 6},
        Rejected{"[\"\\n\\/\\x\"]", "invalid escape", 1, 8},
        Rejected{"[\"\\n\x01\"]", kControl, 1, 5},
        Rejected{"[\"\\n\\u00", "EOF while parsing a string", 1, 8},
        Rejected{"[{\"\xff\":1}]", "invalid unicode code point", 1, 5}));

INSTANTIATE_TEST_SUITE_P(
    TopLevelType, RejectedInput,
    ::testing::Values(
        Rejected{"{}", "invalid type: map, expected a sequence", 1, 0},
        Rejected{" \n {\"a\":1}", "invalid type: map, expected a sequence", 2, 1},
        Rejected{"\"ab\"", "invalid type: string \"ab\", expected a sequence", 1, 4},
        Rejected{"5", "invalid type: integer `5`, expected a sequence", 1, 1},
        Rejected{"1x", "invalid type: integer `1`, expected a sequence", 1, 1},
        Rejected{"-7 ", "invalid type: integer `-7`, expected a sequence", 1, 2},
        Rejected{"1.5", "invalid type: floating point `1.5`, expected a sequence", 1, 3},
        Rejected{"-0", "invalid type: floating point `-0.0`, expected a sequence", 1, 2},
        Rejected{"1e16", "invalid type: floating point `1e+16`, expected a sequence", 1, 4},
        Rejected{"null", "invalid type: null, expected a sequence", 1, 4},
        Rejected{"true", "invalid type: boolean `true`, expected a sequence", 1, 4},
        Rejected{"false", "invalid type: boolean `false`, expected a sequence", 1, 5},
        Rejected{"\"\\u0000'\\t\\\"\\\\\"",
                 "invalid type: string \"\\0'\\t\\\"\\\\\", expected a sequence", 1, 15},
        Rejected{"\"\x7f\xc3\xa9\xcc\x80\xc2\xa0\xee\x80\x80\\u001f\"",
                 "invalid type: string \"\\u{7f}\xc3\xa9\\u{300}\\u{a0}\\u{e000}\\u{1f}\", expected a sequence",
                 1, 18},
        Rejected{"\"a", "EOF while parsing a string", 1, 2}));

// Well-formed UTF-8 by decoding: shortest form, no surrogates, at most U+10FFFF.
bool reference_utf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? c : c & (0x7f >> n);
    for (size_t k = 1; k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xc0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3f);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    i += n;
  }
  return true;
}

TEST(Utf8, AgreesWithDecodingOnShortAndMixedSequences) {
  std::vector<std::string> samples;
  for (int a = 0; a < 256; ++a) {
    samples.push_back(std::string(1, static_cast<char>(a)));
    for (int b = 0; b < 256; ++b) samples.push_back({static_cast<char>(a), static_cast<char>(b)});
  }
  const unsigned char edges[] = {0x00, 0x41, 0x7f, 0x80, 0x8f, 0x90, 0x9f, 0xa0, 0xbf, 0xc0, 0xc1, 0xc2,
                                 0xdf, 0xe0, 0xe1, 0xec, 0xed, 0xee, 0xef, 0xf0, 0xf1, 0xf3, 0xf4, 0xf5, 0xff};
  for (unsigned char a : edges)
    for (unsigned char b : edges)
      for (unsigned char c : edges)
        for (unsigned char d : edges) samples.push_back({char(a), char(b), char(c), char(d)});
  // After ASCII runs of 13 to 16 bytes the sequences straddle the boundary
  // of the sixteen-byte blocks; some are followed by a second copy.
  for (size_t i = 0; i < samples.size(); ++i) {
    std::string padded = std::string(13 + i % 4, 'x') + samples[i] + (i % 3 == 0 ? samples[i] : "");
    ASSERT_EQ(active_kernel_entry().is_valid_utf8(padded.data(), padded.size()), reference_utf8(padded))
        << ::testing::PrintToString(padded);
    const std::string& s = samples[i];
    ASSERT_EQ(active_kernel_entry().is_valid_utf8(s.data(), s.size()), reference_utf8(s)) << ::testing::PrintToString(s);
  }
}

TEST(Reader, DescribeAppendsThePosition) {
  EXPECT_EQ(describe(JsonError{"trailing comma", 1, 4}), "trailing comma at line 1 column 4");
}

TEST(Reader, AcceptsEmptyArraysAndSurroundingWhitespace) {
  for (const char* text : {"[]", "[ ]", " \t\r\n[]", "[{}] \t\r\n "}) {
    auto parsed = parse(text);
    ASSERT_TRUE(parsed.outcome.ok()) << text;
  }
  EXPECT_EQ(parse("[ ]").outcome.rows().rows().size(), 0u);
}

TEST(Reader, NestingStopsAtLevel128) {
  auto deepest = parse(std::string(127, '[') + std::string(127, ']'));
  ASSERT_TRUE(deepest.outcome.ok());
  EXPECT_EQ(compact_text(deepest.first()), std::string(126, '[') + std::string(126, ']'));

  auto too_deep = parse(std::string(128, '['));
  ASSERT_FALSE(too_deep.outcome.ok());
  EXPECT_EQ(too_deep.outcome.error().message, "recursion limit exceeded");
  EXPECT_EQ(too_deep.outcome.error().column, 128u);

  std::string objects;
  for (int i = 0; i < 127; ++i) objects += "{\"a\":";
  auto too_deep_objects = parse("[" + objects + "1" + std::string(127, '}') + "]");
  ASSERT_FALSE(too_deep_objects.outcome.ok());
  EXPECT_EQ(too_deep_objects.outcome.error().message, "recursion limit exceeded");
  EXPECT_EQ(too_deep_objects.outcome.error().column, 1 + 5 * 126 + 1u);
}

struct ReadBack {
  std::string literal;
  NumberVariant variant;
  std::string written;
};

class NumberReadBack : public ::testing::TestWithParam<ReadBack> {};

TEST_P(NumberReadBack, HasVariantAndText) {
  auto parsed = parse_value(GetParam().literal);
  ASSERT_TRUE(parsed.outcome.ok()) << GetParam().literal;
  ASSERT_EQ(parsed.first().kind(), JsonKind::number);
  EXPECT_EQ(parsed.first().number_variant(), GetParam().variant);
  EXPECT_EQ(compact_text(parsed.first()), GetParam().written);
}

constexpr auto U = NumberVariant::unsigned_int;
constexpr auto N = NumberVariant::negative_int;
constexpr auto F = NumberVariant::floating;

INSTANTIATE_TEST_SUITE_P(
    Literals, NumberReadBack,
    ::testing::Values(ReadBack{"0", U, "0"}, ReadBack{"-0", F, "-0.0"},
                      ReadBack{"18446744073709551615", U, "18446744073709551615"},
                      ReadBack{"18446744073709551616", F, "1.8446744073709552e+19"},
                      ReadBack{"-9223372036854775808", N, "-9223372036854775808"},
                      ReadBack{"-9223372036854775809", F, "-9.223372036854776e+18"},
                      ReadBack{"-1", N, "-1"}, ReadBack{"1.0", F, "1.0"}, ReadBack{"1E2", F, "100.0"},
                      ReadBack{"0.1", F, "0.1"}, ReadBack{"3e23", F, "2.9999999999999997e+23"},
                      ReadBack{"1e16", F, "1e+16"}, ReadBack{"0.000001", F, "1e-6"},
                      ReadBack{"1e15", F, "1000000000000000.0"}, ReadBack{"1.5e-5", F, "0.000015"},
                      ReadBack{"1e-5", F, "0.00001"}, ReadBack{"1.5e-7", F, "1.5e-7"},
                      ReadBack{"123.456", F, "123.456"}, ReadBack{"-2.5E+0", F, "-2.5"},
                      ReadBack{"1e-400", F, "0.0"}, ReadBack{"-1e-400", F, "-0.0"},
                      ReadBack{"0e999999999999", F, "0.0"}, ReadBack{"1e-99999999999", F, "0.0"},
                      ReadBack{"5e-324", F, "5e-324"},
                      ReadBack{"12345678901234567890123", F, "1.2345678901234568e+22"},
                      ReadBack{"18446744073709551619.5", F, "1.8446744073709552e+19"},
                      ReadBack{"0.30000000000000000000001", F, "0.3"}, ReadBack{"1.50", F, "1.5"},
                      ReadBack{"-0.8898", F, "-0.8898"}, ReadBack{"100.00", F, "100.0"},
                      ReadBack{"1e22", F, "1e+22"}, ReadBack{"1e-22", F, "1e-22"},
                      ReadBack{"9999999999999e22", F, "9.999999999999e+34"},
                      ReadBack{"1099511627775.5", F, "1099511627775.5"},
                      ReadBack{"-0.0000", F, "-0.0"}));

// Short literals are written from their own digits; whatever their form,
// the text must be the one the writer finds for the double they read as.
TEST(Reader, ShortFloatLiteralsWriteAsTheirDouble) {
  std::mt19937_64 random(7);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  for (int trial = 0; trial < 20000; ++trial) {
    std::string digits;
    // Up to 19 digits: past 15 the reader confirms them as the writer would.
    int count = pick(1, 19);
    for (int i = 0; i < count; ++i) digits += static_cast<char>('0' + pick(i == 0 ? 1 : 0, 9));
    digits.append(static_cast<size_t>(pick(0, 3)), '0');
    std::string literal;
    if (pick(0, 1)) literal += '-';
    size_t point = static_cast<size_t>(pick(0, static_cast<int>(digits.size())));
    if (point == 0) {
      literal.append("0.").append(static_cast<size_t>(pick(0, 6)), '0').append(digits);
    } else if (point == digits.size()) {
      literal.append(digits).append(".0");
    } else {
      literal.append(digits, 0, point).append(".").append(digits, point);
    }
    if (pick(0, 1)) literal.append(pick(0, 1) ? "e" : "E").append(std::to_string(pick(-30, 30)));
    auto parsed = parse_value(literal);
    ASSERT_TRUE(parsed.outcome.ok()) << literal;
    const JsonValue& v = parsed.first();
    ASSERT_EQ(v.number_variant(), NumberVariant::floating) << literal;
    ASSERT_EQ(compact_text(v), compact_text(JsonValue::make_double(v.as_double()))) << literal;
  }
}

TEST(Reader, RepeatedKeyKeepsFirstPositionAndLastValue) {
  auto small = parse_value(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(small.outcome.ok());
  EXPECT_EQ(compact_text(small.first()), R"({"a":3,"b":2})");

  // Past the size where objects get a hash index.
  std::string members, expected;
  for (int i = 0; i < 40; ++i) {
    members += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    expected += "\"k" + std::to_string(i) + "\":" + (i == 7 ? "\"last\"" : std::to_string(i)) + ",";
  }
  auto large = parse_value("{" + members + "\"k7\":\"last\"}");
  ASSERT_TRUE(large.outcome.ok());
  expected.pop_back();
  EXPECT_EQ(compact_text(large.first()), "{" + expected + "}");
  const JsonObject& object = large.first().as_object();
  ASSERT_NE(find_member(object, "k7"), nullptr);
  EXPECT_EQ(find_member(object, "k7")->as_string(), "last");
  EXPECT_EQ(find_member(object, "k39")->as_unsigned(), 39u);
  EXPECT_EQ(find_member(object, "k40"), nullptr);
}

// Objects of up to 8 members merge repeated names by comparing them pairwise,
// larger ones by marking names: both sides of that size, with repeats first,
// last, chained and everywhere.
TEST(Reader, RepeatedKeysMergeTheSameEitherSideOfEightMembers) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {R"({"a":1,"a":2})", R"({"a":2})"},
      {R"({"a":1,"a":2,"a":3,"a":4,"a":5,"a":6,"a":7,"a":8})", R"({"a":8})"},
      {R"({"a":1,"a":2,"a":3,"a":4,"a":5,"a":6,"a":7,"a":8,"a":9})", R"({"a":9})"},
      {R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"a":8})", R"({"a":8,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7})"},
      {R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"a":9})",
       R"({"a":9,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})"},
      {R"({"a":1,"b":2,"a":3,"c":4,"b":5,"d":6,"c":7,"d":8})", R"({"a":3,"b":5,"c":7,"d":8})"},
      {R"({"a":1,"b":2,"a":3,"c":4,"b":5,"d":6,"c":7,"d":8,"e":9})", R"({"a":3,"b":5,"c":7,"d":8,"e":9})"},
      {R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})", R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})"},
      {R"({"h":1,"g":2,"f":3,"e":4,"d":5,"c":6,"b":7,"b":8})", R"({"h":1,"g":2,"f":3,"e":4,"d":5,"c":6,"b":8})"},
      // Large objects in a row: one without repeats, then ones whose repeat
      // is last, or whose names the one before met already.
      {R"([{"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9},)"
       R"({"i":1,"h":2,"g":3,"f":4,"e":5,"d":6,"c":7,"b":8,"a":9,"i":0},)"
       R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9}])",
       R"([{"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9},)"
       R"({"i":0,"h":2,"g":3,"f":4,"e":5,"d":6,"c":7,"b":8,"a":9},)"
       R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9}])"},
  };
  for (const Case& c : cases) {
    auto parsed = parse_value(c.in);
    ASSERT_TRUE(parsed.outcome.ok()) << c.in;
    EXPECT_EQ(compact_text(parsed.first()), c.out) << c.in;
  }
}

// Rows that hold their names in a different order each time, so that names
// are found among the ones met before rather than by their place: names
// shorter than, exactly and longer than eight bytes, ones sharing their
// first eight bytes, the empty name and names with escapes. Each row must
// write back as it was read.
TEST(Reader, NamesMetBeforeInAnyOrder) {
  const std::vector<std::string> names = {
      "attr_001", "attr_001x", "attr_001yz", "attr_00", "a", "", "ab\\\"c", "attr_\\\\01", "tab\\t", "x_shared_prefix_long_name"};
  std::string doc = "[";
  for (size_t row = 0; row < 40; ++row) {
    if (row != 0) doc += ',';
    doc += '{';
    // A rotation of the names, every other row reversed, some left out.
    for (size_t i = 0; i < names.size(); ++i) {
      const size_t k = row % 2 == 0 ? (row + i) % names.size() : (row + names.size() - i) % names.size();
      if ((row + k) % 7 == 3) continue;
      if (doc.back() != '{') doc += ',';
      doc += "\"" + names[k] + "\":" + std::to_string(row * 100 + k);
    }
    doc += '}';
  }
  doc += ']';
  auto parsed = parse_value(doc);
  ASSERT_TRUE(parsed.outcome.ok());
  EXPECT_EQ(compact_text(parsed.first()), doc);
  // A repeated name is still one member, found by its first bytes or not.
  auto repeated = parse_value(R"([{"attr_001x":0,"attr_001":1},{"attr_001":1,"attr_001x":2,"attr_001":3,"a":4,"a":5}])");
  ASSERT_TRUE(repeated.outcome.ok());
  EXPECT_EQ(compact_text(repeated.first()), R"([{"attr_001x":0,"attr_001":1},{"attr_001":3,"attr_001x":2,"a":5}])");
}

TEST(Reader, DecodesEscapesAndSurrogatePairs) {
  auto parsed = parse_value(R"("\"\\\/\b\f\n\r\t\u00e9\uD83D\uDE00\u0000")");
  ASSERT_TRUE(parsed.outcome.ok());
  EXPECT_EQ(parsed.first().as_string(),
            std::string("\"\\/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80", 14) + std::string(1, '\0'));
  // Escapes in the writer's own form are kept as they stand.
  auto own_form = parse_value(R"("a\"\\\b\f\n\r\t\u0001\u001fz")");
  ASSERT_TRUE(own_form.outcome.ok());
  EXPECT_EQ(string_content(own_form.first()), "a\"\\\b\f\n\r\t\x01\x1fz");
  EXPECT_EQ(compact_text(own_form.first()), R"("a\"\\\b\f\n\r\t\u0001\u001fz")");
  auto mixed_case = parse_value(R"("\u00C9\u00e9\uAbCd")");
  ASSERT_TRUE(mixed_case.outcome.ok());
  EXPECT_EQ(string_content(mixed_case.first()), "\xc3\x89\xc3\xa9\xea\xaf\x8d");
  auto keys = parse_value(R"({"\u0061":1,"a":2})");
  ASSERT_TRUE(keys.outcome.ok());
  EXPECT_EQ(compact_text(keys.first()), R"({"a":2})");
}

// Documents whose objects repeat, vary and reorder names at every nesting
// level, down to the deepest allowed: what is read must write back as the
// text it came from (a repeated name keeping its first place and last value).
struct NestedDocument {
  const char* name;
  int max_depth;   // containers inside a row, the row included
  int max_width;   // members of an object or elements of an array
  int name_pool;   // distinct names to draw from
  int rows;
  unsigned seed;
  bool to_max_depth;  // each row holds a chain of containers max_depth deep
};

void PrintTo(const NestedDocument& d, std::ostream* os) { *os << d.name; }

class NestedDocuments : public ::testing::TestWithParam<NestedDocument> {
 protected:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  // A name from the pool: short ones, ones sharing their first 8 bytes, and
  // ones longer than 16 bytes.
  std::string name(int i) {
    static const char* const prefixes[] = {"k", "shared_prefix_", "a_name_longer_than_sixteen_bytes_"};
    std::string text(prefixes[i % 3]);
    text += std::to_string(i);
    return text;
  }

  // Appends a value's input text to `in` and its expected written text to
  // `out`; a container is the row's depth-th. On the spine, containers go on
  // down to max_depth through their first member.
  void value(int depth, std::string& in, std::string& out, bool spine = false) {
    const NestedDocument& d = GetParam();
    const int kind = depth > d.max_depth ? 0 : spine ? pick(1, 2) : pick(0, 3);
    if (kind == 0) {
      std::string text = pick(0, 1) ? std::string("\"s") : std::string();
      text += std::to_string(pick(0, 99));
      if (text[0] == '"') text += '"';
      in += text;
      out += text;
    } else if (kind == 1) {
      in += '[';
      out += '[';
      for (int i = 0, n = pick(spine ? 1 : 0, d.max_width); i < n; ++i) {
        if (i != 0) in += ',', out += ',';
        value(depth + 1, in, out, spine && i == 0);
      }
      in += ']';
      out += ']';
    } else {
      object(depth, in, out, spine);
    }
  }

  void object(int depth, std::string& in, std::string& out, bool spine = false) {
    const NestedDocument& d = GetParam();
    // Names from a window of the pool that moves with the depth, so each
    // level has shapes of its own, and some names shared between levels.
    const int base = pick(0, 1) ? depth % d.name_pool : 0;
    std::vector<std::pair<std::string, std::string>> kept;  // written order
    in += '{';
    for (int i = 0, n = pick(spine ? 1 : 0, d.max_width); i < n; ++i) {
      std::string key = name((base + pick(0, d.name_pool - 1)) % d.name_pool);
      key.insert(0, 1, '"').push_back('"');
      std::string in_value, out_value;
      value(depth + 1, in_value, out_value, spine && i == 0);
      if (i != 0) in += ',';
      in.append(key).append(1, ':').append(in_value);
      auto same = std::find_if(kept.begin(), kept.end(), [&](const auto& m) { return m.first == key; });
      if (same != kept.end()) {
        same->second = out_value;
      } else {
        kept.emplace_back(key, out_value);
      }
    }
    in += '}';
    out += '{';
    for (size_t i = 0; i < kept.size(); ++i) {
      if (i != 0) out += ',';
      out.append(kept[i].first).append(1, ':').append(kept[i].second);
    }
    out += '}';
  }

  std::mt19937 rng_{GetParam().seed};
};

TEST_P(NestedDocuments, WriteBackAsRead) {
  std::string in = "[", out = "[";
  for (int r = 0; r < GetParam().rows; ++r) {
    if (r != 0) in += ',', out += ',';
    // Some rows reach their depth through arrays before any object.
    if (r % 4 == 3) {
      const int arrays = pick(1, GetParam().max_depth - 1);
      std::string in_value, out_value;
      object(arrays + 1, in_value, out_value, GetParam().to_max_depth);
      in += std::string(static_cast<size_t>(arrays), '[') + in_value + std::string(static_cast<size_t>(arrays), ']');
      out += std::string(static_cast<size_t>(arrays), '[') + out_value + std::string(static_cast<size_t>(arrays), ']');
    } else {
      object(1, in, out, GetParam().to_max_depth);
    }
  }
  in += ']';
  out += ']';
  auto parsed = parse(in);
  ASSERT_TRUE(parsed.outcome.ok()) << describe(parsed.outcome.error());
  std::string written = "[";
  for (const JsonValue& row : parsed.outcome.rows().rows()) {
    if (written.size() > 1) written += ',';
    written += compact_text(row);
  }
  EXPECT_EQ(written + "]", out);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, NestedDocuments,
    ::testing::Values(NestedDocument{"many_shapes_few_levels", 3, 12, 24, 400, 1, false},
                      NestedDocument{"few_names_many_levels", 40, 3, 4, 60, 2, false},
                      NestedDocument{"to_the_nesting_limit", 126, 2, 6, 40, 3, true},
                      NestedDocument{"wide_objects", 2, 300, 400, 6, 4, false},
                      NestedDocument{"repeated_names", 4, 10, 3, 200, 5, false}),
    [](const ::testing::TestParamInfo<NestedDocument>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tamsel::json
