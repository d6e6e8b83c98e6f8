// Writes a synthetic BKF file of many small files for the save benchmark:
// COUNT files of 1 to 8 KiB of pseudo-random bytes, 100 to a folder.
//
//   make_save_bench_bkf OUTPUT COUNT
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fixtures/mtf_writer.h"

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stream;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_save_bench_bkf OUTPUT COUNT\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  MtfWriter w;
  w.Tape(u"Bench");
  w.Sset(1, u"Small files");
  w.Volb(u"C:");
  for (unsigned long i = 0; i < count; ++i) {
    if (i % 100 == 0) {
      const std::string folder = "Folder" + std::to_string(i / 100);
      w.Dirb(std::u16string(folder.begin(), folder.end()));
    }
    const std::string name = "file" + std::to_string(i) + ".dat";
    const std::size_t size = 1024 + (i * 2654435761u) % (7 * 1024);
    w.File(std::u16string(name.begin(), name.end()),
           {Stream{"STAN", ostrel::fixtures::Noise(size, static_cast<std::uint32_t>(i + 1)), {}, 0}});
  }
  w.Bare("ESET");
  if (!w.WriteTo(argv[1])) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
