// Number literals: the JSON number grammar, read in one pass into a 64-bit
// significand and a decimal exponent, then made into one of the three number
// variants. Reading happens in four steps: integer part, fraction part,
// exponent part, and the value (an integer, or the float that scaling the
// significand by the exponent gives).
//
// Only the reader includes this. read_number, forced inline into the
// reader's value switch, takes the common forms in one scan of digit words;
// any other form, and every failure, goes to read_number_in_steps, one
// function out of line, which reads the literal again from its start.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "json/powers_of_ten.h"
#include "json/read_cursor.h"
#include "json/value.h"

namespace tamsel::json {

namespace number_detail {

// Whether one more digit fits in the 64-bit significand.
inline bool digit_fits(uint64_t s, unsigned d) {
  return s < 1844674407370955161ULL || (s == 1844674407370955161ULL && d <= 5);
}

// The value of the eight ASCII digits in `word` (the first digit in its
// lowest byte), combined pairwise; zero bytes count as leading zeros.
inline uint64_t eight_digit_value(uint64_t word) {
  word = (word & 0x0f0f0f0f0f0f0f0fULL) * 2561 >> 8;
  word = (word & 0x00ff00ff00ff00ffULL) * 6553601 >> 16;
  return (word & 0x0000ffff0000ffffULL) * 42949672960001ULL >> 32;
}

// Where `word` holds a byte that is not an ASCII digit: a byte is a digit
// when its high nibble is 3 and adding 6 keeps it so. Zero when all are.
inline uint64_t non_digit_bytes(uint64_t word) {
  uint64_t bad = (word & 0xf0f0f0f0f0f0f0f0ULL) ^ 0x3030303030303030ULL;
  return bad | (((word + 0x0606060606060606ULL) & 0xf0f0f0f0f0f0f0f0ULL) ^ 0x3030303030303030ULL);
}

// The value of the first `k` bytes of `word`, all digits, k from 1 to 7:
// they are moved to the top of the word, zeros below them.
inline uint64_t leading_digits_value(uint64_t word, unsigned k) { return eight_digit_value(word << (8 * (8 - k))); }

// The length of the run of ASCII digits at `p`, with the value of those
// digits in `value` (exact for runs of up to 19 digits; only the length
// counts for longer ones). Eight bytes are tested and taken at a time while
// eight remain before `end`; the first eight apart, as most runs end there.
inline size_t take_digit_run(const char* p, const char* end, uint64_t& value) {
  const char* q = p;
  uint64_t v = 0;
  if (end - q >= 8) {
    uint64_t word;
    std::memcpy(&word, q, 8);
    uint64_t bad = non_digit_bytes(word);
    if (bad != 0) {
      const unsigned k = static_cast<unsigned>(std::countr_zero(bad)) / 8;
      value = k != 0 ? leading_digits_value(word, k) : 0;
      return k;
    }
    v = eight_digit_value(word);
    q += 8;
    while (end - q >= 8) {
      std::memcpy(&word, q, 8);
      bad = non_digit_bytes(word);
      if (bad != 0) {
        const unsigned k = static_cast<unsigned>(std::countr_zero(bad)) / 8;
        if (k != 0) v = v * kPow10Integer[k] + leading_digits_value(word, k);
        value = v;
        return static_cast<size_t>(q - p) + k;
      }
      v = v * 100000000 + eight_digit_value(word);
      q += 8;
    }
  }
  for (; q < end && is_digit(*q); ++q) v = v * 10 + static_cast<unsigned>(*q - '0');
  value = v;
  return static_cast<size_t>(q - p);
}

// The value of the `count` digits at `p`, count at most 19.
inline uint64_t digits_value(const char* p, size_t count) {
  uint64_t v = 0;
  for (; count >= 8; count -= 8, p += 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    v = v * 100000000 + eight_digit_value(word);
  }
  for (; count > 0; --count, ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
  return v;
}

// Whether `count` more digits appended to `significand` surely stay below
// 10^19, so that every one of them passes the overflow test.
inline bool digits_fit(uint64_t significand, size_t count) {
  return count <= 19 && significand < kPow10Integer[19 - count];
}

// Float literals whose significand is below this (all of 12 digits) are
// kept with their digits as well; see float_value.
constexpr uint64_t kShortDecimalLimit = uint64_t{1} << 40;

}  // namespace number_detail

// A literal as its digits give it: significand x 10^exponent.
struct DecimalLiteral {
  uint64_t significand = 0;
  int64_t exponent = 0;          // decimal; kept within the 32-bit range
  bool negative = false;
  bool integer_dropped = false;  // an integer digit did not fit the significand
  bool is_float = false;         // a fraction or an exponent part was read
};

// Step 1: the sign and the integer part, from the first byte, which is '-'
// or a digit. Integer digits that no longer fit the significand count into
// the exponent instead.
[[gnu::always_inline]] inline bool read_integer_part(ReadCursor& in, DecimalLiteral& n) {
  using namespace number_detail;
  if (*in.p == '-') {
    n.negative = true;
    ++in.p;
    if (in.p == in.end) return in.fail_eof(ReadFailure::eof_in_value);
    if (!is_digit(*in.p)) return in.fail_at(ReadFailure::invalid_number, in.p);
  }
  n.significand = static_cast<uint64_t>(*in.p - '0');
  ++in.p;
  if (n.significand == 0) {
    if (in.p < in.end && is_digit(*in.p)) return in.fail_at(ReadFailure::invalid_number, in.p);
    return true;
  }
  // The common case: the whole run fits and is taken at once; otherwise
  // digit by digit, with the overflow test.
  uint64_t run_value;
  size_t run = take_digit_run(in.p, in.end, run_value);
  if (digits_fit(n.significand, run)) {
    n.significand = n.significand * kPow10Integer[run] + run_value;
    in.p += run;
  }
  while (in.p < in.end && is_digit(*in.p)) {
    unsigned d = static_cast<unsigned>(*in.p - '0');
    if (!n.integer_dropped && digit_fits(n.significand, d)) {
      n.significand = n.significand * 10 + d;
    } else {
      n.integer_dropped = true;
      if (n.exponent < std::numeric_limits<int32_t>::max()) ++n.exponent;
    }
    ++in.p;
  }
  return true;
}

// Step 2: the fraction part, if a point follows. Fraction digits are taken
// while they fit (each lowering the exponent) and dropped from the first
// that does not.
[[gnu::always_inline]] inline bool read_fraction_part(ReadCursor& in, DecimalLiteral& n) {
  using namespace number_detail;
  if (in.p == in.end || *in.p != '.') return true;
  n.is_float = true;
  ++in.p;
  if (in.p == in.end) return in.fail_eof(ReadFailure::eof_in_value);
  if (!is_digit(*in.p)) return in.fail_at(ReadFailure::invalid_number, in.p);
  uint64_t run_value;
  const size_t run = take_digit_run(in.p, in.end, run_value);
  const char* run_end = in.p + run;
  if (digits_fit(n.significand, run)) {
    n.significand = n.significand * kPow10Integer[run] + run_value;
    n.exponent -= static_cast<int64_t>(run);
  } else {
    // As many digits as surely fit at once, then one at a time while they
    // still do; the rest are dropped.
    size_t bulk = std::min<size_t>(run, 19);
    while (bulk > 0 && !digits_fit(n.significand, bulk)) --bulk;
    n.significand = n.significand * kPow10Integer[bulk] + digits_value(in.p, bulk);
    n.exponent -= static_cast<int64_t>(bulk);
    for (const char* q = in.p + bulk; q < run_end && digit_fits(n.significand, static_cast<unsigned>(*q - '0')); ++q) {
      n.significand = n.significand * 10 + static_cast<unsigned>(*q - '0');
      --n.exponent;
    }
  }
  in.p = run_end;
  n.exponent = std::max<int64_t>(n.exponent, std::numeric_limits<int32_t>::min());
  return true;
}

// Step 3: the exponent part, if an exponent mark follows; its value is added
// to the exponent, saturating at the 32-bit limits. An exponent too large
// for 32 bits fails when it would scale a non-zero significand up, and
// otherwise makes the literal zero.
[[gnu::always_inline]] inline bool read_exponent_part(ReadCursor& in, DecimalLiteral& n) {
  if (in.p == in.end || (*in.p != 'e' && *in.p != 'E')) return true;
  n.is_float = true;
  ++in.p;
  bool exponent_negative = false;
  if (in.p < in.end && (*in.p == '+' || *in.p == '-')) {
    exponent_negative = *in.p == '-';
    ++in.p;
  }
  if (in.p == in.end) return in.fail_eof(ReadFailure::eof_in_value);
  if (!is_digit(*in.p)) return in.fail_at(ReadFailure::invalid_number, in.p);
  int32_t x = 0;
  while (in.p < in.end && is_digit(*in.p)) {
    int d = *in.p - '0';
    ++in.p;
    if (x < 214748364 || (x == 214748364 && d <= 7)) {
      x = x * 10 + d;
      continue;
    }
    if (n.significand != 0 && !exponent_negative) return in.fail_here(ReadFailure::number_out_of_range);
    while (in.p < in.end && is_digit(*in.p)) ++in.p;
    n.significand = 0;
    n.exponent = 0;
    return true;
  }
  n.exponent = exponent_negative ? n.exponent - x : n.exponent + x;
  n.exponent = std::clamp<int64_t>(n.exponent, std::numeric_limits<int32_t>::min(),
                                   std::numeric_limits<int32_t>::max());
  return true;
}

// Step 4, for a literal of integer digits only that all fit: the unsigned
// or negative variant, or a float where the negative variant cannot hold it
// (minus zero, or a magnitude past 2^63).
[[gnu::always_inline]] inline JsonValue integer_value(const DecimalLiteral& n) {
  if (!n.negative) return JsonValue::make_unsigned(n.significand);
  if (n.significand >= 1 && n.significand <= 9223372036854775808ULL) {
    return JsonValue::make_negative(static_cast<int64_t>(0 - n.significand));
  }
  return JsonValue::make_double(-static_cast<double>(n.significand));
}

// Step 4, for every other literal: the significand rounded to a double, then
// scaled by the exponent with one IEEE multiplication or division per step
// (not correctly rounded in general). Fails when the result overflows.
[[gnu::always_inline]] inline JsonValue float_value(ReadCursor& in, const DecimalLiteral& n) {
  using namespace number_detail;
  double x = static_cast<double>(n.significand);
  int64_t exponent = n.exponent;
  if (n.significand != 0 && n.significand < kShortDecimalLimit && exponent >= -22 && exponent <= 22) {
    // Both the significand and the power of ten are exact doubles, so the
    // one rounding below gives the nearest double; with at most 15 digits
    // no shorter text reads back as that double, so these digits, less their
    // trailing zeros, are the ones the writer would search for. The value
    // keeps them, and the writer lays them out as they are: this is where
    // reading decides the digits of a float's text.
    x = exponent < 0 ? x / kPow10Double[-exponent] : x * kPow10Double[exponent];
    uint64_t digits = n.significand;
    int shifted = static_cast<int>(exponent);
    while (digits % 10 == 0) {
      digits /= 10;
      ++shifted;
    }
    return JsonValue::make_short_decimal(n.negative ? -x : x, digits, shifted);
  }
  while (exponent > 308 || exponent < -308) {
    if (x == 0) return JsonValue::make_double(n.negative ? -0.0 : 0.0);
    if (exponent >= 0) return in.absent(in.fail_here(ReadFailure::number_out_of_range));
    x /= 1e308;
    exponent += 308;
  }
  if (exponent < 0) {
    x /= kPow10Double[-exponent];
  } else {
    x *= kPow10Double[exponent];
    if (std::isinf(x)) return in.absent(in.fail_here(ReadFailure::number_out_of_range));
  }
  // Longer literals: the power of ten of their last digit is kept, as the
  // one where the writer looks for the shortest decimal first (most such
  // literals were written as the shortest decimal of their double).
  if (n.significand != 0 && n.exponent < 0 && n.exponent >= -27 - 19) {
    uint64_t digits = n.significand;
    int shifted = static_cast<int>(n.exponent);
    while (digits % 10 == 0) {
      digits /= 10;
      ++shifted;
    }
    if (shifted < 0 && shifted >= -27) return JsonValue::make_short_decimal(n.negative ? -x : x, 0, shifted);
  }
  return JsonValue::make_double(n.negative ? -x : x);
}

// A number literal, from its first byte ('-' or a digit); absent on failure.
// Every literal can take this way; read_number takes it only for the forms
// its short way does not cover.
[[gnu::noinline]] inline JsonValue read_number_in_steps(ReadCursor& in) {
  DecimalLiteral n;
  if (!read_integer_part(in, n) || !read_fraction_part(in, n) || !read_exponent_part(in, n)) {
    return JsonValue::absent();
  }
  if (!n.is_float && !n.integer_dropped) return integer_value(n);
  return float_value(in, n);
}

// A number literal, from its first byte ('-' or a digit); absent on failure.
// The common forms, an integer part of at most 19 digits and a fraction
// whose digits all fit the significand, with no exponent part, are read
// here, inline in the reader's value switch. Every other form, and every
// failure, is read again from its start in steps: both ways give the same
// significand and exponent, so the same value.
[[gnu::always_inline]] inline JsonValue read_number(ReadCursor& in) {
  using namespace number_detail;
  DecimalLiteral n;
  const char* p = in.p;
  n.negative = *p == '-';
  p += n.negative ? 1 : 0;
  // Most integer parts end within their first eight bytes: the word read to
  // find the end gives their digits too, and one digit, as in most floats,
  // is its low byte. Longer parts, and those near the end of the input, take
  // the digit run's own way; so does a part with no digit, to fail.
  size_t run = 0;
  if (in.end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    const uint64_t bad = non_digit_bytes(word);
    if (bad != 0) {
      run = static_cast<unsigned>(std::countr_zero(bad)) / 8;
      if (run == 1) {
        n.significand = (word & 0xff) - '0';
      } else if (run != 0) {
        n.significand = leading_digits_value(word, static_cast<unsigned>(run));
      }
    }
  }
  if (run == 0) {
    run = take_digit_run(p, in.end, n.significand);
    if (run == 0 || run > 19) return read_number_in_steps(in);
  }
  if (run > 1 && *p == '0') return read_number_in_steps(in);
  p += run;
  if (p < in.end && *p == '.') {
    uint64_t fraction;
    run = take_digit_run(p + 1, in.end, fraction);
    if (run == 0 || !digits_fit(n.significand, run)) return read_number_in_steps(in);
    n.significand = n.significand * kPow10Integer[run] + fraction;
    n.exponent = -static_cast<int64_t>(run);
    n.is_float = true;
    p += 1 + run;
  }
  if (p < in.end && (*p | 0x20) == 'e') return read_number_in_steps(in);
  in.p = p;
  if (!n.is_float) return integer_value(n);
  return float_value(in, n);
}

}  // namespace tamsel::json
