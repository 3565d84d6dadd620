// The shortest decimal that reads back as a given double, choosing the one
// nearest the double's exact value when several of that length qualify.
#pragma once

#include <cstdint>

namespace tamsel::json {

// value = digits * 10^exponent, with no trailing zero in `digits`.
struct DecimalForm {
  uint64_t digits;
  int exponent;
};

// For a finite, positive double.
DecimalForm shortest_decimal(double value);

}  // namespace tamsel::json
