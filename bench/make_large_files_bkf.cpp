// Writes an intact synthetic BKF file of large files (64 KiB to MAX_KIB each,
// 4 MiB unless given; a folder every twenty files) for the scan benchmark:
// here a scan that jumps over each file's data reads little more than the
// block headers.
//
//   make_large_files_bkf OUTPUT SIZE_MIB [MAX_KIB]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Noise;

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: make_large_files_bkf OUTPUT SIZE_MIB [MAX_KIB]\n");
    return 2;
  }
  const std::uint64_t mib = std::strtoull(argv[2], nullptr, 10);
  const std::size_t maxSize = argc == 4 ? std::strtoull(argv[3], nullptr, 10) << 10 : std::size_t{4} << 20;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || mib == 0 || maxSize <= (64u << 10) || maxSize > (4u << 20)) {
    std::fprintf(stderr, "make_large_files_bkf: cannot write %s\n", argv[1]);
    return 1;
  }
  // One block of noise, cut into file data of varying sizes.
  const std::vector<std::uint8_t> noise = Noise(4u << 20, 7);
  MtfWriter w;
  w.Tape(u"Large files");
  w.Sset(1, u"Media");
  w.Volb(u"E:");
  std::uint64_t written = 0, files = 0;
  std::uint32_t x = 12345;
  while (written + w.Size() < (mib << 20)) {
    if (files % 20 == 0) w.Dirb(u"Album" + std::u16string(1, static_cast<char16_t>(u'A' + files / 20 % 26)));
    x = x * 1103515245u + 12345u;
    const std::size_t size = (64u << 10) + (x >> 8) % (maxSize - (64u << 10));
    w.File(u"track.bin", {{"NTOI", std::vector<std::uint8_t>(16, 1), {}, 0},
                          {"STAN", std::vector<std::uint8_t>(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(size)), {}, 0}});
    ++files;
    w.Align(1024);
    written += w.Size();
    std::fwrite(w.Bytes().data(), 1, w.Size(), out);
    w.Bytes().clear();
  }
  std::fclose(out);
  std::fprintf(stderr, "make_large_files_bkf: %s, %llu MiB, %llu files\n", argv[1],
               static_cast<unsigned long long>(mib), static_cast<unsigned long long>(files));
  return 0;
}
