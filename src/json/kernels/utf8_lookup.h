// The tables of the block check of UTF-8 shared by the SSSE3, AVX2 and
// AVX-512 kernels, which look them up with byte shuffles, 16, 32 or 64 bytes
// at a time.
//
// Each byte pair (previous, current) is classified by three 16-entry tables,
// indexed by the previous byte's high and low nibbles and the current byte's
// high nibble; an error bit set in all three marks a malformed pair. The
// bytes two and three places after a lead byte of a long sequence must be
// continuations, which is checked apart. The method is the lookup algorithm
// of John Keiser and Daniel Lemire, "Validating UTF-8 in less than one
// instruction per byte", Software: Practice and Experience 51(5), 2021.
#pragma once

#include <cstdint>

namespace tamsel::json::utf8_lookup {

inline constexpr uint8_t kTooShort = 1 << 0;   // lead byte or ASCII, then a continuation missing
inline constexpr uint8_t kTooLong = 1 << 1;    // ASCII followed by a continuation
inline constexpr uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
inline constexpr uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5 and above
inline constexpr uint8_t kSurrogate = 1 << 4;  // ED A0..BF
inline constexpr uint8_t kOverlong2 = 1 << 5;  // C0, C1
// These two share a bit: both are a lead byte F_ followed by 80..8F, and the
// lead's low nibble, looked up on its own, tells them apart (0 for the
// overlong form, 5 to F for the one too large), so one bit says either.
inline constexpr uint8_t kTooLarge1000 = 1 << 6;  // F5..FF 80..8F
inline constexpr uint8_t kOverlong4 = 1 << 6;     // F0 80..8F
inline constexpr uint8_t kTwoConts = 1 << 7;   // a continuation after a continuation, unless expected
inline constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

alignas(16) inline constexpr uint8_t kByte1High[16] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,
    kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};

alignas(16) inline constexpr uint8_t kByte1Low[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,
    kCarry | kOverlong2,
    kCarry,
    kCarry,
    kCarry | kTooLarge,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000};

alignas(16) inline constexpr uint8_t kByte2High[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
    kTooShort, kTooShort, kTooShort, kTooShort};

// Subtracted, saturating, from the byte two and three places back: what is
// left has its high bit set exactly after E0..FF and F0..FF respectively.
inline constexpr uint8_t kThirdByteBias = 0xe0 - 0x80;
inline constexpr uint8_t kFourthByteBias = 0xf0 - 0x80;

}  // namespace tamsel::json::utf8_lookup
