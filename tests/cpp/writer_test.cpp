#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <random>
#include <cmath>
#include <limits>
#include <string>

#include "json/shortest_double.h"
#include "json/value.h"
#include "json/writer.h"
#include "test_support.h"

namespace tamsel::json {
namespace {

using tamsel::testing::BuildingDocument;
using tamsel::testing::find_member;
using tamsel::testing::parse_value;

struct FloatText {
  double value;
  std::string text;
};

class FloatWriting : public ::testing::TestWithParam<FloatText> {};

TEST_P(FloatWriting, UsesShortestDigitsAndFixedLayout) {
  EXPECT_EQ(compact_text(JsonValue::make_double(GetParam().value)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FloatWriting,
    ::testing::Values(FloatText{0.0, "0.0"}, FloatText{-0.0, "-0.0"}, FloatText{1.0, "1.0"},
                      FloatText{100.0, "100.0"}, FloatText{1e15, "1000000000000000.0"},
                      FloatText{1e16, "1e+16"}, FloatText{12.5, "12.5"}, FloatText{123.456, "123.456"},
                      FloatText{0.5, "0.5"}, FloatText{0.001, "0.001"}, FloatText{1e-5, "0.00001"},
                      FloatText{1.5e-5, "0.000015"}, FloatText{1e-6, "1e-6"}, FloatText{1.5e-7, "1.5e-7"},
                      FloatText{-2.5, "-2.5"}, FloatText{1.2345678901234567e19, "1.2345678901234567e+19"},
                      FloatText{DBL_MAX, "1.7976931348623157e+308"}, FloatText{5e-324, "5e-324"},
                      FloatText{0.1 + 0.2, "0.30000000000000004"}, FloatText{-1e-300, "-1e-300"},
                      FloatText{123456789012345.6, "123456789012345.6"},
                      FloatText{std::numeric_limits<double>::quiet_NaN(), "null"},
                      FloatText{std::numeric_limits<double>::infinity(), "null"}));

// The digits and exponent std::to_chars gives for the shortest round trip.
DecimalForm reference_form(double value) {
  char text[40];
  auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  uint64_t digits = 0;
  int count = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p == '.') continue;
    digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    ++count;
  }
  int exponent = std::atoi(std::string(p + 1, static_cast<const char*>(end)).c_str()) - (count - 1);
  while (digits % 10 == 0) {
    digits /= 10;
    ++exponent;
  }
  return {digits, exponent};
}

TEST(ShortestDigits, AgreeWithTheStandardLibrary) {
  std::vector<double> values = {5e-324, DBL_MIN, DBL_MAX, 1.0, 0.1, 0.3, 2.0 / 3, 1e22, 1e23, 9007199254740993.0,
                                123456.789, 4.35, 0.000123, 2.2250738585072009e-308};
  for (int e = -323; e <= 308; ++e) values.push_back(std::pow(10.0, e));
  for (int e = -1074; e <= 1023; ++e) {
    double p = std::ldexp(1.0, e);
    values.insert(values.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY)});
  }
  std::mt19937_64 rng(2024);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = rng() & 0x7fffffffffffffffULL;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v) && v > 0) values.push_back(v);
    values.push_back(static_cast<double>(rng() % 100000000) / std::pow(10.0, static_cast<int>(rng() % 12)));
  }
  for (double v : values) {
    if (!(v > 0) || !std::isfinite(v)) continue;
    DecimalForm got = shortest_decimal(v);
    DecimalForm want = reference_form(v);
    ASSERT_EQ(got.digits, want.digits) << v;
    ASSERT_EQ(got.exponent, want.exponent) << v;
  }
}

TEST(Writer, Integers) {
  EXPECT_EQ(compact_text(JsonValue::make_unsigned(0)), "0");
  EXPECT_EQ(compact_text(JsonValue::make_unsigned(UINT64_MAX)), "18446744073709551615");
  EXPECT_EQ(compact_text(JsonValue::make_negative(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(compact_text(JsonValue::make_negative(-42)), "-42");
}

// Every change in digit count, both sides, against the standard library.
TEST(Writer, IntegersAtEveryDigitCount) {
  uint64_t power = 1;
  for (int digits = 1; digits <= 20; ++digits) {
    for (uint64_t v : {power - 1, power, power + 1}) {
      EXPECT_EQ(compact_text(JsonValue::make_unsigned(v)), std::to_string(v));
      if (v != 0 && v <= uint64_t{INT64_MAX}) {
        std::string negative = "-";
        negative += std::to_string(v);
        EXPECT_EQ(compact_text(JsonValue::make_negative(-static_cast<int64_t>(v))), negative);
      }
    }
    if (digits < 20) power *= 10;
  }
}

TEST(Writer, EscapesOnlyQuoteBackslashAndControls) {
  BuildingDocument doc;
  std::string raw = "\x01\x1f\x7f/\xc3\xa9\"\\\b\f\n\r\t";
  raw += '\0';
  EXPECT_EQ(compact_text(doc.make_string(raw)),
            "\"\\u0001\\u001f\x7f/\xc3\xa9\\\"\\\\\\b\\f\\n\\r\\t\\u0000\"");
  // A long plain run around one escape exercises the wide scan.
  std::string long_run(100, 'x');
  EXPECT_EQ(compact_text(doc.make_string(long_run + "\n" + long_run)),
            "\"" + long_run + "\\n" + long_run + "\"");
}

// Strings read with escapes are written with the writer's own escapes,
// whatever form the input used.
TEST(Writer, RewritesEscapesInItsOwnForm) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("a\"b\\c")", R"("a\"b\\c")"},
      {R"("\b\f\n\r\t\u0001\u001f")", R"("\b\f\n\r\t\u0001\u001f")"},
      {R"("\u001F\u000A\u0008")", R"("\u001f\n\b")"},
      {R"("\/\n")", R"("/\n")"},
      {R"("\u0022\u005c")", R"("\"\\")"},
      {R"("\u00e9\t\ud83d\ude00")", "\"\xc3\xa9\\t\xf0\x9f\x98\x80\""},
  };
  for (const auto& [input, written] : cases) {
    auto parsed = parse_value(input);
    ASSERT_TRUE(parsed.outcome.ok()) << input;
    EXPECT_EQ(compact_text(parsed.first()), written) << input;
    BuildingDocument other;  // a copy keeps only the content
    EXPECT_EQ(compact_text(other.copy(parsed.first())), written) << input;
  }
}

TEST(Writer, CompactContainersKeepMemberOrder) {
  BuildingDocument doc;
  JsonObject* object = doc.make_object();
  doc.insert(*object, "z", JsonValue::make_null());
  doc.insert(*object, "a\"", JsonValue::make_bool(true));
  JsonValue items[] = {JsonValue::make_bool(false), JsonValue::make_object_ref(doc.make_object())};
  doc.insert(*object, "list", doc.make_array(items));
  doc.insert(*object, "z", JsonValue::make_unsigned(1));
  EXPECT_EQ(compact_text(JsonValue::make_object_ref(object)), R"({"z":1,"a\"":true,"list":[false,{}]})");
  EXPECT_EQ(compact_text(doc.make_array({})), "[]");
}

struct EqualityCase {
  std::string a;
  std::string b;
  bool equal;
};

class Equality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(Equality, ComparesKindsVariantsAndMembers) {
  auto a = parse_value(GetParam().a);
  auto b = parse_value(GetParam().b);
  ASSERT_TRUE(a.outcome.ok() && b.outcome.ok());
  EXPECT_EQ(values_equal(a.first(), b.first()), GetParam().equal);
  EXPECT_EQ(values_equal(b.first(), a.first()), GetParam().equal);
}

std::string wide_object(bool reversed) {
  std::string s = "{";
  for (int i = 0; i < 30; ++i) {
    int k = reversed ? 29 - i : i;
    s += (i ? ",\"m" : "\"m") + std::to_string(k) + "\":[" + std::to_string(k) + "]";
  }
  return s + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Table, Equality,
    ::testing::Values(EqualityCase{"1", "1.0", false}, EqualityCase{"0.0", "-0.0", true},
                      EqualityCase{"0", "-0", false}, EqualityCase{"-1", "-1", true},
                      EqualityCase{"1", "2", false}, EqualityCase{"null", "null", true},
                      EqualityCase{"true", "false", false}, EqualityCase{"null", "false", false},
                      EqualityCase{"\"a\"", "\"\\u0061\"", true}, EqualityCase{"\"a\"", "\"ab\"", false},
                      // Strings kept in escaped form against decoded ones.
                      EqualityCase{R"("x\n")", R"("x\n")", true}, EqualityCase{R"("x\n")", R"("x\r")", false},
                      EqualityCase{R"("x\n")", R"("x\u000a")", true},
                      EqualityCase{R"("a/\"")", R"("a\/\"")", true}, EqualityCase{R"("\\")", R"("\u005c")", true},
                      EqualityCase{R"("\u001f")", R"("\u001F")", true}, EqualityCase{R"("\u0001")", R"("\u0002")", false},
                      EqualityCase{R"("x\n")", R"("x")", false}, EqualityCase{R"("\n")", R"("\u006e")", false},
                      EqualityCase{"[1,2]", "[2,1]", false}, EqualityCase{"[1,2]", "[1,2]", true},
                      EqualityCase{"[1]", "[1,1]", false}, EqualityCase{"[1]", "[1.0]", false},
                      EqualityCase{R"({"a":1,"b":2})", R"({"b":2,"a":1})", true},
                      EqualityCase{R"({"a":1})", R"({"a":1,"b":2})", false},
                      EqualityCase{R"({"a":1,"a":2})", R"({"a":2})", true},
                      EqualityCase{R"({"a":1})", R"({"b":1})", false},
                      EqualityCase{wide_object(false), wide_object(true), true},
                      EqualityCase{wide_object(false), "{}", false}));

TEST(Document, DeepCopyMatchesAndOwnsItsContent) {
  auto source = parse_value(wide_object(false));
  ASSERT_TRUE(source.outcome.ok());
  BuildingDocument copy_home;
  JsonValue copy = copy_home.copy(source.first());
  EXPECT_TRUE(values_equal(copy, source.first()));
  EXPECT_EQ(compact_text(copy), compact_text(source.first()));
  source.text->assign(source.text->size(), ' ');  // the copy must not borrow the input
  EXPECT_EQ(find_member(copy.as_object(), "m3")->as_array()[0].as_unsigned(), 3u);

  auto strings = parse_value(R"(["x\n\u0001","a\/b\t","plain"])");
  ASSERT_TRUE(strings.outcome.ok());
  JsonValue strings_copy = copy_home.copy(strings.first());
  const std::string written = compact_text(strings.first());
  strings.text->assign(strings.text->size(), ' ');
  EXPECT_EQ(compact_text(strings_copy), written);
  EXPECT_EQ(written, R"(["x\n\u0001","a/b\t","plain"])");
}

}  // namespace
}  // namespace tamsel::json
