// Reading a backup on a failing disk: bad pieces read as zeros and are
// remembered, every readable byte around them is delivered, the scanners lose
// only the blocks whose headers lie in bad pieces, and extraction says which
// files hold zeros for unreadable data or were cut short by the end of the
// backup.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reader/advanced_scanner.h"
#include "reader/bkf_file.h"
#include "reader/extract.h"
#include "reader/scanner.h"
#include "tests/fixtures/failing_disk.h"
#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::FailingDisk;
using fixtures::MtfWriter;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;
using Bytes = std::vector<std::uint8_t>;
using Ranges = std::vector<ByteRange>;

constexpr std::uint64_t kPiece = BkfFile::kPieceSize;

// ------------------------------------------------------------------ BkfFile

TEST(FailingDiskRead, OnlyTheBadPiecesReadAsZeros) {
  TempDir dir;
  const Bytes content = fixtures::Noise(64 * 1024, 7);
  MtfWriter w;
  w.Append(content);
  const std::string path = dir.Write(w);
  struct Case {
    const char* name;
    Ranges bad;
    std::uint64_t position, count;
    Ranges zeros;  // expected unreadable ranges, which read as zeros
  };
  const Case cases[] = {
      {"one bad piece inside the request", {{8192, 4096}}, 1000, 20000, {{8192, 4096}}},
      {"a bad range not aligned to pieces loses its whole pieces",
       {{9000, 100}},
       0,
       32768,
       {{9000, 3288}}},  // from where the reads fail to the end of its piece
      {"the request starts inside a bad range", {{4096, 8192}}, 5000, 10000, {{5000, 7288}}},
      {"two bad ranges, readable bytes between them", {{4096, 4096}, {16384, 4096}}, 0, 32768,
       {{4096, 4096}, {16384, 4096}}},
      {"a bad range beside the request is not met", {{40960, 4096}}, 0, 40960, {}},
      {"the request ends inside a bad piece", {{12288, 4096}}, 0, 14000, {{12288, 1712}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FailingDisk disk(c.bad);
    BkfFile file;
    file.SetReader(disk.Reader());
    ASSERT_TRUE(file.Open(path));
    Bytes buffer(c.count, 0xAA);
    ReadDamage damage;
    EXPECT_EQ(file.ReadAt(c.position, buffer.data(), buffer.size(), &damage), c.count);
    Bytes expected(content.begin() + static_cast<std::ptrdiff_t>(c.position),
                   content.begin() + static_cast<std::ptrdiff_t>(c.position + c.count));
    std::uint64_t zeroBytes = 0;
    for (const ByteRange& z : c.zeros) {
      std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(z.offset - c.position), z.length, 0);
      zeroBytes += z.length;
    }
    EXPECT_TRUE(buffer == expected);
    EXPECT_EQ(file.Unreadable().ranges, c.zeros);
    EXPECT_EQ(file.Unreadable().bytes, zeroBytes);
    EXPECT_EQ(damage.unreadableBytes, zeroBytes);
    if (!c.zeros.empty()) {
      EXPECT_EQ(damage.firstUnreadable, c.zeros.front().offset);
    }
    // Each bad piece fails twice at most: the read that met it and one retry.
    EXPECT_LE(disk.Failures(), 2 * ((zeroBytes + kPiece - 1) / kPiece + c.zeros.size()));
  }
}

TEST(FailingDiskRead, AReadThatSucceedsCostsOneCall) {
  TempDir dir;
  MtfWriter w;
  w.Append(fixtures::Noise(300000, 3));
  FailingDisk disk({{200000, 4096}});
  BkfFile file;
  file.SetReader(disk.Reader());
  ASSERT_TRUE(file.Open(dir.Write(w)));
  Bytes buffer(100000);
  file.ReadAt(10000, buffer.data(), buffer.size());
  EXPECT_EQ(disk.Calls(), 1u);
  EXPECT_FALSE(file.Unreadable().Any());
}

TEST(FailingDiskRead, AHoleIsNotReadAndTheDataAroundItIs) {
  // 64 KiB of data, a 1 MiB hole, 64 KiB of data.
  constexpr std::uint64_t kHole = 64 * 1024, kTail = kHole + (1u << 20);
  Bytes image(kTail, 0);
  const Bytes head = fixtures::Noise(kHole, 5), tail = fixtures::Noise(64 * 1024, 6);
  std::copy(head.begin(), head.end(), image.begin());
  image.insert(image.end(), tail.begin(), tail.end());
  TempDir dir;
  const std::string path = dir.File("sparse.bkf");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(head.data(), 1, head.size(), f);
    ::fseeko(f, static_cast<off_t>(kTail), SEEK_SET);
    std::fwrite(tail.data(), 1, tail.size(), f);
    std::fclose(f);
  }
  BkfFile file;
  FailingDisk disk;
  file.SetReader(disk.Reader());
  ASSERT_TRUE(file.Open(path));
  {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
    ::close(fd);
    if (hole != static_cast<off_t>(kHole)) GTEST_SKIP() << "the file system keeps no holes";
  }
  struct Case {
    const char* name;
    std::uint64_t position, count, calls;
  };
  const Case cases[] = {
      {"the data before the hole", 0, kHole, 1},
      {"inside the hole: nothing is read", kHole + 4096, 512 * 1024, 0},
      {"across the hole's end", kTail - 100000, 150000, 1},
      {"the data after the hole", kTail, 64 * 1024, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t before = disk.Calls();
    Bytes buffer(c.count, 0xAA);
    EXPECT_EQ(file.ReadAt(c.position, buffer.data(), buffer.size()), c.count);
    EXPECT_EQ(disk.Calls() - before, c.calls);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin() + static_cast<std::ptrdiff_t>(c.position)));
  }
}

TEST(FailingDiskRead, ManyBadSectorsAreCountedBeyondTheOnesRemembered) {
  TempDir dir;
  const std::uint64_t count = BkfFile::kMaxRememberedRanges + 500;
  MtfWriter w;
  w.PadTo(count * 2 * kPiece);
  Ranges bad;
  for (std::uint64_t i = 0; i < count; ++i) bad.push_back({(2 * i + 1) * kPiece, 512});
  FailingDisk disk(bad);
  BkfFile file;
  file.SetReader(disk.Reader());
  ASSERT_TRUE(file.Open(dir.Write(w)));
  Bytes buffer(w.Size());
  file.ReadAt(0, buffer.data(), buffer.size());
  const UnreadableSummary s = file.Unreadable();
  EXPECT_EQ(s.ranges.size(), BkfFile::kMaxRememberedRanges);
  EXPECT_EQ(s.rangeCount, count);
  EXPECT_EQ(s.bytes, count * kPiece);
  EXPECT_EQ(s.ranges.front(), (ByteRange{kPiece, kPiece}));
  EXPECT_EQ(UnreadableLine(s), "Unreadable: " + GroupDigits(count * kPiece) + " bytes in " +
                                   GroupDigits(count) + " ranges (input/output error); the first at offset 4096");

  // Reading the same bad pieces again adds nothing for the remembered ones,
  // and neighbouring pieces merge into one range.
  BkfFile again;
  FailingDisk two({{0, 2 * kPiece}});
  again.SetReader(two.Reader());
  ASSERT_TRUE(again.Open(dir.File("test.bkf")));
  for (int round = 0; round < 2; ++round) {
    again.ReadAt(0, buffer.data(), 3 * kPiece);
    again.ReadAt(kPiece, buffer.data(), 10);
  }
  EXPECT_EQ(again.Unreadable().ranges, (Ranges{{0, 2 * kPiece}}));
  EXPECT_EQ(again.Unreadable().rangeCount, 1u);
}

TEST(FailingDiskRead, StopEndsTheWorkAroundBadPieces) {
  TempDir dir;
  MtfWriter w;
  w.PadTo(1 << 20);
  FailingDisk disk({{0, 1 << 20}});  // every piece fails
  StopToken stop;
  disk.OnFailure([&] { stop.RequestStop(); });
  BkfFile file;
  file.SetReader(disk.Reader());
  file.SetStopToken(&stop);
  ASSERT_TRUE(file.Open(dir.Write(w)));
  Bytes buffer(1 << 20, 0xAA);
  file.ReadAt(0, buffer.data(), buffer.size());
  EXPECT_EQ(disk.Failures(), 1u);
  EXPECT_EQ(buffer, Bytes(1 << 20, 0));
  EXPECT_FALSE(file.Unreadable().Any());  // stopped, not found unreadable
}

// ------------------------------------------------------------------ scanning

struct Backup {
  MtfWriter w;
  std::vector<std::uint64_t> blocks;  // FILE block positions
  std::vector<std::string> names;
};

// Twelve files of 10,000 bytes each, in one folder: their blocks lie about
// 11 KiB apart, so one bad piece touches at most one block.
Backup TwelveFiles() {
  Backup b;
  b.w.Tape(u"Tape");
  b.w.Sset(1, u"Set");
  b.w.Volb(u"C:");
  for (int i = 0; i < 12; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    b.blocks.push_back(b.w.File(std::u16string(name.begin(), name.end()),
                                {Stan(fixtures::Noise(10000, static_cast<std::uint32_t>(i + 1)))}));
    b.names.push_back(name);
  }
  b.w.Bare("ESET");
  return b;
}

std::vector<std::string> FileNames(const Catalogue& cat) {
  std::vector<std::string> names;
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) names.push_back(Utf16ToUtf8(cat.FileAt(i).name));
  return names;
}

std::uint64_t PieceOf(std::uint64_t position) { return position / kPiece * kPiece; }

TEST(FailingDiskScan, LosesOnlyTheBlocksWhoseHeadersAreUnreadable) {
  const Backup b = TwelveFiles();
  TempDir dir;
  const std::string path = dir.Write(b.w);
  struct Case {
    const char* name;
    Ranges bad;
    std::vector<int> lost;  // files whose block is lost
  };
  const std::uint64_t data5 = b.blocks[5] + 1024;  // inside file 5's data
  const Case cases[] = {
      {"in a file's data", {{PieceOf(data5) + kPiece, kPiece}}, {}},
      {"ending just before a block's piece", {{PieceOf(b.blocks[7]) - kPiece, kPiece}}, {}},
      {"on a block header", {{PieceOf(b.blocks[3]), kPiece}}, {3}},
      {"from a file's data across the next block", {{PieceOf(b.blocks[9]) - kPiece, 2 * kPiece}}, {9}},
      {"across the read-ahead boundary", {{(128 << 10) - kPiece, 2 * kPiece}}, {}},
      {"two blocks' headers", {{PieceOf(b.blocks[2]), kPiece}, {PieceOf(b.blocks[10]), kPiece}}, {2, 10}},
  };
  for (bool advanced : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(advanced ? "advanced: " : "standard: ") + c.name);
      std::vector<std::string> expected;
      for (int i = 0; i < 12; ++i) {
        if (std::find(c.lost.begin(), c.lost.end(), i) == c.lost.end()) expected.push_back(b.names[i]);
      }
      StopToken stop;
      RecoverySession session;
      const auto scanner = fixtures::NewScanner(advanced ? RecoveryMode::Advanced : RecoveryMode::Standard, session, stop);
      FailingDisk disk(c.bad);
      scanner->SetFileReader(disk.Reader());
      ASSERT_EQ(scanner->Scan(path), 1);
      EXPECT_EQ(FileNames(scanner->Session().catalogue), expected);
      // The bad ranges on block headers are read, and remembered.
      for (int i : c.lost) {
        const auto& ranges = scanner->Session().file.Unreadable().ranges;
        EXPECT_TRUE(std::any_of(ranges.begin(), ranges.end(), [&](const ByteRange& r) {
          return r.offset <= b.blocks[static_cast<std::size_t>(i)] &&
                 b.blocks[static_cast<std::size_t>(i)] < r.offset + r.length;
        }));
      }
    }
  }
}

TEST(FailingDiskScan, ProgressMovesAndStopEndsTheScanWhileBadPiecesAreReadAround) {
  const Backup b = TwelveFiles();
  TempDir dir;
  const std::string path = dir.Write(b.w);
  const std::uint64_t badStart = PieceOf(b.blocks[4]);
  for (bool advanced : {false, true}) {
    SCOPED_TRACE(advanced ? "advanced" : "standard");
    // Sixteen bad pieces: each is reported as it is given up, not only when
    // the read that met them is over.
    {
      StopToken stop;
      RecoverySession session;
      const auto scanner = fixtures::NewScanner(advanced ? RecoveryMode::Advanced : RecoveryMode::Standard, session, stop);
      FailingDisk disk({{badStart, 16 * kPiece}});
      scanner->SetFileReader(disk.Reader());
      struct Recorder : ScanListener {
        const FailingDisk* disk = nullptr;
        std::vector<std::uint64_t> failuresAtReport;
        void OnProgress(const ProgressReport&) override { failuresAtReport.push_back(disk->Failures()); }
      } listener;
      listener.disk = &disk;
      scanner->SetListener(&listener);
      ASSERT_EQ(scanner->Scan(path), 1);
      std::vector<std::uint64_t> seen = listener.failuresAtReport;
      seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
      EXPECT_GE(seen.size(), 16u);
    }
    // Stop at the first failure: no bad piece is tried again.
    {
      StopToken stop;
      RecoverySession session;
      const auto scanner = fixtures::NewScanner(advanced ? RecoveryMode::Advanced : RecoveryMode::Standard, session, stop);
      FailingDisk disk({{badStart, 16 * kPiece}});
      disk.OnFailure([&] { stop.RequestStop(); });
      scanner->SetFileReader(disk.Reader());
      ASSERT_EQ(scanner->Scan(path), 1);
      EXPECT_EQ(disk.Failures(), 1u);
      EXPECT_LE(scanner->Session().catalogue.FileCount(), 4u);
    }
  }
}

TEST(FailingDiskScan, AFileThatShrinksDuringTheScanIsNoted) {
  const Backup b = TwelveFiles();
  TempDir dir;
  MtfWriter big = b.w;
  big.PadTo(1 << 20);  // past the first read-ahead
  const std::string path = dir.Write(big);
  StopToken stop;
  RecoverySession scannerSession;
  StandardScanner scanner(scannerSession, stop);
  bool cut = false;
  struct Cutter : ScanListener {
    std::function<void()> onProgress;
    void OnProgress(const ProgressReport&) override { onProgress(); }
  } listener;
  listener.onProgress = [&] {
    if (!cut) cut = ::truncate(path.c_str(), 300000) == 0;
  };
  scanner.SetListener(&listener);
  ASSERT_EQ(scanner.Scan(path), 1);
  ASSERT_TRUE(cut);
  EXPECT_EQ(scanner.Session().file.ShrunkTo(), 300000u);
  EXPECT_EQ(ShrunkLine(scanner.Session().file), "the file became shorter during the scan (now 300,000 bytes)");
  EXPECT_FALSE(scanner.Session().file.Unreadable().Any());
}

// ---------------------------------------------------------------- extraction

struct Extracted {
  ExtractOutcome outcome;
  Bytes output;
  ExtractStats stats;
};

Extracted ExtractWith(const TempDir& dir, const MtfWriter& w, const FileNode& node, const Ranges& bad) {
  FailingDisk disk(bad);
  BkfFile file;
  file.SetReader(disk.Reader());
  EXPECT_TRUE(file.Open(dir.Write(w)));
  StopToken stop;
  Extracted e;
  const std::string out = dir.File("out.bin");
  e.outcome = ExtractFileData(node, file, out, std::nullopt, stop, &e.stats);
  FILE* f = std::fopen(out.c_str(), "rb");
  if (f != nullptr) {
    int ch;
    while ((ch = std::fgetc(f)) != EOF) e.output.push_back(static_cast<std::uint8_t>(ch));
    std::fclose(f);
  }
  return e;
}

FileNode NodeFor(std::uint64_t block, const char16_t* name) {
  FileNode n;
  n.dataPosition = block + MtfWriter::FirstEventFor(std::u16string_view(name).size() * 2) + 22;
  return n;
}

TEST(FailingDiskExtract, UnreadableDataIsWrittenAsZerosAndCounted) {
  TempDir dir;
  const Bytes plain = fixtures::Noise(300000, 5);
  Bytes text;
  for (int i = 0; text.size() < 200000; ++i) {
    const std::string line = "line " + std::to_string(i * 7919 % 9973) + " of the quarterly report\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  text.resize(200000);
  // Frames of 16,000 bytes (not a multiple of 2,048): none refers back into
  // the one before it, so a damaged frame spoils only its own bytes.
  constexpr std::uint32_t kFrame = 16000;
  const Bytes frames = fixtures::CompressFrames(text, kFrame);
  std::vector<std::uint64_t> headers;  // offsets of the frame headers in the data
  for (std::uint64_t at = 0; at + 24 <= frames.size();) {
    headers.push_back(at);
    at += 24 + ByteView(frames.data(), frames.size()).U32(at + 16).value_or(0);
  }
  ASSERT_GT(headers.size(), 6u);

  struct Case {
    const char* name;
    bool compressed;
    // The bad range, from the data position; the zeros come from its start
    // to the end of its piece.
    std::function<std::uint64_t(std::uint64_t dataPosition)> badAt;
    std::function<void(const Bytes& output, std::uint64_t badOffsetInData, std::uint64_t zeros)> check;
    // Bytes counted unreadable: to the end of the bad piece, or of the read
    // that met it (a 24-byte frame header).
    std::uint64_t unreadable;
  };
  const Case cases[] = {
      {"plain: zeros exactly where the pieces are bad",
       false,
       [](std::uint64_t p) { return PieceOf(p + 100000); },
       [&](const Bytes& out, std::uint64_t at, std::uint64_t zeros) {
         Bytes expected = plain;
         std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(at), zeros, 0);
         EXPECT_TRUE(out == expected);
       },
       kPiece},
      {"LZS: a bad piece inside the third frame's data; the later frames still decode",
       true,
       [&](std::uint64_t p) {
         // 16 bytes before the first piece boundary inside the frame's data.
         const std::uint64_t end = PieceOf(p + headers[2] + 24) + kPiece;
         EXPECT_LT(end, p + headers[3]);
         return end - 16;
       },
       [&](const Bytes& out, std::uint64_t, std::uint64_t) {
         ASSERT_GE(out.size(), 3u * kFrame);
         EXPECT_TRUE(std::equal(text.begin(), text.begin() + 2 * kFrame, out.begin()));
         EXPECT_FALSE(std::equal(text.begin(), text.begin() + 3 * kFrame, out.begin()));
         // Everything from the fourth frame on.
         const std::uint64_t rest = text.size() - 3 * kFrame;
         EXPECT_TRUE(std::equal(text.end() - static_cast<std::ptrdiff_t>(rest), text.end(),
                                out.end() - static_cast<std::ptrdiff_t>(rest)));
       },
       16},
      {"LZS: a bad piece on a frame header ends the copy there",
       true,
       [&](std::uint64_t p) { return p + headers[4]; },
       [&](const Bytes& out, std::uint64_t, std::uint64_t) {
         EXPECT_TRUE(out == Bytes(text.begin(), text.begin() + 4 * kFrame));
       },
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    w.Tape(u"Tape");
    FileNode node = NodeFor(w.File(u"data.bin", {Stan(c.compressed ? frames : plain)}), u"data.bin");
    node.dataLength = c.compressed ? frames.size() : plain.size();
    w.Bare("ESET");
    const std::uint64_t bad = c.badAt(node.dataPosition);
    const std::uint64_t zeros = PieceOf(bad) + kPiece - bad;
    const Extracted e = ExtractWith(dir, w, node, {{bad, 16}});
    EXPECT_EQ(e.outcome, ExtractOutcome::Extracted);
    EXPECT_EQ(e.stats.compressed, c.compressed);
    c.check(e.output, bad - node.dataPosition, zeros);
    EXPECT_EQ(e.stats.damage.firstUnreadable, bad);
    EXPECT_EQ(e.stats.damage.unreadableBytes, c.unreadable);
    EXPECT_FALSE(e.stats.cutShort);
  }
}

TEST(FailingDiskExtract, DataCutShortByTheEndOfTheBackup) {
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<Stream> streams;
    std::uint64_t keep;  // bytes of the image kept after the first stream's data position
    bool cut;
    std::uint64_t held, promised;
  };
  const Case cases[] = {
      {"complete", {Stan(Bytes(5000, 1))}, 6000, false, 5000, 5000},
      {"empty in the backup", {Stan(Bytes{})}, 100, false, 0, 0},
      {"the first range cut: its data ends 1,024 bytes before the end",
       {Stan(Bytes(50000, 1))}, 20000, true, 20000 - 1024, 50000},
      // The second stream's header follows at 22 + 1,000 rounded up to 1,024
      // from the first header: its data starts 1,024 bytes after the first's.
      {"a later range cut at the end of the file",
       {Stan(Bytes(1000, 1)), Stan(Bytes(30000, 2))}, 1024 + 5000, true, 1000 + 5000, 31000},
      {"the end of the file right after a later stream's header",
       {Stan(Bytes(1000, 1)), Stan(Bytes(30000, 2))}, 1024, true, 1000, 31000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    w.Tape(u"Tape");
    FileNode node = NodeFor(w.File(u"data.bin", c.streams), u"data.bin");
    node.dataLength = c.streams[0].data.size();
    w.Bytes().resize(std::min<std::uint64_t>(w.Size(), node.dataPosition + c.keep));
    const Extracted e = ExtractWith(dir, w, node, {});
    if (node.dataLength == 0) {
      EXPECT_EQ(e.outcome, ExtractOutcome::Empty);
      continue;
    }
    EXPECT_EQ(e.outcome, ExtractOutcome::Extracted);
    EXPECT_EQ(e.stats.cutShort, c.cut);
    EXPECT_EQ(e.stats.dataHeld, c.held);
    EXPECT_EQ(e.stats.dataPromised, c.promised);
    EXPECT_EQ(e.stats.bytesWritten, c.held);
  }
}

}  // namespace
}  // namespace ostrel
