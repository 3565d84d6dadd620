// The block check of UTF-8, written once for every vector width: the SSSE3
// (16 bytes), AVX2 (32) and AVX-512 (64) kernels each instantiate it with
// their own vector operations. The method and its tables are utf8_lookup.h's.
//
// Include this inside the kernel's target region and after every other
// header (it includes none itself): the functions it defines are then
// compiled for that kernel's target, and nothing else is. What a kernel's
// `Ops` provides:
//   Vector, kBytes         the vector type and its width in bytes
//   zero(), load(p)        a vector of zeros; kBytes bytes from p
//   load_last(p, n, r)     the n (below kBytes) bytes at p, zeros after them;
//                          r bytes from p on may be read
//   lookup(table, v)       each byte of v (below 16) looked up in `table`
//   high_nibbles(v), low_nibbles(v), splat(b)
//   previous<N>(v, before) v moved N bytes later, the last N of `before` first
//   both(a, b), either(a, b), differ(a, b), minus(a, b)   and, or, xor, and
//                          the saturating subtraction of b's bytes from a's
//   is_ascii(v), is_zero(v)

// An ASCII block after an ASCII block has nothing to check; the check of a
// block needs the one before it. The bytes after the end read as zeros, which
// are ASCII. A sequence cut short at the end is found as a block of zeros
// after the end would find it, by a cheaper test: the last three bytes of
// the last block must not open a sequence longer than the bytes left
// (kEndLimits).

#pragma once

namespace tamsel::json::utf8_blocks {

// The highest byte each of a block's places may hold at the very end: below
// C0 in the last, E0 in the one before, F0 in the one before that. A block of
// kBytes is the last kBytes of this.
inline constexpr unsigned char kEndLimits[64] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xDF, 0xBF};

template <class Ops>
inline typename Ops::Vector block_errors(typename Ops::Vector input, typename Ops::Vector previous) {
  using namespace utf8_lookup;
  const auto prev1 = Ops::template previous<1>(input, previous);
  const auto byte_1_high = Ops::lookup(kByte1High, Ops::high_nibbles(prev1));
  const auto byte_1_low = Ops::lookup(kByte1Low, Ops::low_nibbles(prev1));
  const auto byte_2_high = Ops::lookup(kByte2High, Ops::high_nibbles(input));
  const auto special = Ops::both(Ops::both(byte_1_high, byte_1_low), byte_2_high);
  // Two places after E0..FF and three after F0..FF a continuation must
  // follow; that sets the high bit, which must match kTwoConts above.
  const auto third = Ops::minus(Ops::template previous<2>(input, previous), Ops::splat(kThirdByteBias));
  const auto fourth = Ops::minus(Ops::template previous<3>(input, previous), Ops::splat(kFourthByteBias));
  const auto must_continue = Ops::both(Ops::either(third, fourth), Ops::splat(0x80));
  return Ops::differ(must_continue, special);
}

// Whether the `size` bytes at `p` are UTF-8; `readable` bytes (at least
// `size`) may be read from `p`.
template <class Ops>
bool valid(const unsigned char* p, size_t size, size_t readable) {
  const unsigned char* const begin = p;
  const unsigned char* const end = p + (size & ~(Ops::kBytes - 1));
  auto previous = Ops::zero();
  auto errors = Ops::zero();
  bool previous_ascii = true;
  auto step = [&](typename Ops::Vector input) {
    const bool ascii = Ops::is_ascii(input);
    if (!(ascii && previous_ascii)) errors = Ops::either(errors, block_errors<Ops>(input, previous));
    previous = input;
    previous_ascii = ascii;
  };
  for (; p != end; p += Ops::kBytes) step(Ops::load(p));
  if (const size_t rest = size % Ops::kBytes; rest != 0) {
    step(Ops::load_last(p, rest, readable - static_cast<size_t>(p - begin)));
  }
  if (!previous_ascii) {
    const auto limits = Ops::load(kEndLimits + sizeof(kEndLimits) - Ops::kBytes);
    errors = Ops::either(errors, Ops::minus(previous, limits));
  }
  return Ops::is_zero(errors);
}

}  // namespace tamsel::json::utf8_blocks
