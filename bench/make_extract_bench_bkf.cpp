// Writes a synthetic BKF file holding one large file, for the extraction
// benchmark:
//
//   make_extract_bench_bkf OUTPUT plain SIZE_MIB   SIZE_MIB of pseudo-random
//                                                  bytes in one STAN stream
//   make_extract_bench_bkf OUTPUT lzs SIZE_MIB     SIZE_MIB of text-like data
//                                                  stored as LZS frames
//
// The data is streamed to the file; only the LZS frames of the compressed
// file are gathered in memory first (the stream's length precedes them).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stream;

namespace {

// Lines of words and numbers, like a log or a document (LZS packs them to
// about a third); `seed` picks the lines.
void AppendText(std::vector<std::uint8_t>& out, std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {
      "invoice", "customer", "the", "order", "shipped", "payment", "received", "account",
      "balance", "of", "and", "report", "quarterly", "warehouse", "delivery", "pending",
      "approved", "contract", "supplier", "total", "net", "tax", "item", "quantity"};
  const std::size_t end = out.size() + size;
  // Eight random bytes a line; a line is at least 20 bytes long.
  const std::vector<std::uint8_t> noise = ostrel::fixtures::Noise(size / 2 + 8, seed);
  for (std::size_t at = 0; out.size() < end; at += 8) {
    std::uint64_t r = 0;
    std::memcpy(&r, noise.data() + at, 8);
    std::string line = std::to_string(r % 100000) + " ";
    for (int w = 0; w < 6 + static_cast<int>(r >> 60); ++w) {
      line += kWords[(r >> (w * 5 % 60)) % (sizeof kWords / sizeof kWords[0])];
      line += ' ';
    }
    line += std::to_string((r >> 20) % 1000) + "." + std::to_string((r >> 40) % 100) + "\n";
    out.insert(out.end(), line.begin(), line.end());
  }
  out.resize(end);
}

bool Write(std::FILE* f, const std::vector<std::uint8_t>& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[2]) != "plain" && std::string(argv[2]) != "lzs")) {
    std::fprintf(stderr, "usage: make_extract_bench_bkf OUTPUT plain|lzs SIZE_MIB\n");
    return 2;
  }
  const bool lzs = std::string(argv[2]) == "lzs";
  const std::uint64_t size = std::strtoull(argv[3], nullptr, 10) << 20;
  std::vector<std::uint8_t> frames;
  if (lzs) {
    // Frames of 63,488 bytes, each able to refer back into the one before.
    std::vector<std::uint8_t> previous, data;
    for (std::uint64_t done = 0; done < size; done += data.size()) {
      data.clear();
      AppendText(data, static_cast<std::size_t>(std::min<std::uint64_t>(63488, size - done)),
                 static_cast<std::uint32_t>(done / 63488 + 1));
      const std::vector<std::uint8_t> packed = ostrel::fixtures::LzsCompress(data, previous);
      const bool stored = packed.size() >= data.size();
      const auto header = ostrel::fixtures::FrameHeader(
          static_cast<std::uint32_t>(data.size()),
          static_cast<std::uint32_t>(stored ? data.size() : packed.size()));
      frames.insert(frames.end(), header.begin(), header.end());
      frames.insert(frames.end(), stored ? data.begin() : packed.begin(),
                    stored ? data.end() : packed.end());
      previous = stored ? std::vector<std::uint8_t>{} : data;
    }
  }
  const std::uint64_t streamLength = lzs ? frames.size() : size;

  // The blocks before the data, cut where the data begins.
  MtfWriter w;
  w.Tape(u"Bench tape");
  w.Sset(1, u"Bench set");
  w.Volb(u"C:");
  w.Dirb(u"Data");
  const std::u16string name = lzs ? u"text.log" : u"disk.img";
  Stream stan;
  stan.id = "STAN";
  stan.length = streamLength;
  const std::uint64_t file = w.File(name, {stan});
  w.Bytes().resize(file + MtfWriter::FirstEventFor(name.size() * 2) + 22);

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || !Write(out, w.Bytes())) {
    std::perror(argv[1]);
    return 1;
  }
  bool ok = true;
  if (lzs) {
    ok = Write(out, frames);
  } else {
    for (std::uint64_t done = 0; ok && done < size; done += 1 << 20) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, size - done));
      ok = Write(out, ostrel::fixtures::Noise(n, static_cast<std::uint32_t>(done >> 20) + 1));
    }
  }
  // Then the end of the set, on the next 1,024-byte boundary.
  const std::uint64_t end = w.Size() + streamLength;
  MtfWriter tail;
  tail.PadTo((1024 - end % 1024) % 1024);
  tail.Bare("ESET", tail.Size());
  tail.PadTo(tail.Size() + 1024 - tail.Size() % 1024);
  ok = ok && Write(out, tail.Bytes());
  if (std::fclose(out) != 0 || !ok) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%s: %s file of %llu bytes in a stream of %llu bytes\n", argv[1], lzs ? "LZS" : "plain",
              static_cast<unsigned long long>(size), static_cast<unsigned long long>(streamLength));
  return 0;
}
