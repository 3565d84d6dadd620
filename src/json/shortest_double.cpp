// Shortest round-trip digits by exact interval arithmetic on scaled
// integers: the double's neighbours halfway below and above bound the
// decimals that read back as it; digits are dropped while the bounds still
// differ, tracking whether the dropped digits were all zero so that ties
// and closed bounds are decided exactly.
//
// The method is Ryu: Ulf Adams, "Ryu: fast float-to-string conversion",
// PLDI 2018. The scaling by 5^q and 2^e2 uses its precomputed 125-bit
// tables (pow5_tables.inc) and its bounds on q, so a change here should be
// checked against the paper's proofs, not only against tests.
#include "json/shortest_double.h"

#include <cstring>

#include "support/platform.h"

namespace tamsel::json {

namespace {

#include "json/pow5_tables.inc"

constexpr int kMantissaBits = 52;
constexpr int kExponentBias = 1023;
constexpr int kPow5InvBits = 125;
constexpr int kPow5Bits = 125;

// Bits of 5^e (1 for e = 0), for e up to 3528.
inline int pow5_bits(int e) { return static_cast<int>((static_cast<uint32_t>(e) * 1217359) >> 19) + 1; }
// floor(log10(2^e)) and floor(log10(5^e)), for e up to about 1650 and 2620.
inline uint32_t log10_pow2(int e) { return (static_cast<uint32_t>(e) * 78913) >> 18; }
inline uint32_t log10_pow5(int e) { return (static_cast<uint32_t>(e) * 732923) >> 20; }

inline uint32_t pow5_factor(uint64_t value) {
  uint32_t count = 0;
  while (value % 5 == 0) {
    value /= 5;
    ++count;
  }
  return count;
}

inline bool multiple_of_pow5(uint64_t value, uint32_t p) { return pow5_factor(value) >= p; }
inline bool multiple_of_pow2(uint64_t value, uint32_t p) { return (value & ((uint64_t{1} << p) - 1)) == 0; }

// (m * mul) >> j, for the 128-bit `mul` and j of at least 64.
#if TAMSEL_HAVE_INT128
inline uint64_t mul_shift(uint64_t m, const uint64_t* mul, int j) {
  unsigned __int128 low = static_cast<unsigned __int128>(m) * mul[0];
  unsigned __int128 high = static_cast<unsigned __int128>(m) * mul[1];
  return static_cast<uint64_t>(((low >> 64) + high) >> (j - 64));
}
#else
// The full product of two 64-bit numbers from four 32-bit products.
inline uint64_t multiply_high(uint64_t a, uint64_t b, uint64_t& low) {
  const uint64_t a_lo = static_cast<uint32_t>(a), a_hi = a >> 32;
  const uint64_t b_lo = static_cast<uint32_t>(b), b_hi = b >> 32;
  const uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo, lo_hi = a_lo * b_hi, hi_hi = a_hi * b_hi;
  const uint64_t middle = (lo_lo >> 32) + static_cast<uint32_t>(hi_lo) + lo_hi;
  low = (middle << 32) | static_cast<uint32_t>(lo_lo);
  return hi_hi + (hi_lo >> 32) + (middle >> 32);
}

inline uint64_t mul_shift(uint64_t m, const uint64_t* mul, int j) {
  uint64_t low_lo, high_lo;
  const uint64_t low_hi = multiply_high(m, mul[0], low_lo);
  const uint64_t high_hi = multiply_high(m, mul[1], high_lo);
  // (low >> 64) + high, as a 128-bit number (hi:lo), then shifted by j - 64.
  const uint64_t lo = low_hi + high_lo;
  const uint64_t hi = high_hi + (lo < low_hi);
  const int shift = j - 64;
  if (shift >= 64) return hi >> (shift - 64);
  return shift == 0 ? lo : (lo >> shift) | (hi << (64 - shift));
}
#endif

}  // namespace

DecimalForm shortest_decimal(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint64_t ieee_mantissa = bits & ((uint64_t{1} << kMantissaBits) - 1);
  const uint32_t ieee_exponent = static_cast<uint32_t>((bits >> kMantissaBits) & 0x7ff);

  int e2;
  uint64_t m2;
  if (ieee_exponent == 0) {
    e2 = 1 - kExponentBias - kMantissaBits - 2;
    m2 = ieee_mantissa;
  } else {
    e2 = static_cast<int>(ieee_exponent) - kExponentBias - kMantissaBits - 2;
    m2 = (uint64_t{1} << kMantissaBits) | ieee_mantissa;
  }
  const bool accept_bounds = (m2 & 1) == 0;  // round-half-even reading takes the bounds

  // The double, and the halfway points to its neighbours, times 4.
  const uint64_t mv = 4 * m2;
  const uint32_t mm_shift = (ieee_mantissa != 0 || ieee_exponent <= 1) ? 1 : 0;

  uint64_t vr, vp, vm;
  int e10;
  bool vm_trailing_zeros = false;
  bool vr_trailing_zeros = false;
  if (e2 >= 0) {
    const uint32_t q = log10_pow2(e2) - (e2 > 3 ? 1 : 0);
    e10 = static_cast<int>(q);
    const int k = kPow5InvBits + pow5_bits(static_cast<int>(q)) - 1;
    const int i = -e2 + static_cast<int>(q) + k;
    vr = mul_shift(4 * m2, kPow5Inv[q], i);
    vp = mul_shift(4 * m2 + 2, kPow5Inv[q], i);
    vm = mul_shift(4 * m2 - 1 - mm_shift, kPow5Inv[q], i);
    if (q <= 21) {
      if (mv % 5 == 0) {
        vr_trailing_zeros = multiple_of_pow5(mv, q);
      } else if (accept_bounds) {
        vm_trailing_zeros = multiple_of_pow5(mv - 1 - mm_shift, q);
      } else {
        vp -= multiple_of_pow5(mv + 2, q) ? 1 : 0;
      }
    }
  } else {
    const uint32_t q = log10_pow5(-e2) - (-e2 > 1 ? 1 : 0);
    e10 = static_cast<int>(q) + e2;
    const int i = -e2 - static_cast<int>(q);
    const int k = pow5_bits(i) - kPow5Bits;
    const int j = static_cast<int>(q) - k;
    vr = mul_shift(4 * m2, kPow5[i], j);
    vp = mul_shift(4 * m2 + 2, kPow5[i], j);
    vm = mul_shift(4 * m2 - 1 - mm_shift, kPow5[i], j);
    if (q <= 1) {
      vr_trailing_zeros = true;
      if (accept_bounds) {
        vm_trailing_zeros = mm_shift == 1;
      } else {
        --vp;
      }
    } else if (q < 63) {
      vr_trailing_zeros = multiple_of_pow2(mv, q);
    }
  }

  int removed = 0;
  // Drops the last `digits` decimal digits of the value and both bounds;
  // returns what was dropped from the value.
  auto drop = [&](uint64_t scale, int digits) {
    uint64_t tail = vr % scale;
    vr /= scale;
    vp /= scale;
    vm /= scale;
    removed += digits;
    return tail;
  };
  uint64_t output;
  if (vm_trailing_zeros || vr_trailing_zeros) {
    // Exact ties or closed bounds matter: track the removed digits.
    uint64_t last_removed = 0;
    while (vp / 10 > vm / 10) {
      vm_trailing_zeros &= vm % 10 == 0;
      vr_trailing_zeros &= last_removed == 0;
      last_removed = drop(10, 1);
    }
    if (vm_trailing_zeros) {
      while (vm % 10 == 0) {
        vr_trailing_zeros &= last_removed == 0;
        last_removed = drop(10, 1);
      }
    }
    if (vr_trailing_zeros && last_removed == 5 && vr % 2 == 0) last_removed = 4;  // half to even
    output = vr + (((vr == vm && (!accept_bounds || !vm_trailing_zeros)) || last_removed >= 5) ? 1 : 0);
  } else {
    // Several digits at a time where the bounds allow: rounding then looks
    // at the whole removed tail, which is what the last single step sees.
    bool round_up = false;
    while (vp / 10000 > vm / 10000) round_up = drop(10000, 4) >= 5000;
    if (vp / 100 > vm / 100) round_up = drop(100, 2) >= 50;
    while (vp / 10 > vm / 10) round_up = drop(10, 1) >= 5;
    output = vr + ((vr == vm || round_up) ? 1 : 0);
  }
  int exponent = e10 + removed;
  while (output % 10 == 0) {
    output /= 10;
    ++exponent;
  }
  return DecimalForm{output, exponent};
}

}  // namespace tamsel::json
