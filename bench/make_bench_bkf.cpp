// Writes a synthetic BKF file for the scan benchmarks: SIZE MiB of mostly
// non-block data (pseudo-random bytes) with descriptor blocks scattered
// through it, followed by an intact part (a tenth of the size) holding many
// small files in folders.
//
//   make_bench_bkf OUTPUT SIZE_MIB
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stream;

namespace {

struct Rng {
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  std::uint64_t Next() {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  }
  void Fill(std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      const std::uint64_t v = Next();
      for (int k = 0; k < 8; ++k) p[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_bench_bkf OUTPUT SIZE_MIB\n");
    return 2;
  }
  const std::uint64_t mib = std::strtoull(argv[2], nullptr, 10);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || mib == 0) {
    std::fprintf(stderr, "make_bench_bkf: cannot write %s\n", argv[1]);
    return 1;
  }
  Rng rng;
  const std::uint64_t damagedMib = mib - mib / 10;
  std::vector<std::uint8_t> chunk(1 << 20);
  std::uint64_t files = 0;
  // The damaged part: noise, and every 4 MiB a volume, folder and file block
  // at an odd offset, as left behind by a half-overwritten backup.
  for (std::uint64_t m = 0; m < damagedMib; ++m) {
    rng.Fill(chunk.data(), chunk.size());
    if (m % 4 == 1) {
      MtfWriter blocks;
      blocks.Volb(u"C:", 0);
      blocks.Dirb(u"Scattered\\Part" + std::u16string(1, static_cast<char16_t>(u'A' + m % 26)), 1024);
      blocks.File(u"piece.dat", {{"STAN", std::vector<std::uint8_t>(3000, 0x55), {}, 0}}, 2048);
      const std::size_t at = 4096 * 7 + 37;
      std::copy(blocks.Bytes().begin(), blocks.Bytes().end(), chunk.begin() + static_cast<std::ptrdiff_t>(at));
      ++files;
    }
    std::fwrite(chunk.data(), 1, chunk.size(), out);
  }
  // The intact part: many small files, a folder every hundred files.
  MtfWriter intact;
  intact.Tape(u"Bench tape");
  intact.Sset(1, u"Intact");
  intact.Volb(u"D:");
  const std::uint64_t intactBytes = (mib - damagedMib) << 20;
  std::uint64_t written = 0;
  int folder = 0;
  std::vector<std::uint8_t> data(1500);
  while (written < intactBytes) {
    if (files % 100 == 0) intact.Dirb(u"Folder" + std::u16string(1, static_cast<char16_t>(u'A' + folder++ % 26)));
    rng.Fill(data.data(), data.size());
    intact.File(u"file.txt", {{"NTOI", std::vector<std::uint8_t>(16, 1), {}, 0}, {"STAN", data, {}, 0}});
    ++files;
    if (intact.Size() >= (8u << 20)) {
      intact.Align(1024);
      written += intact.Size();
      std::fwrite(intact.Bytes().data(), 1, intact.Size(), out);
      intact.Bytes().clear();
    }
  }
  std::fwrite(intact.Bytes().data(), 1, intact.Size(), out);
  std::fclose(out);
  std::fprintf(stderr, "make_bench_bkf: %s, %llu MiB, %llu file blocks\n", argv[1],
               static_cast<unsigned long long>(mib), static_cast<unsigned long long>(files));
  return 0;
}
