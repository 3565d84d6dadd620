// The AVX-512 kernel: as the AVX2 kernel, a first step of 16 bytes inlined
// into the reader, where most strings end, and only a longer string going
// on through one call: one 32-byte step, then 64-byte steps. Masked loads
// read a string's last partial block in place, touching no byte past it, so
// neither the scan nor the UTF-8 check needs a byte-wise tail or a copy.
// Strings shorter than 64 bytes are checked as the AVX2 kernel checks them,
// which is faster for them (docs/design.md, Strings).
//
// As in the AVX2 kernel, only the functions that use AVX-512 carry its
// target, and they live in this kernel's namespace (see avx2.h); the reader
// itself is compiled for the baseline processor.
#pragma once

#include "support/platform.h"

#if TAMSEL_HAVE_X86_KERNELS
#include <bit>
#include <cstddef>

#include "json/kernels/avx2.h"
#include "json/kernels/sse2.h"
#include "json/scan.h"

// What the processor must have, written once: the target of the inline
// functions below and of avx512.cpp's region; processor_runs() there asks
// for the same, and for AVX512-VBMI2 besides (see there). Byte-wise compares, shuffles and masked
// loads are AVX512BW; the AVX2 kernel's functions, which this one calls for
// short checks, need the rest.
#define TAMSEL_AVX512_TARGET "avx512f,avx512bw,avx2,bmi"

namespace tamsel::json::avx512 {

// From the 17th byte of a string on: 32 bytes, then 64 bytes per step.
[[gnu::target(TAMSEL_AVX512_TARGET)]] const char* find_string_special_from_17th(const char* p, const char* end,
                                                                               bool& high);

inline const char* find_string_special(const char* p, const char* end, bool& high) {
  return sse2::find_string_special_then<find_string_special_from_17th>(p, end, high);
}

// 64-byte blocks, the last partial one by a masked load; strings shorter
// than 64 bytes go to the AVX2 kernel's check.
bool is_valid_utf8_with_room(const char* data, size_t size, size_t readable);

inline bool is_valid_utf8(const char* data, size_t size) { return is_valid_utf8_with_room(data, size, size); }

}  // namespace tamsel::json::avx512

#endif
