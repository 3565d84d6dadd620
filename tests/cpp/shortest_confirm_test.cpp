// The shortest decimal of a double confirmed at a given power of ten
// (shortest_digits_at) against the search itself (shortest_decimal, held to
// the standard library in writer_test.cpp): at any power it must give
// nothing or what the search gives, and at the search's own power it must
// give the answer but for rare cases (exact halfway points).
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
  for (int i = 0; i < 40000; ++i) {
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
  size_t confirmed = 0, in_reach = 0;
  for (double v : sample_doubles()) {
    if (!(v > 0) || !std::isfinite(v)) continue;
    const DecimalForm want = shortest_decimal(v);
    for (int f = 1; f <= 27; ++f) {
      const uint64_t digits = shortest_digits_at(v, f);
      if (digits != 0) {
        ASSERT_TRUE(want.digits == digits && want.exponent == -f)
            << v << " confirmed " << digits << "e-" << f << ", the search gives " << want.digits << "e" << want.exponent;
      }
      // In reach: long decimals (shorter ones are kept whole by the reader)
      // from about 1e-10 up, where the scaled float's parts fit 64 bits.
      if (want.exponent == -f && v >= 1e-10 && want.digits >= 1000000000000ULL) {
        ++in_reach;
        confirmed += digits != 0 ? 1 : 0;
      }
    }
  }
  // Nearly every answer in reach is confirmed; what is not falls back to the
  // search, which is slower but still right.
  EXPECT_GT(in_reach, 5000u);
  EXPECT_GT(confirmed, in_reach * 99 / 100) << confirmed << " of " << in_reach;
}

#endif

}  // namespace
}  // namespace tamsel::json
