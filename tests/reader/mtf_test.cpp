#include "reader/mtf.h"

#include <gtest/gtest.h>

#include <string>

#include "reader/scanner.h"
#include "reader/window_search.h"
#include "tests/fixtures/mtf_writer.h"

namespace ostrel::mtf {
namespace {

using fixtures::MtfWriter;

int Block(const std::string& four) { return FindBlockTag(reinterpret_cast<const std::uint8_t*>(four.data())); }
int StreamTag(const std::string& four) { return FindStreamTag(reinterpret_cast<const std::uint8_t*>(four.data())); }

TEST(TagLookup, BlockIds) {
  const struct {
    std::string bytes;
    int expected;
  } cases[] = {
      {"TAPE", kTape}, {"SSET", kSset}, {"VOLB", kVolb}, {"DIRB", kDirb}, {"FILE", kFile},
      {"CFIL", kCfil}, {"SFMB", kSfmb}, {"ESET", kEset}, {"EOTM", kEotm}, {"ESPB", kEspb},
      {"file", kNotLetter},     // lower-case first letter
      {"FILX", kNoMatch},       // FIL followed by another byte
      {"FIL\0", kNoMatch},
      {"STAN", kNoMatch},       // a stream ID is no block ID
      {"@ABC", kNotLetter}, {"[ABC", kNotLetter},
      {std::string("\xC6ILE", 4), kNotLetter},  // a high byte reads as negative
  };
  for (const auto& c : cases) EXPECT_EQ(Block(c.bytes), c.expected) << c.bytes;
}

TEST(TagLookup, StreamIds) {
  for (int i = 0; i < 17; ++i) EXPECT_EQ(StreamTag(kStreamIds[i]), i) << kStreamIds[i];
  EXPECT_EQ(StreamTag("NTQU"), kNoMatch);  // not in the table
  EXPECT_EQ(StreamTag("1TAN"), kNotLetter);
  EXPECT_EQ(StreamTag(" TAN"), kNotLetter);
  EXPECT_EQ(StreamTag("FILE"), kNoMatch);
}

TEST(Names, CopiedAsUtf16WithOddSizesCompletedByAZeroByte) {
  // A block holding "Ab" at offset 10, and a third unit 'C' of which an odd
  // size keeps only the low byte.
  std::uint8_t block[32] = {};
  const std::uint8_t text[] = {'A', 0, 'b', 0, 'C', 0x01};
  std::copy(std::begin(text), std::end(text), block + 10);
  const ByteView v(block, sizeof block);
  EXPECT_EQ(CopyName(v, 10, 4), u"Ab");
  EXPECT_EQ(CopyName(v, 10, 5), u"AbC");        // 'C' with its high byte zeroed
  EXPECT_EQ(CopyName(v, 10, 6), u"Ab\u0143");   // 0x0143
  EXPECT_EQ(CopyName(v, 10, 0), u"");
  // Cut at the end of the block: the bytes beyond it are not the name's.
  EXPECT_EQ(CopyName(v, 30, 100), u"");
  EXPECT_EQ(CopyNameUnits(v, 28, 100).size(), 2u);
  // A NUL unit ends the name; the units keep it.
  const std::uint8_t dir[] = {'D', 0, 0, 0, 'E', 0, 0, 0};
  const ByteView d(dir, sizeof dir);
  EXPECT_EQ(CopyName(d, 0, 8), u"D");
  EXPECT_EQ(CopyNameUnits(d, 0, 8), std::u16string(u"D\0E\0", 4));
}

TEST(Arithmetic, SaturatesInsteadOfWrapping) {
  EXPECT_EQ(SatAdd(kU64Max - 1, 5), kU64Max);
  EXPECT_EQ(SatAdd(3, 4), 7u);
  EXPECT_EQ(SatRoundUp(kU64Max - 2, 4), kU64Max);
  EXPECT_EQ(SatRoundUp(5, 4), 8u);
  EXPECT_EQ(SatRoundUp(8, 4), 8u);
  // A stream of length 2^64 - 24 after a header at 100 must not wrap back.
  EXPECT_EQ(NextStreamHeader(100, kU64Max - 23), kU64Max);
  EXPECT_EQ(NextStreamHeader(100, 5), 128u);  // 100 + 22 + 5 = 127, rounded up
  EXPECT_EQ(MulDiv(kU64Max, 1000, kU64Max), 1000u);
}

TEST(ByteView, RefusesReadsPastItsEnd) {
  const std::uint8_t b[4] = {1, 2, 3, 4};
  const ByteView v(b, 4);
  EXPECT_EQ(v.U32(0).value(), 0x04030201u);
  EXPECT_FALSE(v.U32(1).has_value());
  EXPECT_FALSE(v.U16(kU64Max).has_value());
  EXPECT_FALSE(v.U64(0).has_value());
  EXPECT_TRUE(v.Has(4, 0));
  EXPECT_FALSE(v.Has(5, 0));
}

}  // namespace
}  // namespace ostrel::mtf

namespace ostrel {
namespace {

// The vectorised window search must give exactly the first offset whose four
// bytes look up as a hit, for any bytes.
int ReferenceHit(const std::uint8_t* w, bool acceptAll) {
  for (int u = 0; u < 1024; ++u) {
    const int tag = mtf::FindBlockTag(w + u);
    if (tag >= 0 && (acceptAll || (tag != mtf::kCfil && tag != mtf::kSfmb))) return u;
  }
  return -1;
}

TEST(WindowSearch, AgreesWithTheByteByByteDefinition) {
  const char* ids[] = {"TAPE", "SSET", "VOLB", "DIRB", "FILE", "CFIL", "SFMB", "ESET", "EOTM", "ESPB",
                       "FILX", "TAPF", "SSEX", "EOT", "DI", "VOLC", "STAN", "CFILE", "SFMBTAPE"};
  std::uint32_t x = 12345;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  std::uint8_t w[1024 + WindowReader::kSlack];
  for (int round = 0; round < 20000; ++round) {
    // Mostly upper-case letters so that candidates are dense.
    for (auto& b : w) b = static_cast<std::uint8_t>(round % 3 == 0 ? next() : 'A' + next() % 26);
    const int plants = static_cast<int>(next() % 4);
    for (int k = 0; k < plants; ++k) {
      const char* id = ids[next() % (sizeof ids / sizeof *ids)];
      const std::size_t at = next() % 1024;
      for (std::size_t i = 0; id[i] != '\0' && at + i < sizeof w; ++i) w[at + i] = static_cast<std::uint8_t>(id[i]);
    }
    for (bool all : {false, true}) {
      const int expected = ReferenceHit(w, all);
      ASSERT_EQ(FindBlockHitScalar(w, all), expected) << "round " << round;
      ASSERT_EQ(FindBlockHitSse2(w, all), expected) << "round " << round;
      ASSERT_EQ(FindBlockHitAvx2(w, all), expected) << "round " << round;  // SSE2 where no AVX2
      ASSERT_EQ(FindBlockHitAvx512(w, all), expected) << "round " << round;  // AVX2 where no AVX-512
      ASSERT_EQ(StandardScanner::FindHit(w, all), expected) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace ostrel

namespace ostrel::mtf {
namespace {

// The date at 56 of a block of `size` bytes holding the 40 bits `packed`.
std::string DateAt56(std::uint64_t packed, std::size_t size = 61) {
  std::vector<std::uint8_t> block(size, 0);
  for (std::size_t i = 0; i < kDateSize && kModifiedDate + i < size; ++i)
    block[kModifiedDate + i] = static_cast<std::uint8_t>(packed >> (8 * (kDateSize - 1 - i)));
  const auto seconds = ReadDate(ByteView(block.data(), block.size()), kModifiedDate);
  return seconds ? IsoDate(*seconds) : "unknown";
}

TEST(Dates, DecodedFromTheirFortyBits) {
  const auto pack = MtfWriter::PackDate;
  const struct {
    std::uint64_t packed;
    const char* expected;
  } cases[] = {
      // The five bytes of boot.ini's FILE block in the real NTBackup sample.
      {0x1f6decb828, "2011-07-22T11:32:40Z"},
      {pack(2011, 7, 22, 11, 32, 40), "2011-07-22T11:32:40Z"},
      {0, "unknown"},
      {pack(16383, 12, 31, 23, 59, 59), "16383-12-31T23:59:59Z"},  // the largest
      {pack(1601, 1, 1, 0, 0, 0), "1601-01-01T00:00:00Z"},         // before 1970
      {pack(2012, 2, 29, 0, 0, 0), "2012-02-29T00:00:00Z"},         // a leap day
      {pack(1970, 1, 1, 0, 0, 0), "1970-01-01T00:00:00Z"},
      // A field out of range: the date is unknown.
      {pack(2011, 0, 22, 11, 32, 40), "unknown"},
      {pack(2011, 13, 22, 11, 32, 40), "unknown"},
      {pack(2011, 15, 22, 11, 32, 40), "unknown"},
      {pack(2011, 7, 0, 11, 32, 40), "unknown"},
      {pack(2011, 4, 31, 11, 32, 40), "unknown"},  // April has 30 days
      {pack(2011, 2, 29, 11, 32, 40), "unknown"},  // not a leap year
      {pack(1900, 2, 29, 11, 32, 40), "unknown"},  // nor is 1900
      {pack(2011, 7, 22, 24, 32, 40), "unknown"},
      {pack(2011, 7, 22, 31, 32, 40), "unknown"},
      {pack(2011, 7, 22, 11, 60, 40), "unknown"},
      {pack(2011, 7, 22, 11, 32, 60), "unknown"},
      {pack(2011, 7, 22, 11, 63, 63), "unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(DateAt56(c.packed), c.expected) << std::hex << c.packed;
  // A block cut short of the date's last byte has none.
  EXPECT_EQ(DateAt56(0x1f6decb828, 60), "unknown");
}

}  // namespace
}  // namespace ostrel::mtf
