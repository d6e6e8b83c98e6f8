// Writes a BKF file in which every 1,024-byte window holds a valid-looking
// FILE block with a 3-byte data stream, a 9-character name (f00000000,
// f00000001, ...) and a modification date: the worst case for the
// catalogue's memory.
//
//   make_window_files_bkf OUTPUT COUNT
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stream;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_window_files_bkf OUTPUT COUNT\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  MtfWriter head;
  head.Tape(u"Tape");
  head.Sset(1, u"Set");
  head.Volb(u"C:");
  head.Dirb(u"Docs");
  head.Align(1024);
  // One window, its name found again by its UTF-16 bytes and rewritten for
  // every copy (names lie outside the header's checksum).
  MtfWriter one;
  Stream data;
  data.id = "STAN";
  data.data = {1, 2, 3};
  one.SetDate(one.File(u"f00000000", {data}), MtfWriter::PackDate(2011, 7, 22, 11, 32, 40));
  one.PadTo(1024);
  std::vector<std::uint8_t> window(one.Bytes().begin(), one.Bytes().begin() + 1024);
  const std::vector<std::uint8_t> pattern = ostrel::fixtures::Utf16Bytes(u"f00000000");
  std::size_t at = 0;
  while (at + pattern.size() <= window.size() &&
         !std::equal(pattern.begin(), pattern.end(), window.begin() + static_cast<std::ptrdiff_t>(at))) {
    ++at;
  }
  if (at + pattern.size() > window.size()) return 1;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 1;
  std::fwrite(head.Bytes().data(), 1, head.Bytes().size(), out);
  for (unsigned long i = 0; i < count; ++i) {
    unsigned long n = i;
    for (int d = 8; d >= 1; --d, n /= 10) window[at + 2 * d] = static_cast<std::uint8_t>('0' + n % 10);
    std::fwrite(window.data(), 1, window.size(), out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
