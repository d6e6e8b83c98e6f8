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
// one of C D E F S T V and its second letter is one of A F I O S. A vector of
// offsets is tested at once (with a looser first-letter test where that is
// cheaper; the AVX-512 search tests the two letters as the pairs the IDs
// begin with); the window is followed by readable slack, and candidates are
// confirmed with the full look-up. Out of line, so that the vector loops
// keep their registers while no candidate turns up.
[[gnu::noinline]] int ConfirmCandidates(const std::uint8_t* w, std::size_t base, std::uint64_t mask, bool acceptAll) {
  while (mask != 0) {
    const auto bit = static_cast<std::size_t>(__builtin_ctzll(mask));
    mask &= mask - 1;
    if (IsHit(mtf::FindBlockTag(w + base + bit), acceptAll)) return static_cast<int>(base + bit);
  }
  return -1;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Bit k of the answer: offset k of the 32 may start a block ID. First
// letter: the range C..V (three operations). Second letter: exactly one of
// A F I O S, by nibble tables: a byte is in the set when the bit its low
// nibble allows meets the bit its high nibble stands for (4x: bit 0, 5x:
// bit 1, any other high nibble none).
__attribute__((target("avx2"), always_inline)) inline std::uint32_t Avx2Candidates(const std::uint8_t* p) {
  const __m256i c = _mm256_set1_epi8('C'), span = _mm256_set1_epi8('V' - 'C');
  const __m256i lowTable = _mm256_setr_epi8(0, 1, 0, 2, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1,  //
                                            0, 1, 0, 2, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1);
  const __m256i highTable = _mm256_setr_epi8(0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                             0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F), zero = _mm256_setzero_si256();
  const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
  const __m256i t = _mm256_sub_epi8(first, c);
  const __m256i firstOk = _mm256_cmpeq_epi8(_mm256_min_epu8(t, span), t);
  const __m256i lowBits = _mm256_shuffle_epi8(lowTable, _mm256_and_si256(second, nibble));
  const __m256i highBits = _mm256_shuffle_epi8(highTable, _mm256_and_si256(_mm256_srli_epi16(second, 4), nibble));
  const __m256i secondOut = _mm256_cmpeq_epi8(_mm256_and_si256(lowBits, highBits), zero);
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_andnot_si256(secondOut, firstOk)));
}

__attribute__((target("avx2"))) int Avx2Search(const std::uint8_t* w, bool acceptAll) {
  // Sixty-four offsets a round, one branch for both halves.
  for (std::size_t base = 0; base < kWindow; base += 64) {
    const std::uint32_t low = Avx2Candidates(w + base);
    const std::uint32_t high = Avx2Candidates(w + base + 32);
    if ((low | high) == 0) continue;
    int hit = low != 0 ? ConfirmCandidates(w, base, low, acceptAll) : -1;
    if (hit < 0 && high != 0) hit = ConfirmCandidates(w, base + 32, high, acceptAll);
    if (hit >= 0) return hit;
  }
  return -1;
}

// The first two letters of the IDs as pairs, exactly: each first letter
// looks up the set of second letters it begins an ID with (a bit each for
// A, F, I, O and S), each second letter its own bit, and an offset is a
// candidate when the two meet. The CFIL and SFMB pairs only count when
// every ID does.
struct PairTables {
  std::uint8_t first[128] = {};
  std::uint8_t second[128] = {};
};

constexpr PairTables MakePairTables(bool acceptAll) {
  PairTables t;
  const auto bit = [](char letter) -> std::uint8_t {
    switch (letter) {
      case 'A': return 1;
      case 'F': return 2;
      case 'I': return 4;
      case 'O': return 8;
      default: return 16;  // 'S'
    }
  };
  for (std::size_t i = 0; i < std::size(mtf::kBlockIds); ++i) {
    if (!acceptAll && (i == mtf::kCfil || i == mtf::kSfmb)) continue;
    const char* id = mtf::kBlockIds[i];
    t.first[static_cast<unsigned char>(id[0])] |= bit(id[1]);
    t.second[static_cast<unsigned char>(id[1])] |= bit(id[1]);
  }
  return t;
}

constexpr PairTables kPairsActed = MakePairTables(false);
constexpr PairTables kPairsAll = MakePairTables(true);

// Sixty-four offsets a round, from one load of the bytes that follow them:
// bytes from 0x80 on are clamped to 0x80, which looks up no bits (a byte
// permute reads seven bits of its index; the tables' first half is empty,
// since every letter lies above 0x40); the second letters are the first
// ones moved down by a byte, with the next round's first byte shifted in.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int Avx512Search(const std::uint8_t* w, bool acceptAll) {
  const PairTables& t = acceptAll ? kPairsAll : kPairsActed;
  const __m512i firstTable = _mm512_loadu_si512(t.first + 64), secondTable = _mm512_loadu_si512(t.second + 64);
  const __m512i none = _mm512_setzero_si512(), top = _mm512_set1_epi8(static_cast<char>(0x80));
  const __m512i next = _mm512_set_epi8(64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45,
                                       44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25,
                                       24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3,
                                       2, 1);
  __m512i first = _mm512_min_epu8(_mm512_loadu_si512(w), top);
  for (std::size_t base = 0; base < kWindow; base += 64) {
    const __m512i following = _mm512_min_epu8(_mm512_loadu_si512(w + base + 64), top);
    const __m512i second = _mm512_permutex2var_epi8(first, next, following);
    const std::uint64_t mask = _mm512_test_epi8_mask(_mm512_permutex2var_epi8(none, first, firstTable),
                                                     _mm512_permutex2var_epi8(none, second, secondTable));
    if (mask != 0) {
      const int hit = ConfirmCandidates(w, base, mask, acceptAll);
      if (hit >= 0) return hit;
    }
    first = following;
  }
  return -1;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
const bool kHaveAvx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                         __builtin_cpu_supports("avx512vbmi");
#endif

}  // namespace

bool HaveAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
  return kHaveAvx2;
#else
  return false;
#endif
}

int FindBlockHitAvx512(const std::uint8_t* w, bool acceptAll) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (kHaveAvx512) return Avx512Search(w, acceptAll);
#endif
  return FindBlockHitAvx2(w, acceptAll);
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

int FindBlockHit(const std::uint8_t* w, bool acceptAll) { return FindBlockHitAvx512(w, acceptAll); }

}  // namespace ostrel
