// The shortest decimal that reads back as a given double, choosing the one
// nearest the double's exact value when several of that length qualify.
#pragma once

#include <cstdint>
#include <cstring>

#include "support/platform.h"

namespace tamsel::json {

// value = digits * 10^exponent, with no trailing zero in `digits`.
struct DecimalForm {
  uint64_t digits;
  int exponent;
};

// For a finite, positive double.
DecimalForm shortest_decimal(double value);

// Where the power of ten of a float's shortest decimal is known or likely,
// such as the one of the literal the float was read from, the decimal can
// be confirmed at that power with a few exact integer operations instead of
// searching for it. The float and its rounding interval are scaled by 10^f
// and by a power of two that makes them integers: the float m x 2^k becomes
// 4 m 5^f and a step of 10^-f becomes 2^s, s = 2 - k - f. This needs
// 128-bit integers; without them nothing is confirmed.
#if TAMSEL_HAVE_INT128
namespace shortest_detail {

// 5^f, f from 0 to 27: every power below 2^63.
inline constexpr uint64_t kPow5Integer[28] = {
    1ULL,
    5ULL,
    25ULL,
    125ULL,
    625ULL,
    3125ULL,
    15625ULL,
    78125ULL,
    390625ULL,
    1953125ULL,
    9765625ULL,
    48828125ULL,
    244140625ULL,
    1220703125ULL,
    6103515625ULL,
    30517578125ULL,
    152587890625ULL,
    762939453125ULL,
    3814697265625ULL,
    19073486328125ULL,
    95367431640625ULL,
    476837158203125ULL,
    2384185791015625ULL,
    11920928955078125ULL,
    59604644775390625ULL,
    298023223876953125ULL,
    1490116119384765625ULL,
    7450580596923828125ULL};

// The float m x 2^k scaled: 4 m 5^f = whole x 2^s + part, with part below
// 2^s, so that `whole` counts steps of 10^-f below the float.
struct ScaledDouble {
  uint64_t whole;
  uint64_t part;
  int shift;          // s, between 1 and 63 when usable (else 0)
  uint64_t gap_up;    // half the gap to the neighbour above: 2 x 5^f
  uint64_t gap_down;  // and below: the same, or half of it at a power of two
  bool closed;        // m even: the halfway points read back as the float too
};

inline ScaledDouble scale(double value, int f) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const uint64_t m = mantissa | (uint64_t{1} << 52);
  ScaledDouble d{};
  // Subnormals and the two smallest binades lie far out of reach.
  const int shift = 2 - (biased - 1075) - f;
  if (biased <= 1 || shift < 1 || shift > 63) return d;
  const uint64_t pow5 = kPow5Integer[f];
  const unsigned __int128 center = static_cast<unsigned __int128>(4 * m) * pow5;
  d.shift = shift;
  d.whole = static_cast<uint64_t>(center >> shift);
  d.part = static_cast<uint64_t>(center) & ((uint64_t{1} << shift) - 1);
  d.gap_up = 2 * pow5;
  d.gap_down = mantissa == 0 ? pow5 : 2 * pow5;
  d.closed = (m & 1) == 0;
  return d;
}

}  // namespace shortest_detail

// The digits of shortest_decimal(value) when its exponent is -f, else 0;
// for a finite positive `value` and f from 1 to 27. The candidate is the
// multiple of 10^-f nearest `value`. It is the shortest decimal when it is
// nearer than half a step (exact halfway cases are left to the search),
// lies in the interval of numbers that read back as `value`, has no
// trailing zero, and the two multiples of 10^(1-f) around it lie outside
// that interval: then no shorter decimal reads back as `value`, nor one of
// the same length at a lower power of ten (it would lie below the lower
// multiple), and no other decimal of its length is as near.
inline uint64_t shortest_digits_at(double value, int f) {
  using u128 = unsigned __int128;
  const shortest_detail::ScaledDouble d = shortest_detail::scale(value, f);
  if (d.shift == 0) return 0;
  const uint64_t unit = uint64_t{1} << d.shift;
  const uint64_t half = unit >> 1;
  if (d.part == half) return 0;
  const bool rounds_up = d.part > half;
  const uint64_t digits = d.whole + (rounds_up ? 1 : 0);
  if (digits % 10 == 0) return 0;
  // Distances from the float, below and above, in the scaled units.
  auto reads_back_below = [&](u128 distance) { return d.closed ? distance <= d.gap_down : distance < d.gap_down; };
  auto reads_back_above = [&](u128 distance) { return d.closed ? distance <= d.gap_up : distance < d.gap_up; };
  if (rounds_up ? !reads_back_above(unit - d.part) : !reads_back_below(d.part)) return 0;
  const uint64_t multiple_below = digits - digits % 10;  // at most d.whole
  const u128 below = static_cast<u128>(d.whole - multiple_below) * unit + d.part;
  const u128 above = static_cast<u128>(multiple_below + 10 - d.whole) * unit - d.part;
  return !reads_back_below(below) && !reads_back_above(above) ? digits : 0;
}
#else
inline uint64_t shortest_digits_at(double, int) { return 0; }
#endif

}  // namespace tamsel::json
