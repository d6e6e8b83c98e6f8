#include "reader/scanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
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
using fixtures::StanWithLength;
using fixtures::Stream;
using fixtures::TempDir;
using Lines = std::vector<std::string>;

struct Scanned {
  StopToken stop;
  RecoverySession session;
  RecordingListener listener;
  std::unique_ptr<StandardScanner> scanner;
  int answer = -1;
};

std::unique_ptr<Scanned> ScanImage(const MtfWriter& w, std::uint64_t start = 0, std::uint64_t end = 0) {
  static TempDir dir;
  static int counter = 0;
  auto s = std::make_unique<Scanned>();
  const std::string path = dir.Write(w, "scan" + std::to_string(counter++) + ".bkf");
  s->scanner = std::make_unique<StandardScanner>(s->session, s->stop, &s->listener);
  s->scanner->SetRange(start, end);
  s->answer = s->scanner->Scan(path);
  return s;
}

Lines OutlineOf(const MtfWriter& w) { return Outline(ScanImage(w)->scanner->Session().catalogue); }

// A small intact backup: tape, set, volume, files in nested folders.
MtfWriter Intact() {
  MtfWriter w;
  w.Tape(u"Weekly backup");
  w.Sset(3, u"Weekly");
  w.Volb(u"C:\\");
  w.File(u"autoexec.bat", {Stan(120)});
  w.Dirb(u"Docs");
  w.File(u"readme.txt", {{"NTOI", Ascii("xx"), {}, 0}, {"SPAD", {}, {}, 0}, Stan(3000)});
  w.Dirb(u"Docs\\2009");
  w.File(u"report.txt", {Stan(9000)});
  w.Dirb(u"Docs\\2010");
  w.File(u"plan.txt", {Stan(1500), {"CSUM", Ascii("abcd"), {}, 0}});
  w.Bare("ESET");
  return w;
}

TEST(StandardScanner, IntactBackup) {
  const auto s = ScanImage(Intact());
  EXPECT_EQ(s->answer, 1);
  EXPECT_EQ(s->scanner->FilesFound(), 4u);
  EXPECT_EQ(Outline(s->scanner->Session().catalogue),
            (Lines{"Weekly backup\\", "Weekly backup\\SET 3 :Weekly\\", "Weekly backup\\SET 3 :Weekly\\C:\\",
                   "Weekly backup\\SET 3 :Weekly\\C:\\Docs\\", "Weekly backup\\SET 3 :Weekly\\C:\\Docs\\2009\\",
                   "Weekly backup\\SET 3 :Weekly\\C:\\Docs\\2010\\",
                   "Weekly backup\\SET 3 :Weekly\\C:\\autoexec.bat = 120",
                   "Weekly backup\\SET 3 :Weekly\\C:\\Docs\\readme.txt = 3000",
                   "Weekly backup\\SET 3 :Weekly\\C:\\Docs\\2009\\report.txt = 9000",
                   "Weekly backup\\SET 3 :Weekly\\C:\\Docs\\2010\\plan.txt = 1500"}));
  const Catalogue& cat = s->scanner->Session().catalogue;
  // Folder file runs and file links.
  const FolderNode& docs = cat.Tree().NodeAt(4);
  EXPECT_EQ(docs.firstFile, 1u);
  EXPECT_EQ(docs.lastFile, 1u);
  EXPECT_EQ(cat.Tree().NodeAt(1).firstFile, kNone);
  EXPECT_EQ(cat.FileAt(1).nameSize, 20u);
  EXPECT_EQ(cat.FileAt(1).kind, 'F');
  EXPECT_EQ(cat.FileAt(1).index, 1u);
  EXPECT_EQ(s->listener.done, std::vector<int>{100});
  EXPECT_TRUE(s->listener.messages.empty());
}

TEST(StandardScanner, DataPositionPointsPastTheStanHeader) {
  MtfWriter w;
  w.Volb(u"C:");
  // NTOI (2 bytes, padded), SPAD (0 bytes), then STAN.
  const std::uint64_t at = w.File(u"a", {{"NTOI", Ascii("xy"), {}, 0}, {"SPAD", {}, {}, 0}, Stan(50)});
  const std::uint64_t first = MtfWriter::FirstEventFor(2);
  const std::uint64_t stan = first + 24 /* NTOI */ + 24 /* SPAD: 22 rounded up */;
  const auto s = ScanImage(w);
  ASSERT_EQ(s->scanner->Session().catalogue.FileCount(), 1u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataPosition, at + stan + 22);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataLength, 50u);
}

// Placeholders and the shape of the tree when levels are missing.
TEST(StandardScanner, PlaceholdersAndHierarchy) {
  const struct {
    const char* name;
    std::function<void(MtfWriter&)> build;
    Lines expected;
  } cases[] = {
      {"set without tape",
       [](MtfWriter& w) { w.Sset(1, u"Daily"); },
       {"TAPE CREATED \\", "TAPE CREATED \\SET 1 :Daily\\"}},
      {"volume without tape or set",
       [](MtfWriter& w) { w.Volb(u"D:"); },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\D:\\"}},
      {"file first, then a folder below the placeholder volume",
       [](MtfWriter& w) {
         w.File(u"f.txt", {Stan(10)});
         w.Dirb(u"Docs");
         w.File(u"g.txt", {Stan(20)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\DUMY VOLUME XX: \\",
        "TAPE CREATED \\SET CREATED \\DUMY VOLUME XX: \\Docs\\",
        "TAPE CREATED \\SET CREATED \\DUMY VOLUME XX: \\f.txt = 10",
        "TAPE CREATED \\SET CREATED \\DUMY VOLUME XX: \\Docs\\g.txt = 20"}},
      {"folder before any volume makes an uncounted placeholder pair each time",
       [](MtfWriter& w) {
         w.Dirb(u"Docs");
         w.Dirb(u"More");
       },
       {"DUMY SET CREATED \\", "DUMY SET CREATED \\DUMY VOLUME XX: \\",
        "DUMY SET CREATED \\DUMY VOLUME XX: \\DUMY SET CREATED \\",
        "DUMY SET CREATED \\DUMY VOLUME XX: \\DUMY SET CREATED \\DUMY VOLUME XX: \\"}},
      {"a second tape hangs under the folder added last",
       [](MtfWriter& w) {
         w.Tape(u"T1");
         w.Sset(1, u"A");
         w.Volb(u"C:");
         w.Dirb(u"X");
         w.Tape(u"T2");
         w.Sset(2, u"B");
       },
       {"T1\\", "T1\\SET 1 :A\\", "T1\\SET 1 :A\\C:\\", "T1\\SET 1 :A\\C:\\X\\", "T1\\SET 1 :A\\C:\\X\\T2\\",
        "T1\\SET 1 :A\\C:\\X\\T2\\SET 2 :B\\"}},
      {"a second set without a volume takes the files; its folders are looked up under the old volume",
       [](MtfWriter& w) {
         w.Tape(u"T");
         w.Sset(1, u"A");
         w.Volb(u"C:");
         w.Sset(2, u"B");
         w.File(u"f", {Stan(5)});
         w.Dirb(u"New");  // the prefix is empty now: "New" is no node below C:
         w.File(u"g", {Stan(6)});
       },
       {"T\\", "T\\SET 1 :A\\", "T\\SET 1 :A\\C:\\", "T\\SET 2 :B\\", "T\\SET 2 :B\\f = 5", "T\\SET 2 :B\\g = 6"}},
      {"device names without a colon add nothing; a leading colon gives ':'",
       [](MtfWriter& w) {
         w.Volb(u"TAPE0");
         w.Volb(u":odd");
         w.Dirb(u"In");
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\:\\",
        "TAPE CREATED \\SET CREATED \\:\\In\\"}},
      {"the volume root adds nothing and its files go to the volume",
       [](MtfWriter& w) {
         w.Volb(u"E:");
         w.Dirb(u"");
         w.File(u"top", {Stan(7)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\E:\\",
        "TAPE CREATED \\SET CREATED \\E:\\top = 7"}},
      {"existing components add no node; later files go to the folder added last",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         w.Dirb(u"Docs\\2009");
         w.Dirb(u"Docs\\2010");
         w.Dirb(u"Docs");
         w.File(u"f", {Stan(1)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\Docs\\", "TAPE CREATED \\SET CREATED \\C:\\Docs\\2009\\",
        "TAPE CREATED \\SET CREATED \\C:\\Docs\\2010\\", "TAPE CREATED \\SET CREATED \\C:\\Docs\\2010\\f = 1"}},
      {"a recurring folder name is looked up among direct children only",
       [](MtfWriter& w) {
         w.Volb(u"C:");
         w.Dirb(u"A");
         w.Dirb(u"A\\B");
         w.Dirb(u"A\\B\\C");
         w.Dirb(u"A\\C");
         w.File(u"in-a-c", {Stan(2)});
       },
       {"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
        "TAPE CREATED \\SET CREATED \\C:\\A\\", "TAPE CREATED \\SET CREATED \\C:\\A\\B\\",
        "TAPE CREATED \\SET CREATED \\C:\\A\\B\\C\\", "TAPE CREATED \\SET CREATED \\C:\\A\\C\\",
        "TAPE CREATED \\SET CREATED \\C:\\A\\C\\in-a-c = 2"}},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    c.build(w);
    EXPECT_EQ(OutlineOf(w), c.expected) << c.name;
  }
}

TEST(StandardScanner, RejectedBlocksAddNothing) {
  const struct {
    const char* name;
    std::function<void(MtfWriter&)> damage;
  } cases[] = {
      {"first event at 2048", [](MtfWriter& w) { w.PutU16(8, 2048); }},
      {"name offset 4", [](MtfWriter& w) { w.PutU16(84 + 2, 4); }},
      {"name offset 1024", [](MtfWriter& w) { w.PutU16(84 + 2, 1024); }},
      {"name size 512", [](MtfWriter& w) { w.PutU16(84, 512); }},
      {"empty name", [](MtfWriter& w) { w.PutU16(100, 0); }},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    w.File(u"f", {Stan(10)}, 0);
    c.damage(w);
    const auto s = ScanImage(w);
    EXPECT_EQ(s->scanner->Session().catalogue.FileCount(), 0u) << c.name;
  }
  // A FILE whose streams begin at 1,024 or later is not catalogued, but the
  // placeholders it made before rejecting it stay.
  MtfWriter w;
  w.File(u"late", {Stan(10)}, 0);
  w.PutU16(8, 1024);
  EXPECT_EQ(OutlineOf(w), (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\",
                                 "TAPE CREATED \\SET CREATED \\DUMY VOLUME XX: \\"}));
}

TEST(StandardScanner, StreamWalk) {
  const struct {
    const char* name;
    std::vector<Stream> streams;
    std::uint64_t length;
    std::uint64_t dataOffset;  // data position minus block position
  } cases[] = {
      {"unknown first stream ID", {{"PNAM", Noise(8, 2), {}, 0}, Stan(9)}, 0, 104 + 22},
      {"first stream ID begins with a digit", {{"1TAN", Noise(8, 2), {}, 0}}, 0, 104 + 22},
      {"two stepped-over streams", {{"NTOI", Noise(5, 1), {}, 0}, {"CSUM", Noise(3, 1), {}, 0}, Stan(40)}, 40,
       104 + 28 + 28 + 22},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    w.Volb(u"C:");
    const std::uint64_t at = w.File(u"a", c.streams);
    ASSERT_EQ(MtfWriter::FirstEventFor(2), 104u);
    const auto s = ScanImage(w);
    ASSERT_EQ(s->scanner->Session().catalogue.FileCount(), 1u) << c.name;
    EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataLength, c.length) << c.name;
    EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataPosition, at + c.dataOffset) << c.name;
  }
}

TEST(StandardScanner, StreamHeaderCutByTheWindowEndsTheWalk) {
  // The first stream steps to offset 1,012: a STAN header there would reach
  // past the 1,024-byte window, so it is not read.
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t at = w.File(u"a", {{"NTOI", Noise(1012 - 104 - 22, 1), {}, 0}, Stan(100)});
  const auto s = ScanImage(w);
  ASSERT_EQ(s->scanner->Session().catalogue.FileCount(), 1u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataLength, 0u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataPosition, at + 1012 + 22);
}

TEST(StandardScanner, ResynchronisesOnBlocksAtAnyOffsetAfterGarbage) {
  MtfWriter w;
  w.Append(Noise(5000, 7));  // garbage head
  w.Volb(u"C:", 5000 + 37);
  w.Append(Noise(3333, 8));
  w.File(u"odd.bin", {Stan(77)}, w.Size() + 3);
  w.Append(Noise(2000, 9));
  const std::uint64_t dirb = w.Dirb(u"Later", w.Size() + 1);
  // Blocks lie at least 1,024 bytes apart: the window after a block starts
  // 1,024 bytes after it.
  w.File(u"later.bin", {Stan(5)}, dirb + 1024 + 2);
  EXPECT_EQ(OutlineOf(w), (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\",
                                 "TAPE CREATED \\SET CREATED \\C:\\", "TAPE CREATED \\SET CREATED \\C:\\Later\\",
                                 "TAPE CREATED \\SET CREATED \\C:\\odd.bin = 77",
                                 "TAPE CREATED \\SET CREATED \\C:\\Later\\later.bin = 5"}));
}

TEST(StandardScanner, WindowOffsets1019And1020AreSearched) {
  // A block at window offset 1,019 and one at 1,020 of the first window of
  // their run (the window at 0 sees nothing before them).
  for (std::uint64_t offset : {1019u, 1020u, 1023u}) {
    MtfWriter w;
    w.PadTo(offset);
    w.Volb(u"C:", offset);
    w.File(u"f", {Stan(3)}, offset + 1024);
    EXPECT_EQ(ScanImage(w)->scanner->Session().catalogue.FileCount(), 1u) << offset;
    EXPECT_EQ(OutlineOf(w).size(), 4u) << offset;
  }
}

TEST(StandardScanner, BadDirectoryNameStepsOneByteAndTheRestIsStillFound) {
  // After a DIRB with a bad name the next windows start one byte off the
  // 1,024 grid, so every later block sits at window offset 1,023.
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t bad = w.Dirb(u"Broken");
  w.PutU16(bad + 82, 3);  // name offset 3
  w.File(u"a", {Stan(10)});
  w.Dirb(u"Docs");
  w.File(u"b", {Stan(20)});
  EXPECT_EQ(OutlineOf(w), (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\",
                                 "TAPE CREATED \\SET CREATED \\C:\\", "TAPE CREATED \\SET CREATED \\C:\\Docs\\",
                                 "TAPE CREATED \\SET CREATED \\C:\\a = 10",
                                 "TAPE CREATED \\SET CREATED \\C:\\Docs\\b = 20"}));
}

TEST(StandardScanner, JumpsOverFileDataButNotPastTheNextBlock) {
  MtfWriter w;
  w.Volb(u"C:");
  // 5,000 bytes of STAN data whose header is at offset 200 of the block: the
  // answer is 5,200 and the next window starts 5,120 bytes after the block.
  // A block ID inside the data is not seen; the block right after it is.
  std::vector<std::uint8_t> data = Noise(5000, 3);
  MtfWriter inner;
  inner.File(u"ghost", {Stan(10)}, 0);
  std::copy(inner.Bytes().begin(), inner.Bytes().begin() + 200, data.begin() + 2000);
  const std::uint64_t at = w.File(u"big", {{"NTOI", Noise(200 - 104 - 22, 1), {}, 0}, {"STAN", data, {}, 0}});
  w.File(u"next", {Stan(1)}, at + 5120 + 100);
  EXPECT_EQ(OutlineOf(w), (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\",
                                 "TAPE CREATED \\SET CREATED \\C:\\", "TAPE CREATED \\SET CREATED \\C:\\big = 5000",
                                 "TAPE CREATED \\SET CREATED \\C:\\next = 1"}));
}

TEST(StandardScanner, WalkLeavingTheWindowDoesNotSkipTheNextBlocks) {
  // The stepped-over stream carries the walk past the window; its length is
  // already in the answer and must not be added again.
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t at = w.File(u"a", {{"NTOI", Noise(2000, 1), {}, 0}});
  w.File(u"b", {Stan(4)}, at + 3072);
  const auto s = ScanImage(w);
  ASSERT_EQ(s->scanner->Session().catalogue.FileCount(), 2u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).dataLength, 0u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(1).name, u"b");
}

TEST(StandardScanner, HugeStreamLengthsNeitherWrapNorLoop) {
  const std::uint64_t lengths[] = {~std::uint64_t{0} - 23, ~std::uint64_t{0}, std::uint64_t{1} << 63};
  for (std::uint64_t length : lengths) {
    MtfWriter w;
    w.Volb(u"C:");
    w.File(u"spad", {{"SPAD", Noise(8, 1), length, 0}, Stan(5)});
    w.File(u"stan", {{"STAN", Noise(8, 1), length, 0}});
    w.File(u"ok", {Stan(6)});
    const auto s = ScanImage(w);
    // Both claim more than the file holds and are rejected; the walk of the
    // first ends instead of wrapping round to its own header, and the scan
    // goes on to the third.
    EXPECT_EQ(Outline(s->scanner->Session().catalogue),
              (Lines{"TAPE CREATED \\", "TAPE CREATED \\SET CREATED \\", "TAPE CREATED \\SET CREATED \\C:\\",
                     "TAPE CREATED \\SET CREATED \\C:\\ok = 6"}))
        << length;
  }
}

TEST(StandardScanner, BlocksWithoutHandlers) {
  // CFIL and SFMB are passed over in the search, so a block right behind them
  // in the same window is found; ESET re-aligns the window and adds nothing.
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t cfil = w.Bare("CFIL");
  w.File(u"behind-cfil", {Stan(1)}, cfil + 200);
  const std::uint64_t sfmb = w.Bare("SFMB");
  w.File(u"behind-sfmb", {Stan(2)}, sfmb + 300);
  const std::uint64_t eset = w.Bare("ESET", w.Size() + 500);
  w.File(u"far-behind-eset", {Stan(3)}, eset + 1024 + 10);
  const Lines lines = OutlineOf(w);
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{"TAPE CREATED \\SET CREATED \\C:\\behind-cfil = 1", "TAPE CREATED \\SET CREATED \\C:\\behind-sfmb = 2",
                   "TAPE CREATED \\SET CREATED \\C:\\far-behind-eset = 3"}));
}

TEST(StandardScanner, Ranges) {
  MtfWriter w = Intact();
  const std::uint64_t length = w.Size();
  const struct {
    const char* name;
    std::uint64_t start, end;
    std::size_t files;
    std::vector<std::string> messages;
  } cases[] = {
      {"whole file", 0, 0, 4, {}},
      {"start past the end", length + 1, 0, 4, {kStartRangeMessage}},
      {"end past the end", 0, length + 1, 4, {kEndRangeMessage}},
      {"both past the end", length + 5, length + 9, 4, {kStartRangeMessage, kEndRangeMessage}},
      {"start at the end scans nothing", length, 0, 0, {}},
      {"first four kilobytes", 0, 4096, 1, {}},
      {"start inside the data", 5 * 1024, 0, 3, {}},
  };
  for (const auto& c : cases) {
    const auto s = ScanImage(w, c.start, c.end);
    EXPECT_EQ(s->scanner->Session().catalogue.FileCount(), c.files) << c.name;
    EXPECT_EQ(s->listener.messages, c.messages) << c.name;
    EXPECT_EQ(s->listener.done, std::vector<int>{100}) << c.name;
  }
}

TEST(StandardScanner, PartialRangeRejectsFilesLongerThanItsEnd) {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"huge", {{"STAN", Noise(100, 1), 2000000, 0}});
  w.File(u"small", {Stan(10)});
  w.PadTo(3 << 20);
  const auto s = ScanImage(w, 0, 1048576);
  ASSERT_EQ(s->scanner->Session().catalogue.FileCount(), 1u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).name, u"small");
}

// A backup cut off inside a file's data (a full disk, the 4 GB limit of
// FAT32): the file stays out of the catalogue, but the scan remembers it when
// its block is one the backup program wrote.
TEST(StandardScanner, FilesWhoseDataRunsPastTheEndAreLeftOutButRemembered) {
  const struct {
    const char* name;
    bool damageChecksum;  // the block's header no longer sums up: noise, not a block
    bool cutInsideData;   // the backup ends inside the big file's data
  } cases[] = {
      {"cut inside the data", false, true},
      {"cut, but the block's checksum does not hold", true, true},
      {"whole backup", false, false},
  };
  for (const auto& c : cases) {
    MtfWriter w;
    w.Volb(u"C:");
    w.File(u"notes.txt", {Stan(20000)});
    const std::uint64_t big = w.File(u"database.mdb", {Stan(500000)});
    if (c.damageChecksum) w.PutU8(big + 30, 0x5A);
    if (c.cutInsideData) w.Bytes().resize(300000);
    const auto s = ScanImage(w);
    const RecoverySession& session = s->scanner->Session();
    const bool remembered = c.cutInsideData && !c.damageChecksum;
    EXPECT_EQ(session.catalogue.FileCount(), c.cutInsideData ? 1u : 2u) << c.name;
    ASSERT_EQ(session.leftOut.size(), remembered ? 1u : 0u) << c.name;
    if (remembered) {
      EXPECT_EQ(session.leftOut[0].name, u"database.mdb");
      EXPECT_EQ(session.leftOut[0].offset, big);
      EXPECT_EQ(session.leftOut[0].length, 500000u);
      EXPECT_EQ(LeftOutLine(session.leftOut[0]),
                "left out: database.mdb (500,000 bytes at offset " + std::to_string(big) +
                    ") runs past the end of the backup; the advanced mode recovers what is there");
    }
  }
}

// A crafted file of nothing but sound FILE blocks that each promise more
// than the file holds: the scan lists a bounded number and counts the rest.
TEST(StandardScanner, LeftOutFilesAreListedUpToALimit) {
  MtfWriter w;
  w.Volb(u"C:");
  for (std::size_t i = 0; i < kMaxLeftOutListed + 3; ++i) w.File(u"big", {StanWithLength(Noise(8, 1), 1ull << 40)});
  const auto s = ScanImage(w);
  EXPECT_EQ(s->scanner->Session().leftOut.size(), kMaxLeftOutListed);
  EXPECT_EQ(s->scanner->Session().leftOutNotListed, 3u);
}

// DIRBs that each name dozens of new folders: a backup cannot hold more than
// one real folder for each 512 bytes, so the scan makes no more than that
// (plus 1,024) and says so; files still come, in the deepest folder that exists.
TEST(StandardScanner, FoldersAreBoundedByTheBackupsSize) {
  MtfWriter w;
  w.Volb(u"C:");
  for (int i = 0; i < 40; ++i) {
    std::u16string path = u"d" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    for (int k = 0; k < 60; ++k) path += u"\\n" + std::u16string(1, static_cast<char16_t>(u'A' + k));
    w.Dirb(path);
    w.File(u"f", {Stan(8)});
  }
  const auto s = ScanImage(w);
  const Catalogue& cat = s->scanner->Session().catalogue;
  EXPECT_EQ(cat.Tree().Count(), FolderLimit(w.Size()));
  EXPECT_LT(FolderLimit(w.Size()), 40u * 61u);  // the backup asks for more
  EXPECT_EQ(s->scanner->Note(), kFolderCapNote);
  ASSERT_EQ(cat.FileCount(), 40u);
  // The last DIRB's first new folder is not made: its file goes to the volume.
  const FileNode& last = cat.FileAt(39);
  EXPECT_EQ(cat.Tree().NodeAt(last.parent).name, u"C:");
}

TEST(StandardScanner, ProgressReportsEveryPerMilleAndEveryEmptyWindow) {
  MtfWriter w;
  w.PadTo(2048 * 1024);  // 2,048 empty windows
  const auto s = ScanImage(w);
  const auto& r = s->listener.reports;
  // One report per empty window, plus one per new per-mille.
  EXPECT_EQ(r.size(), 2048u + 999u);
  for (std::size_t i = 1; i < r.size(); ++i) {
    ASSERT_GE(r[i].position, r[i - 1].position);
    ASSERT_GE(r[i].percent, r[i - 1].percent);
  }
  EXPECT_EQ(r.back().fileLength, w.Size());
  EXPECT_EQ(r.back().position, w.Size() - 1024);
}

TEST(StandardScanner, StopEndsTheScanAndKeepsWhatWasFound) {
  MtfWriter w;
  w.Volb(u"C:");
  for (int i = 0; i < 50; ++i) {
    w.File(u"f" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)), {Stan(10)});
    w.PadTo(w.Size() + 4096);
  }
  auto s = std::make_unique<Scanned>();
  TempDir dir;
  RecordingListener stopper(&s->stop, 40);
  StandardScanner scanner(s->session, s->stop, &stopper);
  EXPECT_EQ(scanner.Scan(dir.Write(w)), 1);
  EXPECT_GT(scanner.Session().catalogue.FileCount(), 0u);
  EXPECT_LT(scanner.Session().catalogue.FileCount(), 50u);
  EXPECT_EQ(stopper.done, std::vector<int>{100});
}

TEST(StandardScanner, MissingFileAnswersZero) {
  StopToken stop;
  RecoverySession scannerSession;
  StandardScanner scanner(scannerSession, stop);
  EXPECT_EQ(scanner.Scan("/nonexistent/file.bkf"), 0);
  EXPECT_FALSE(scanner.FileError().empty());
  TempDir dir;
  EXPECT_EQ(scanner.Scan(dir.Path().string()), 0);  // a directory
}

TEST(StandardScanner, TinyAndEmptyFiles) {
  for (std::size_t size : {0u, 1u, 3u, 1023u, 1025u}) {
    MtfWriter w;
    w.PadTo(size);
    if (size >= 4) w.PutAscii(size - 3, "FIL");  // an ID cut by the end of the file
    const auto s = ScanImage(w);
    EXPECT_EQ(s->answer, 1) << size;
    EXPECT_EQ(s->scanner->Session().catalogue.Tree().Count(), 1u) << size;
  }
}

TEST(StandardScanner, NamesCutAtTheWindowEnd) {
  // A file name whose bytes reach past the 1,024-byte window keeps the part
  // inside it, and nameSize keeps the size field.
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t at = w.File(u"x", {Stan(1)});
  w.PutU16(at + 84, 100);     // size 100
  w.PutU16(at + 86, 1020);    // offset 1,020: two units fit
  w.PutUtf16(at + 1020, u"abcdefgh");
  const auto s = ScanImage(w);
  ASSERT_EQ(s->scanner->Session().catalogue.FileCount(), 1u);
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).name, u"ab");
  EXPECT_EQ(s->scanner->Session().catalogue.FileAt(0).nameSize, 100u);
}

}  // namespace
}  // namespace ostrel
