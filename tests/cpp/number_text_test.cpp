// Numbers through the fast paths of reading and writing, against the rules
// stated again in reference_model.h and reference_text.h: the digit words of
// the integer writer, and float literals of every length and exponent, read
// and written back in batches.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "json/writer.h"
#include "reference_model.h"
#include "test_support.h"

namespace tamsel::json {
namespace {

std::string written_digits(uint64_t v) {
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  const unsigned n = decimal_digits(v);
  write_digits(v, n, buffer);
  return std::string(buffer, n);
}

TEST(DigitWords, MatchTheStandardLibraryAtEveryLength) {
  // Every value below 20000, then a spread over each length and
  // both sides of each power of ten and of each 8-digit split.
  for (uint64_t v = 0; v < 20000; ++v) ASSERT_EQ(written_digits(v), std::to_string(v));
  std::mt19937_64 rng(12);
  uint64_t power = 1;
  for (int digits = 1; digits <= 20; ++digits) {
    for (uint64_t v : {power - 1, power, power + 1, power * 9 + power / 2}) {
      if (digits == 20 && v < power) continue;
      ASSERT_EQ(written_digits(v), std::to_string(v));
    }
    for (int i = 0; i < 5000; ++i) {
      uint64_t v = digits == 20 ? power + rng() % (UINT64_MAX - power) : power + rng() % (power * 9);
      ASSERT_EQ(written_digits(v), std::to_string(v));
    }
    if (digits < 20) power *= 10;
  }
  for (uint32_t v = 0; v < 100000000; v += 9973) {
    uint64_t word = eight_digits(v);
    char text[9];
    std::snprintf(text, sizeof text, "%08u", v);
    ASSERT_EQ(std::memcmp(&word, text, 8), 0) << v;
  }
}

// A float literal from its parts: significant digits, where the point goes
// (counted from the left; 0 puts "0." first), leading fraction zeros, and an
// optional exponent.
std::string literal(const std::string& digits, size_t point, int fraction_zeros, bool has_exponent, int exponent,
                    bool negative) {
  std::string s = negative ? "-" : "";
  if (point == 0) {
    s += "0." + std::string(static_cast<size_t>(fraction_zeros), '0') + digits;
  } else if (point >= digits.size()) {
    s += digits + ".0";
  } else {
    s += digits.substr(0, point) + "." + digits.substr(point);
  }
  if (has_exponent) s += "e" + std::to_string(exponent);
  return s;
}

struct LiteralClass {
  const char* name;
  int min_digits, max_digits;
  int min_exponent, max_exponent;  // of the optional exponent part
  int trailing_zeros;              // at most this many zeros end the digits
};

class FloatLiterals : public ::testing::TestWithParam<LiteralClass> {};

// Each literal must read as the restated rules say, bit for bit, and be
// written as the reference text of that double, whichever path it took.
TEST_P(FloatLiterals, ReadAndWrittenAsTheRestatedRulesSay) {
  const LiteralClass& c = GetParam();
  std::mt19937_64 rng(static_cast<uint64_t>(c.min_digits * 131 + c.max_exponent));
  for (int batch = 0; batch < 5; ++batch) {
    std::vector<std::string> literals;
    std::string text = "[";
    for (int i = 0; i < 2000; ++i) {
      const int count = c.min_digits + static_cast<int>(rng() % static_cast<uint64_t>(c.max_digits - c.min_digits + 1));
      std::string digits(1, static_cast<char>('1' + rng() % 9));
      while (static_cast<int>(digits.size()) < count) digits += static_cast<char>('0' + rng() % 10);
      const int zeros = c.trailing_zeros == 0 ? 0 : static_cast<int>(rng() % static_cast<uint64_t>(c.trailing_zeros + 1));
      for (int z = 0; z < zeros && static_cast<int>(digits.size()) - z > 1; ++z) digits[digits.size() - 1 - static_cast<size_t>(z)] = '0';
      const size_t point = rng() % (digits.size() + 1);
      const bool has_exponent = c.min_exponent != 0 || c.max_exponent != 0 || rng() % 2 == 0;
      const int exponent = c.min_exponent + static_cast<int>(rng() % static_cast<uint64_t>(c.max_exponent - c.min_exponent + 1));
      literals.push_back(literal(digits, point, static_cast<int>(rng() % 4), has_exponent, exponent, rng() % 2 == 0));
      text += (i == 0 ? "" : ",") + literals.back();
    }
    auto parsed = tamsel::testing::parse(text + "]");
    ASSERT_TRUE(parsed.outcome.ok());
    auto items = parsed.outcome.rows().rows();
    ASSERT_EQ(items.size(), literals.size());
    for (size_t i = 0; i < literals.size(); ++i) {
      std::optional<reference::Value> want = reference::read_number(literals[i]);
      ASSERT_TRUE(want.has_value()) << literals[i];
      const double got = items[i].as_double();
      ASSERT_EQ(std::memcmp(&got, &want->d, sizeof got), 0) << literals[i];
      ASSERT_EQ(compact_text(items[i]), reference::float_text(want->d)) << literals[i];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FloatLiterals,
    ::testing::Values(LiteralClass{"Short", 1, 6, -8, 8, 3}, LiteralClass{"TwelveDigits", 10, 13, -22, 22, 4},
                      LiteralClass{"FifteenDigits", 13, 15, -22, 22, 5},
                      LiteralClass{"PastTheExactPowers", 1, 15, -40, 40, 6},
                      LiteralClass{"SixteenAndSeventeen", 16, 17, -3, 3, 2}, LiteralClass{"Long", 18, 24, -30, 30, 3},
                      LiteralClass{"FarExponents", 1, 17, -330, 290, 0},
                      LiteralClass{"NoExponent", 1, 19, 0, 0, 4}),
    [](const auto& info) { return std::string(info.param.name); });

struct LiteralOutcome {
  const char* literal;
  const char* result;  // the compact text, or the failure as describe() gives it
};

std::string outcome_text(const std::string& input) {
  auto parsed = tamsel::testing::parse(input);
  if (!parsed.outcome.ok()) return describe(parsed.outcome.error());
  return compact_text(parsed.first());
}

class LiteralAtAnyDistanceFromTheEnd : public ::testing::TestWithParam<LiteralOutcome> {};

// Digits are taken eight bytes at a time only where eight bytes remain, so
// each literal is read both where the input ends right after it and where
// plenty follows: value or failure, message and column must be the same.
TEST_P(LiteralAtAnyDistanceFromTheEnd, ReadsTheSame) {
  const std::string literal = GetParam().literal;
  for (const std::string& after : {std::string(), std::string(" "), std::string(7, ' '), std::string(32, ' ')}) {
    const std::string input = "[" + literal + after;
    const std::string closed = input + "]";
    EXPECT_EQ(outcome_text(closed), GetParam().result) << "[" << literal << "]" << after.size();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LiteralAtAnyDistanceFromTheEnd,
    ::testing::Values(
        LiteralOutcome{"0", "0"}, LiteralOutcome{"-0", "-0.0"}, LiteralOutcome{"7", "7"},
        LiteralOutcome{"12345678", "12345678"}, LiteralOutcome{"1234567890123456789", "1234567890123456789"},
        LiteralOutcome{"18446744073709551615", "18446744073709551615"},
        LiteralOutcome{"18446744073709551616", "1.8446744073709552e+19"},
        LiteralOutcome{"-9223372036854775808", "-9223372036854775808"},
        LiteralOutcome{"-9223372036854775809", "-9.223372036854776e+18"},
        LiteralOutcome{"89.24333440485793", "89.24333440485793"}, LiteralOutcome{"0.668405414645469", "0.668405414645469"},
        LiteralOutcome{"0.0006480657623224673", "0.0006480657623224673"}, LiteralOutcome{"-111338", "-111338"},
        LiteralOutcome{"1.0", "1.0"}, LiteralOutcome{"38.169", "38.169"}, LiteralOutcome{"1.5e3", "1500.0"},
        LiteralOutcome{"1.5E-3", "0.0015"}, LiteralOutcome{"2e+0", "2.0"},
        LiteralOutcome{"0.12345678901234567890123", "0.12345678901234568"},
        LiteralOutcome{"01", "invalid number at line 1 column 3"},
        LiteralOutcome{"-", "invalid number at line 1 column 3"},
        LiteralOutcome{"-a", "invalid number at line 1 column 3"},
        LiteralOutcome{"1.", "invalid number at line 1 column 4"},
        LiteralOutcome{"1.e5", "invalid number at line 1 column 4"},
        LiteralOutcome{"1e", "invalid number at line 1 column 4"},
        LiteralOutcome{"1e400", "number out of range at line 1 column 6"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace tamsel::json
