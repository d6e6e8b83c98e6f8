// The search of one 1,024-byte window for the first descriptor block ID.
//
// Each answers the first offset 0..1023 whose four bytes look up as a block
// ID the caller acts on (every ID when `acceptAll`, else all but CFIL and
// SFMB), or -1. An ID at offsets 1,020 to 1,023 is completed from the bytes
// after the window, so `w` must be followed by 64 readable bytes.
#pragma once

#include <cstdint>

namespace ostrel {

int FindBlockHit(const std::uint8_t* w, bool acceptAll);  // the fastest this machine has

// The variants, for tests: each gives the same answer for any bytes.
int FindBlockHitScalar(const std::uint8_t* w, bool acceptAll);
int FindBlockHitSse2(const std::uint8_t* w, bool acceptAll);  // scalar without SSE2
int FindBlockHitAvx2(const std::uint8_t* w, bool acceptAll);  // SSE2 without AVX2
int FindBlockHitAvx512(const std::uint8_t* w, bool acceptAll);  // AVX2 without AVX-512 BW and VBMI
bool HaveAvx2();

}  // namespace ostrel
