#include "reader/advanced_scanner.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::Ascii;
using fixtures::MtfWriter;
using fixtures::Noise;
using fixtures::Outline;
using fixtures::RecordingListener;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;
using Lines = std::vector<std::string>;

enum class Mode { kStandard, kAdvanced, kHeuristic };

struct Scanned {
  StopToken stop;
  RecoverySession session;
  RecordingListener listener;
  std::unique_ptr<Scanner> scanner;
  int answer = -1;
  const Catalogue& Cat() const { return session.catalogue; }
  Lines Lines_(bool positions = false) const { return Outline(Cat(), positions); }
  // Where the first window without a block was read: every such window is
  // reported, so after a single block at 0 this is where the scan went on.
  std::uint64_t FirstEmptyWindow() const {
    return listener.reports.empty() ? ~std::uint64_t{0} : listener.reports.front().position;
  }
};

std::unique_ptr<Scanned> ScanImage(const MtfWriter& w, Mode mode = Mode::kAdvanced, std::uint64_t start = 0,
                                   std::uint64_t end = 0) {
  static TempDir dir;
  static int counter = 0;
  auto s = std::make_unique<Scanned>();
  const std::string path = dir.Write(w, "adv" + std::to_string(counter++) + ".bkf");
  if (mode == Mode::kStandard) {
    s->scanner = std::make_unique<StandardScanner>(s->session, s->stop, &s->listener);
  } else {
    s->scanner = std::make_unique<AdvancedScanner>(s->session, s->stop, &s->listener);
    s->scanner->SetHeuristic(mode == Mode::kHeuristic);
  }
  s->scanner->SetRange(start, end);
  s->answer = s->scanner->Scan(path);
  return s;
}

// A stream of zero bytes: nothing in it looks like a block.
Stream Zeros(const std::string& id, std::size_t size) { return {id, std::vector<std::uint8_t>(size, 0), {}, 0}; }

// The first stream of blocks written by MtfWriter starts at 100 + the name's
// bytes rounded up to 4: 104 for a one-unit name, 112 for "a.txt".
constexpr std::uint64_t kFirstEvent1 = 104;
constexpr std::uint64_t kFirstEventAtxt = 112;

// A block at 0 measured to its full extent moves the scan on by that extent:
// rounded up to 512 for TAPE, SSET and the unnamed blocks, down to 1,024 for
// VOLB, DIRB and FILE, and by 1,024 when the extent is 1,024 or less. The data
// of every stream is zeros, and 16 KiB of zeros follow, so the next window
// that holds no block shows where the scan went on.
TEST(AdvancedScanner, JumpsPastEachMeasuredBlock) {
  const struct {
    const char* name;
    std::function<void(MtfWriter&)> build;
    std::uint64_t next;
  } cases[] = {
      // 112 + 22 + 4,866 = 5,000 bytes.
      {"FILE of 5,000 bytes", [](MtfWriter& w) { w.File(u"a.txt", {Zeros("STAN", 4866)}); }, 4096},
      // 112 + 22 + 890 = 1,024.
      {"FILE of 1,024 bytes", [](MtfWriter& w) { w.File(u"a.txt", {Zeros("STAN", 890)}); }, 1024},
      // 104 + 22 + 1,374 = 1,500.
      {"SSET of 1,500 bytes",
       [](MtfWriter& w) { w.Streams(w.Sset(1, u"S"), kFirstEvent1, {Zeros("SPAD", 1374)}); }, 1536},
      // 104 + 22 + 874 = 1,000.
      {"TAPE of 1,000 bytes",
       [](MtfWriter& w) { w.Streams(w.Tape(u"T"), kFirstEvent1, {Zeros("SPAD", 874)}); }, 1024},
      // 104 + 22 + 2,874 = 3,000, rounded down.
      {"DIRB of 3,000 bytes",
       [](MtfWriter& w) { w.Streams(w.Dirb(u"D"), kFirstEvent1, {Zeros("SPAD", 2874)}); }, 2048},
      // 100 + 22 + 4,878 = 5,000, rounded up.
      {"ESPB of 5,000 bytes", [](MtfWriter& w) { w.Bare("ESPB", 0, {Zeros("SPAD", 4878)}); }, 5120},
      {"EOTM of 5,000 bytes", [](MtfWriter& w) { w.Bare("EOTM", 0, {Zeros("SPAD", 4878)}); }, 5120},
      {"SFMB of 5,000 bytes", [](MtfWriter& w) { w.Bare("SFMB", 0, {Zeros("SPAD", 4878)}); }, 5120},
      // 100 + 22 + 1,978 = 2,100.
      {"CFIL of 2,100 bytes", [](MtfWriter& w) { w.Bare("CFIL", 0, {Zeros("SPAD", 1978)}); }, 2560},
      // Two streams: 112 + (22 + 2 + 0 pad) + (22 + 3 + 3 pad) + (22 + 3,000) = 3,188.
      {"FILE of three streams",
       [](MtfWriter& w) { w.File(u"a.txt", {Zeros("NTOI", 2), Zeros("CSUM", 3), Zeros("STAN", 3000)}); },
       3072},
      {"first stream ID unknown",
       [](MtfWriter& w) { w.File(u"a.txt", {Zeros("PNAM", 4866)}); }, 1024},
      // The extent would be 5,000 bytes, but the file is 4,000 bytes shorter.
      {"first stream longer than the file",
       [](MtfWriter& w) { w.File(u"a.txt", {{"STAN", {}, std::uint64_t{30000}, 0}}); }, 1024},
      // After a first CPAD stream the next header follows without padding (at
      // 112 + 23 = 135), while the extent counts the padding: 112 + 24 +
      // 22 + 3,938 = 4,096. Counted without it, the extent would be 4,095.
      {"first stream CPAD",
       [](MtfWriter& w) {
         w.File(u"a.txt", {Zeros("CPAD", 1)});
         w.PutAscii(kFirstEventAtxt + 23, "SPAD");
         w.PutU64(kFirstEventAtxt + 23 + 8, 3938);
         w.PadTo(4096);
       },
       4096},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    c.build(w);
    w.PadTo(w.Size() + 16 * 1024);
    const auto s = ScanImage(w);
    EXPECT_EQ(s->FirstEmptyWindow(), c.next) << c.name;
  }
}

// Which stream IDs count: the nineteen known ones without the heuristic flag;
// with it any four digits or capital letters that are not a block ID. A FILE
// block whose first stream has the ID is measured through it (next window at
// 4,096) or measures 1,024 bytes.
TEST(AdvancedScanner, StreamIdTest) {
  const struct {
    const char* id;
    bool heuristic;
    bool counts;
  } cases[] = {
      {"STAN", false, true}, {"CPAD", false, true}, {"NTQU", false, true}, {"NTRP", false, true},
      {"X9Z1", false, false}, {"PNAM", false, false}, {"FILE", false, false},
      {"X9Z1", true, true},  {"PNAM", true, true},  {"0000", true, true},  {"STAN", true, true},
      {"FILE", true, false}, {"ESPB", true, false}, {"x9z1", true, false}, {"AB-1", true, false},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    w.File(u"a.txt", {Zeros(c.id, 4866)});  // 5,000 bytes in all
    w.PadTo(16 * 1024);
    const auto s = ScanImage(w, c.heuristic ? Mode::kHeuristic : Mode::kAdvanced);
    EXPECT_EQ(s->FirstEmptyWindow(), c.counts ? 4096u : 1024u) << c.id << " heuristic " << c.heuristic;
  }
}

// The two conformance files in one: a FILE whose only data stream has an
// unknown ID is catalogued without data in both settings, and the files after
// it are found either way.
TEST(AdvancedScanner, UnknownStreamIdIsNoDataWithOrWithoutHeuristic) {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"odd.bin", {{"X9Z1", Noise(2500, 3), {}, 0}, Zeros("SPAD", 10)});
  w.File(u"next.txt", {Stan(100)});
  for (Mode mode : {Mode::kAdvanced, Mode::kHeuristic}) {
    const auto s = ScanImage(w, mode);
    EXPECT_EQ(s->Lines_(), (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\",
                                  "TAPE CREATED \\SET CREATED \\C:\\", "TAPE CREATED \\SET CREATED \\C:\\odd.bin = 0",
                                  "TAPE CREATED \\SET CREATED \\C:\\next.txt = 100"}));
  }
}

// What the advanced handlers do differently from the standard ones.
TEST(AdvancedScanner, HandlerDifferences) {
  const struct {
    const char* name;
    std::function<void(MtfWriter&)> build;
    Lines advanced;
    Lines standard;
  } cases[] = {
      {"unnamed tape takes the software name",
       [](MtfWriter& w) { w.Tape(u"", 0, u"Backup Utility"); },
       {"Backup Utility\\"},
       {}},
      {"media name of size 0 at a valid offset gives an empty tape name",
       [](MtfWriter& w) {
         w.Tape(u"Media", 0, u"Software");
         w.PutU16(68, 0);  // size 0, offset still 100
       },
       {"\\"},
       {"\\"}},
      {"device name without a colon is the whole label",
       [](MtfWriter& w) { w.Volb(u"TAPE0"); },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\TAPE0\\"},
       {}},
      {"device name C:\\ gives C:",
       [](MtfWriter& w) { w.Volb(u"C:\\"); },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\"}},
      {"device name beginning with the colon gives ':'",
       [](MtfWriter& w) { w.Volb(u":x"); },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\:\\"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\:\\"}},
      {"set with an empty name adds no set",
       [](MtfWriter& w) {
         w.Tape(u"T");
         w.Sset(2, u"");
         w.PutU16(1024 + 66, 100);  // size 0 at a valid offset
       },
       {"T\\"},
       {"T\\", "T\\SET 2 :\\"}},
      {"OS version 33 is refused",
       [](MtfWriter& w) {
         w.Tape(u"T");
         w.PutU8(11, 33);
         w.Volb(u"C:");
         w.PutU8(1024 + 11, 32);
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\"},
       {"T\\", "T\\SET CREATED \\", "T\\SET CREATED \\C:\\"}},
      {"file whose first stream begins at 1,500",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         const std::uint64_t at = w.File(u"late.txt", {});
         w.PutU16(at + 8, 1500);
         w.Streams(at, 1500, {Zeros("NTOI", 5), Stan(300)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\late.txt = 300"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\"}},
      {"file whose name lies outside its block",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         const std::uint64_t at = w.File(u"x.txt", {Stan(10)});
         w.PutU16(at + 86, 3);
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\"}},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    c.build(w);
    w.PadTo(w.Size() + 4096);
    EXPECT_EQ(ScanImage(w, Mode::kAdvanced)->Lines_(), c.advanced) << c.name;
    EXPECT_EQ(ScanImage(w, Mode::kStandard)->Lines_(), c.standard) << c.name;
  }
}

// The FILE stream walk: inside the 1,024-byte window as in the standard
// scanner (every step padded); from 1,024 on through the first 2,048 bytes
// of the block, where the step over a CPAD stream adds no padding.
TEST(AdvancedScanner, FileStreamWalk) {
  const struct {
    const char* name;
    std::uint16_t firstEvent;
    std::vector<Stream> streams;  // written 4-aligned from firstEvent
    // Raw stream headers written after them: offset, ID, length.
    std::vector<std::tuple<std::uint64_t, std::string, std::uint64_t>> raw;
    std::uint64_t stanOffset;  // where the walk stops
    std::uint64_t length;
  } cases[] = {
      {"CPAD inside the window is padded", 200, {Zeros("CPAD", 1), Stan(40)}, {}, 224, 40},
      {"CPAD past 1,024 is not padded", 1200, {Zeros("CPAD", 1)}, {{1223, "STAN", 40}}, 1223, 40},
      {"CPAD past 1,024 after another stream", 1200, {Zeros("NTOI", 2), Zeros("CPAD", 1)},
       {{1247, "STAN", 40}}, 1247, 40},
      {"unknown ID past 1,024", 1500, {Zeros("PNAM", 2)}, {}, 1500, 0},
      // A header that does not lie wholly within the 2,048 bytes read.
      {"header cut by the end of the 2,048 bytes", 2036, {}, {{2036, "STAN", 40}}, 2036, 0},
      // A header past the 1,024-byte window ends a walk that began in it.
      {"walk leaving the window", 900, {Zeros("SPAD", 200)}, {{1124, "STAN", 40}}, 1124, 0},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    w.Volb(u"C:");
    const std::uint64_t at = w.File(u"f", {});
    w.PutU16(at + 8, c.firstEvent);
    w.PadTo(at + 4096);
    w.Streams(at, c.firstEvent, c.streams);
    for (const auto& [offset, id, length] : c.raw) {
      w.PutAscii(at + offset, id);
      w.PutU64(at + offset + 8, length);
    }
    const auto s = ScanImage(w);
    ASSERT_EQ(s->session.catalogue.FileCount(), 1u) << c.name;
    EXPECT_EQ(s->session.catalogue.FileAt(0).dataPosition, at + c.stanOffset + 22) << c.name;
    EXPECT_EQ(s->session.catalogue.FileAt(0).dataLength, c.length) << c.name;
  }
}

// A partial scan keeps every FILE found before the range end, whatever its
// streams' lengths; the standard scan drops the ones whose data runs past it.
TEST(AdvancedScanner, PartialRangeKeepsFilesRunningPastItsEnd) {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"small.txt", {Stan(100)});
  w.File(u"big.bin", {Zeros("STAN", 20000)});
  w.File(u"after.txt", {Stan(100)});
  const Lines advanced = ScanImage(w, Mode::kAdvanced, 0, 8192)->Lines_();
  EXPECT_EQ(advanced, (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
                             "TAPE CREATED \\SET CREATED \\C:\\small.txt = 100",
                             "TAPE CREATED \\SET CREATED \\C:\\big.bin = 20000"}));
  const Lines standard = ScanImage(w, Mode::kStandard, 0, 8192)->Lines_();
  EXPECT_EQ(standard.back(), "TAPE CREATED \\SET CREATED \\C:\\small.txt = 100");
}

// Whatever a damaged stream length claims, the extent walk ends, stays inside
// 64 bits and does not carry the scan past the blocks that follow.
TEST(AdvancedScanner, DamagedExtentChainsTerminate) {
  const std::uint64_t kHuge[] = {~std::uint64_t{0}, ~std::uint64_t{0} - 21, std::uint64_t{1} << 63,
                                 std::uint64_t{1} << 32};
  for (std::uint64_t huge : kHuge) {
    for (Mode mode : {Mode::kAdvanced, Mode::kHeuristic}) {
      MtfWriter w;
      w.Volb(u"C:");
      // A later stream (the CSUM after the data) claims `huge` bytes.
      w.File(u"a.txt", {Stan(3000), {"CSUM", Ascii("abcd"), huge, 0}});
      w.File(u"b.txt", {Stan(50)});
      w.Bare("ESET", {}, {{"SPAD", {}, huge, 0}});  // a first stream that is too long
      w.File(u"c.txt", {Stan(60)});
      const auto s = ScanImage(w, mode);
      EXPECT_EQ(s->Lines_(), (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\",
                                    "TAPE CREATED \\SET CREATED \\C:\\", "TAPE CREATED \\SET CREATED \\C:\\a.txt = 3000",
                                    "TAPE CREATED \\SET CREATED \\C:\\b.txt = 50",
                                    "TAPE CREATED \\SET CREATED \\C:\\c.txt = 60"}))
          << huge;
    }
  }
}

// A chain of bogus but valid-looking headers: 64 KiB of empty SPAD streams
// behind a FILE block, then one whose length would end a few bytes past the
// end of the file. The walk crosses them once and the scan ends.
TEST(AdvancedScanner, LongChainOfEmptyStreamsEnds) {
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t at = w.File(u"a.txt", {});
  std::vector<Stream> chain(64 * 1024 / 24, Zeros("SPAD", 2));
  chain.push_back({"SPAD", {}, std::uint64_t{100}, 0});  // ends past the end of the file
  w.Streams(at, kFirstEventAtxt, chain);
  for (Mode mode : {Mode::kAdvanced, Mode::kHeuristic}) {
    const auto s = ScanImage(w, mode);
    EXPECT_EQ(s->answer, 1);
    EXPECT_EQ(s->session.catalogue.FileCount(), 1u);
    EXPECT_EQ(s->listener.done, std::vector<int>{100});
  }
}

// Noise of every kind: the scan ends, in both settings, without faults.
TEST(AdvancedScanner, NoiseScansEnd) {
  for (std::uint32_t seed = 1; seed <= 4; ++seed) {
    MtfWriter w;
    w.Append(Noise(256 * 1024, seed));
    // Block IDs planted in the noise, with random fields around them.
    const char* ids[] = {"FILE", "DIRB", "ESPB", "TAPE", "SSET", "VOLB"};
    for (std::uint64_t pos = 1000, k = 0; pos + 64 < w.Size(); pos += 3001, ++k) {
      w.PutAscii(pos, ids[k % 6]);
      w.PutU16(pos + 8, static_cast<std::uint16_t>(k * 37 % 2048));  // offset to first stream
      w.PutU8(pos + 11, 0);                                            // a valid OS version
    }
    for (Mode mode : {Mode::kAdvanced, Mode::kHeuristic}) {
      const auto s = ScanImage(w, mode);
      EXPECT_EQ(s->answer, 1);
      EXPECT_EQ(s->listener.done, std::vector<int>{100});
    }
  }
}

// The same damaged files scanned in both modes: where the advanced scanner
// recovers more, and where jumping over a whole block loses what the
// standard scanner finds.
TEST(AdvancedScanner, ComparedWithStandardOnDamagedFiles) {
  const struct {
    const char* name;
    std::function<void(MtfWriter&)> build;
    Lines standard;
    Lines advanced;
  } cases[] = {
      {// A later stream's damaged length: the advanced scanner stops measuring
       // there, the next file is found by both.
       "damaged length of a later stream",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         w.File(u"a.txt", {Stan(100), {"CSUM", Ascii("abcd"), std::uint64_t{1} << 40, 0}});
         w.File(u"b.txt", {Stan(100)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\a.txt = 100", "TAPE CREATED \\SET CREATED \\C:\\b.txt = 100"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\a.txt = 100", "TAPE CREATED \\SET CREATED \\C:\\b.txt = 100"}},
      {// An end-of-set pad whose padding holds an old FILE block: the standard
       // scanner catalogues it, the advanced one jumps over the pad.
       "stale block inside an ESPB's padding",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         w.Bare("ESPB", {}, {Zeros("SPAD", 4000)});
         w.File(u"stale.txt", {Stan(10)}, 1024 + 2048);
         w.File(u"real.txt", {Stan(10)}, 1024 + 4096 + 1024);
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\stale.txt = 10", "TAPE CREATED \\SET CREATED \\C:\\real.txt = 10"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\real.txt = 10"}},
      {// 512-byte blocks, as database backups write them: a soft filemark
       // whose first "stream" is the set block 512 bytes on measures 1,024
       // bytes, so the advanced scanner never looks at the set.
       "set 512 bytes after a filemark",
       [](MtfWriter& w) {
         w.Tape(u"T");
         const std::uint64_t mark = w.Bare("SFMB");
         w.PutU16(mark + 8, 512);
         w.Sset(1, u"Daily", mark + 512);
         w.Volb(u"C:", mark + 1536);
       },
       {"T\\", "T\\SET 1 :Daily\\", "T\\SET 1 :Daily\\C:\\"},
       {"T\\", "T\\SET CREATED \\", "T\\SET CREATED \\C:\\"}},
      {// A directory block whose name points outside it: the standard scanner
       // moves on one byte, the advanced one 1,024; both find the next folder.
       "directory name outside its block",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         const std::uint64_t bad = w.Dirb(u"Lost");
         w.PutU16(bad + 82, 3);
         w.Dirb(u"Found");
         w.File(u"f.txt", {Stan(10)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\Found\\", "TAPE CREATED \\SET CREATED \\C:\\Found\\f.txt = 10"},
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\Found\\", "TAPE CREATED \\SET CREATED \\C:\\Found\\f.txt = 10"}},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    c.build(w);
    w.PadTo(w.Size() + 4096);
    EXPECT_EQ(ScanImage(w, Mode::kStandard)->Lines_(), c.standard) << c.name;
    EXPECT_EQ(ScanImage(w, Mode::kAdvanced)->Lines_(), c.advanced) << c.name;
  }
}

// An intact backup gives the same catalogue in both modes, positions included.
TEST(AdvancedScanner, IntactBackupAsStandard) {
  MtfWriter w;
  w.Tape(u"Weekly backup");
  w.Sset(3, u"Weekly");
  w.Volb(u"C:\\");
  w.File(u"autoexec.bat", {Stan(120)});
  w.Dirb(u"Docs");
  w.File(u"readme.txt", {{"NTOI", Ascii("xx"), {}, 0}, Zeros("SPAD", 0), Stan(3000)});
  w.Dirb(u"Docs\\2009");
  w.File(u"photo.bin", {Stan(70000, 5)});
  w.File(u"empty.txt", {Stan(0)});
  w.Dirb(u"");
  w.File(u"root.txt", {Stan(7)});
  w.Bare("ESET");
  const auto advanced = ScanImage(w, Mode::kAdvanced);
  EXPECT_EQ(advanced->Lines_(true), ScanImage(w, Mode::kStandard)->Lines_(true));
  EXPECT_EQ(advanced->session.catalogue.FileCount(), 5u);
  EXPECT_EQ(advanced->scanner->FilesFound(), 5u);
  EXPECT_EQ(advanced->listener.done, std::vector<int>{100});
  // The 70,000 bytes of photo.bin are jumped over, not read.
  EXPECT_LT(static_cast<AdvancedScanner&>(*advanced->scanner).BytesRead(), w.Size() / 2);
}

TEST(AdvancedScanner, StopAndMissingFile) {
  MtfWriter w;
  w.Append(std::vector<std::uint8_t>(64 * 1024, 0));
  w.Tape(u"Late");
  StopToken stop;
  RecordingListener listener(&stop, 3);
  RecoverySession scannerSession;
  AdvancedScanner scanner(scannerSession, stop, &listener);
  TempDir dir;
  EXPECT_EQ(scanner.Scan(dir.Write(w)), 1);
  EXPECT_EQ(scanner.Session().catalogue.Tree().Count(), 1u);  // stopped before the tape
  EXPECT_EQ(listener.done, std::vector<int>{100});

  RecoverySession missingSession;
  AdvancedScanner missing(missingSession, stop);
  EXPECT_EQ(missing.Scan(dir.File("absent.bkf")), 0);
  EXPECT_FALSE(missing.FileError().empty());
}

}  // namespace
}  // namespace ostrel
