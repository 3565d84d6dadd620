// Powers of ten, each kind defined once: as 64-bit integers for counting and
// gathering decimal digits (writer and reader), and as the nearest doubles
// for scaling decimal literals (reader).
#pragma once

#include <cstdint>

namespace tamsel::json {

// 10^k, k from 0 to 19: every power that fits in 64 bits.
inline constexpr uint64_t kPow10Integer[20] = {1ULL,
                                               10ULL,
                                               100ULL,
                                               1000ULL,
                                               10000ULL,
                                               100000ULL,
                                               1000000ULL,
                                               10000000ULL,
                                               100000000ULL,
                                               1000000000ULL,
                                               10000000000ULL,
                                               100000000000ULL,
                                               1000000000000ULL,
                                               10000000000000ULL,
                                               100000000000000ULL,
                                               1000000000000000ULL,
                                               10000000000000000ULL,
                                               100000000000000000ULL,
                                               1000000000000000000ULL,
                                               10000000000000000000ULL};

// 10^k as the nearest double, k from 0 to 308.
inline constexpr double kPow10Double[309] = {
#include "json/pow10_table.inc"
};

}  // namespace tamsel::json
