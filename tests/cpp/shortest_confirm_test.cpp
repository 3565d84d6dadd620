// The confirmation of a decimal at hand as the shortest text of a double
// (is_shortest_decimal, confirmed_digits) against the search itself
// (shortest_decimal, held to the standard library in writer_test.cpp): it
// must never confirm a decimal the search would not give, and must confirm
// what the search gives but for exact halfway cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "json/shortest_double.h"
#include "support/platform.h"

namespace tamsel::json {
namespace {

#if TAMSEL_HAVE_INT128

double from_bits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Doubles around every kind of edge: random bit patterns over the whole
// range the confirmation covers, powers of two and their neighbours (where
// the gap below halves), decimals of few digits as a reader makes them,
// and odd and even mantissas alike.
std::vector<double> sample_doubles() {
  std::vector<double> values;
  std::mt19937_64 rng(77);
  for (int e = -100; e <= 60; ++e) {
    const double p = std::ldexp(1.0, e);
    values.insert(values.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY)});
  }
  for (int i = 0; i < 8000; ++i) {
    // Exponents from about 1e-30 to 1e18.
    const uint64_t biased = 923 + rng() % 140;
    values.push_back(from_bits(biased << 52 | (rng() & ((uint64_t{1} << 52) - 1))));
    const uint64_t digits = rng() % 100000000000000000ULL + 1;
    values.push_back(static_cast<double>(digits) / std::pow(10.0, static_cast<int>(rng() % 28)));
    values.push_back(static_cast<double>(rng() % 1000 + 1) / std::pow(10.0, static_cast<int>(rng() % 28)));
  }
  return values;
}

TEST(ShortestConfirmation, AgreesWithTheSearch) {
  size_t confirmed = 0, searched = 0;
  for (double v : sample_doubles()) {
    if (!(v > 0) || !std::isfinite(v)) continue;
    const DecimalForm want = shortest_decimal(v);
    // Candidates: for each power 10^-f, the multiples just below and above v
    // (less trailing zeros), and the search's own answer.
    std::vector<std::pair<uint64_t, int>> candidates;
    if (want.exponent <= -1 && want.exponent >= -27) candidates.emplace_back(want.digits, -want.exponent);
    for (int f = 1; f <= 27; ++f) {
      const long double scaled = static_cast<long double>(v) * std::pow(10.0L, f);
      if (!(scaled < 1e19L)) break;
      const uint64_t floor_digits = static_cast<uint64_t>(scaled);
      for (uint64_t digits : {floor_digits - 1, floor_digits, floor_digits + 1, floor_digits + 2}) {
        int g = f;
        while (digits != 0 && digits % 10 == 0 && g > 1) {
          digits /= 10;
          --g;
        }
        if (digits != 0 && digits % 10 != 0) candidates.emplace_back(digits, g);
      }
    }
    for (const auto& [digits, f] : candidates) {
      const bool is_answer = want.digits == digits && want.exponent == -f;
      if (is_shortest_decimal(v, digits, f)) {
        ASSERT_TRUE(is_answer) << v << " confirmed " << digits << "e-" << f << ", the search gives " << want.digits
                               << "e" << want.exponent;
        ASSERT_EQ(confirmed_digits(v, f), digits) << v;
        ++confirmed;
      }
    }
    if (want.exponent <= -1 && want.exponent >= -27) ++searched;
  }
  // Nearly every answer in reach is confirmed; what is not falls back to the
  // search, which is slower but still right.
  EXPECT_GT(confirmed, searched * 95 / 100);
}

#endif

}  // namespace
}  // namespace tamsel::json
