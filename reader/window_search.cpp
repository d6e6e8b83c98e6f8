#include "reader/window_search.h"

#include "reader/mtf.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel {
namespace {

constexpr std::size_t kWindow = 1024;

// The tags the standard scanner acts on: every block ID but CFIL and SFMB.
inline bool IsHit(int tag, bool acceptAll) {
  return tag >= 0 && (acceptAll || (tag != mtf::kCfil && tag != mtf::kSfmb));
}

// Most offsets are rejected without a table look-up: a block ID starts with
// one of C D E F S T V (C..F or S..V) and its second letter is one of
// A F I O S. A vector of offsets is tested at once; the window is followed by
// readable slack, and candidates are confirmed with the full look-up.
int ConfirmCandidates(const std::uint8_t* w, std::size_t base, unsigned mask, bool acceptAll) {
  while (mask != 0) {
    const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
    mask &= mask - 1;
    if (IsHit(mtf::FindBlockTag(w + base + bit), acceptAll)) return static_cast<int>(base + bit);
  }
  return -1;
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) int Avx2Search(const std::uint8_t* w, bool acceptAll) {
  const __m256i c = _mm256_set1_epi8('C'), s = _mm256_set1_epi8('S'), three = _mm256_set1_epi8(3);
  const __m256i lA = _mm256_set1_epi8('A'), lF = _mm256_set1_epi8('F'), lI = _mm256_set1_epi8('I'),
                lO = _mm256_set1_epi8('O'), lS = _mm256_set1_epi8('S');
  for (std::size_t base = 0; base < kWindow; base += 32) {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + base));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + base + 1));
    const __m256i t1 = _mm256_sub_epi8(first, c);
    const __m256i t2 = _mm256_sub_epi8(first, s);
    const __m256i firstOk = _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(t1, three), t1),
                                            _mm256_cmpeq_epi8(_mm256_min_epu8(t2, three), t2));
    const __m256i secondOk = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(second, lA), _mm256_cmpeq_epi8(second, lF)),
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(second, lI), _mm256_cmpeq_epi8(second, lO)),
                        _mm256_cmpeq_epi8(second, lS)));
    const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(firstOk, secondOk)));
    if (mask != 0) {
      const int hit = ConfirmCandidates(w, base, mask, acceptAll);
      if (hit >= 0) return hit;
    }
  }
  return -1;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

bool HaveAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
  return kHaveAvx2;
#else
  return false;
#endif
}

int FindBlockHitAvx2(const std::uint8_t* w, bool acceptAll) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (kHaveAvx2) return Avx2Search(w, acceptAll);
#endif
  return FindBlockHitSse2(w, acceptAll);
}

int FindBlockHitSse2(const std::uint8_t* w, bool acceptAll) {
#if defined(__SSE2__)
  const __m128i c = _mm_set1_epi8('C'), s = _mm_set1_epi8('S'), three = _mm_set1_epi8(3);
  const __m128i lA = _mm_set1_epi8('A'), lF = _mm_set1_epi8('F'), lI = _mm_set1_epi8('I'),
                lO = _mm_set1_epi8('O'), lS = _mm_set1_epi8('S');
  for (std::size_t base = 0; base < kWindow; base += 16) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + base));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + base + 1));
    const __m128i t1 = _mm_sub_epi8(first, c);
    const __m128i t2 = _mm_sub_epi8(first, s);
    const __m128i firstOk = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(t1, three), t1),
                                         _mm_cmpeq_epi8(_mm_min_epu8(t2, three), t2));
    const __m128i secondOk = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(second, lA), _mm_cmpeq_epi8(second, lF)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(second, lI), _mm_cmpeq_epi8(second, lO)),
                     _mm_cmpeq_epi8(second, lS)));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(firstOk, secondOk)));
    if (mask != 0) {
      const int hit = ConfirmCandidates(w, base, mask, acceptAll);
      if (hit >= 0) return hit;
    }
  }
  return -1;
#else
  return FindBlockHitScalar(w, acceptAll);
#endif
}

int FindBlockHitScalar(const std::uint8_t* w, bool acceptAll) {
  for (std::size_t u = 0; u < kWindow; ++u) {
    if (IsHit(mtf::FindBlockTag(w + u), acceptAll)) return static_cast<int>(u);
  }
  return -1;
}

int FindBlockHit(const std::uint8_t* w, bool acceptAll) { return FindBlockHitAvx2(w, acceptAll); }

}  // namespace ostrel
