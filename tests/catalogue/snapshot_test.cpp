#include "catalogue/snapshot.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/fixtures/snapshot_image.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::ReadBytes;
using fixtures::SnapshotImage;
using fixtures::SmallSnapshot;
using fixtures::TempDir;
using fixtures::WriteBytes;

StopToken gStop;

// The names in `folder`, sorted: a write leaves nothing but the snapshot.
std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The catalogue SmallSnapshot() describes, built through the catalogue's own
// operations.
Catalogue SmallCatalogue() {
  Catalogue cat;
  auto& tree = cat.Tree();
  tree.AddNode(u"T", 0);
  tree.AddNode(u"Docs", 1);
  tree.NodeAt(2).firstFile = 0;
  tree.NodeAt(2).lastFile = 1;
  tree.NodeAt(2).checkState = kChecked;
  FileNode f;
  f.nameSize = 10;
  f.parent = 2;
  f.index = 0;
  f.dataPosition = 5262;
  f.dataLength = 120;
  f.checkState = kChecked;
  cat.AppendFile(f, u"a.txt");
  f.index = 1;
  f.dataPosition = 7306;
  f.dataLength = 0;
  f.checkState = kUnchecked;
  f.inTree = 1;
  cat.AppendFile(f, u"b.txt");
  return cat;
}

SnapshotReadResult ReadImage(const SnapshotImage& image) {
  TempDir dir;
  const std::string path = dir.File("s.KVSNAPSHOT");
  WriteBytes(path, image.Bytes());
  return ReadSnapshot(path, gStop);
}

TEST(Snapshot, RootAndTapeWithoutFiles) {
  Catalogue cat;
  cat.Tree().AddNode(u"Tape", 0);
  TempDir dir;
  const std::string path = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(cat, u"C:\\b.bkf", path, gStop).ok);

  SnapshotImage expected;
  expected.bkfPath = u"C:\\b.bkf";
  expected.folders = {{u"ROOT", kNone, 1, kNone, 0, kNone, kNone}, {u"Tape", 0, kNone, kNone, 1, kNone, kNone}};
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes, expected.Bytes());
  // Path block (4 + 18), two T entries (63 + 10, 63 + 10), two end tags.
  EXPECT_EQ(bytes.size(), 22u + 73u + 73u + 9u + 9u);
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"s.KVSNAPSHOT"});
}

TEST(Snapshot, WritesEveryFieldAndReadsItBack) {
  TempDir dir;
  const std::string path = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(SmallCatalogue(), u"/data/backup.bkf", path, gStop).ok);
  EXPECT_EQ(ReadBytes(path), SmallSnapshot().Bytes());

  const SnapshotReadResult read = ReadSnapshot(path, gStop);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.bkfPath, u"/data/backup.bkf");
  const auto& tree = read.catalogue.Tree();
  ASSERT_EQ(tree.Count(), 3u);
  EXPECT_EQ(tree.NodeAt(0).name, u"ROOT");
  EXPECT_EQ(tree.NodePath(2), u"T\\Docs\\");
  EXPECT_EQ(tree.NodeAt(2).checkState, kChecked);
  ASSERT_EQ(read.catalogue.FileCount(), 2u);
  const FileNode& b = read.catalogue.FileAt(1);
  EXPECT_EQ(b.name, u"b.txt");
  EXPECT_EQ(b.nameSize, 10u);
  EXPECT_EQ(b.dataPosition, 7306u);
  EXPECT_EQ(b.checkState, kUnchecked);
  EXPECT_EQ(b.inTree, 1u);

  // Saving what was loaded gives the same bytes.
  const std::string again = dir.File("again.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(read.catalogue, read.bkfPath, again, gStop).ok);
  EXPECT_EQ(ReadBytes(again), ReadBytes(path));
}

TEST(Snapshot, LongNames) {
  Catalogue cat = SmallCatalogue();
  const std::u16string long2000(2000, u'x');
  cat.Tree().RenameNode(1, long2000);
  cat.RenameFileNode(0, long2000);
  TempDir dir;
  const std::string path = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(cat, u"/b.bkf", path, gStop).ok);
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  // The tape's entry follows the path block (4 + 14) and the root's entry (63 + 10).
  const std::size_t tape = 18 + 73;
  EXPECT_EQ(bytes[tape], 'T');
  EXPECT_EQ(bytes[tape + 1] | bytes[tape + 2] << 8, 4002);
  const SnapshotReadResult read = ReadSnapshot(path, gStop);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.catalogue.Tree().NodeAt(1).name, long2000);
  EXPECT_EQ(read.catalogue.FileAt(0).name, long2000);

  // A name of 2,047 units (M = 4,096) cannot be written: the reader would
  // refuse it. Nothing is left behind.
  cat.Tree().RenameNode(2, std::u16string(2047, u'y'));
  const std::string refused = dir.File("refused.KVSNAPSHOT");
  const SnapshotWriteResult w = WriteSnapshot(cat, u"/b.bkf", refused, gStop);
  EXPECT_FALSE(w.ok);
  EXPECT_NE(w.error.find("folder 2"), std::string::npos) << w.error;
  EXPECT_FALSE(std::filesystem::exists(refused));
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"s.KVSNAPSHOT"});
}

TEST(Snapshot, WriteFailures) {
  TempDir dir;
  StopToken stopped;
  stopped.RequestStop();
  const std::string path = dir.File("s.KVSNAPSHOT");
  const SnapshotWriteResult w = WriteSnapshot(SmallCatalogue(), u"/b.bkf", path, stopped);
  EXPECT_FALSE(w.ok);
  EXPECT_FALSE(std::filesystem::exists(path));
  const SnapshotWriteResult nowhere = WriteSnapshot(SmallCatalogue(), u"/b.bkf", dir.File("no/such/dir/s"), gStop);
  EXPECT_FALSE(nowhere.ok);
  EXPECT_FALSE(nowhere.stopped);
  EXPECT_EQ(nowhere.error, "cannot create '" + dir.File("no/such/dir/s") + "': No such file or directory");
  // An earlier snapshot stays as it was when a new write fails.
  ASSERT_TRUE(WriteSnapshot(SmallCatalogue(), u"/b.bkf", path, gStop).ok);
  const auto before = ReadBytes(path);
  const SnapshotWriteResult halted = WriteSnapshot(SmallCatalogue(), u"/b.bkf", path, stopped);
  EXPECT_FALSE(halted.ok);
  EXPECT_TRUE(halted.stopped);
  EXPECT_EQ(ReadBytes(path), before);
}

// A disk that fills up, made by a limit on the size of the files this
// process writes: every write past it fails (EFBIG). A small snapshot fails
// when the file is closed (its bytes wait in the stream's buffer until then),
// a large one at one of its writes. Neither leaves a file, and an earlier
// snapshot stays.
TEST(Snapshot, FullDisk) {
  for (const int files : {0, 20000}) {
    SCOPED_TRACE(files);
    Catalogue cat = SmallCatalogue();
    FileNode f;
    f.parent = 2;
    for (int i = 0; i < files; ++i) {
      f.index = cat.FileCount();
      cat.AppendFile(f, u"many.txt");
    }
    cat.Tree().NodeAt(2).lastFile = cat.FileCount() - 1;
    TempDir dir;
    const std::string path = dir.File("s.KVSNAPSHOT");
    ASSERT_TRUE(WriteSnapshot(SmallCatalogue(), u"/b.bkf", path, gStop).ok);
    const auto before = ReadBytes(path);

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 64;
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const SnapshotWriteResult w = WriteSnapshot(cat, u"/b.bkf", path, gStop);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_FALSE(w.ok);
    EXPECT_FALSE(w.stopped);
    EXPECT_EQ(w.error, "write error: File too large");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"s.KVSNAPSHOT"});
    EXPECT_EQ(ReadBytes(path), before);
  }
}

// Names planted beside the snapshot, as someone who can write to its folder
// might: the old fixed partial name as a link to a file elsewhere, and a link
// in the snapshot's own place. Neither is followed.
TEST(Snapshot, PlantedLinksAreNeverWrittenThrough) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  const std::string path = dir.File("folder/s.KVSNAPSHOT");
  const std::string outside = dir.File("outside");
  WriteBytes(outside, {'k', 'e', 'e', 'p'});
  std::filesystem::create_symlink(outside, path + ".partial");
  ASSERT_TRUE(WriteSnapshot(SmallCatalogue(), u"/b.bkf", path, gStop).ok);
  EXPECT_EQ(ReadBytes(outside), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(std::filesystem::is_symlink(path + ".partial"));
  EXPECT_EQ(Names(dir.File("folder")), (std::vector<std::string>{"s.KVSNAPSHOT", "s.KVSNAPSHOT.partial"}));
  const auto written = ReadBytes(path);

  // A link in the snapshot's place is replaced by the snapshot, not followed.
  std::filesystem::remove(path);
  std::filesystem::create_symlink(outside, path);
  ASSERT_TRUE(WriteSnapshot(SmallCatalogue(), u"/b.bkf", path, gStop).ok);
  EXPECT_EQ(ReadBytes(outside), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_EQ(ReadBytes(path), written);
}

// Every cut of a valid snapshot fails to load with a reason: a tag, record or
// name that cannot be read whole is never taken for an entry.
TEST(Snapshot, EveryTruncationFails) {
  const std::vector<std::uint8_t> whole = SmallSnapshot().Bytes();
  TempDir dir;
  const std::string path = dir.File("cut.KVSNAPSHOT");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    WriteBytes(path, {whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)});
    const SnapshotReadResult read = ReadSnapshot(path, gStop);
    EXPECT_FALSE(read.ok) << "cut at " << n;
    EXPECT_NE(read.error.find("ends inside"), std::string::npos) << "cut at " << n << ": " << read.error;
  }
  WriteBytes(path, whole);
  EXPECT_TRUE(ReadSnapshot(path, gStop).ok);
}

// Damaged snapshots: each fails with a reason naming the problem.
TEST(Snapshot, MalformedInputFailsCleanly) {
  const struct {
    const char* name;
    std::function<void(SnapshotImage&)> damage;
    const char* reason;  // part of the error text
  } cases[] = {
      {"path block of 70,000 bytes", [](SnapshotImage& s) { s.pathBytes = 70000; }, "path block"},
      {"path block of 4 GiB", [](SnapshotImage& s) { s.pathBytes = 0xFFFFFFFF; }, "path block"},
      {"folder name of 4,096 bytes", [](SnapshotImage& s) { s.folders[1].m = 4096; }, "name too long"},
      {"folder name of 4 GiB", [](SnapshotImage& s) { s.folders[2].m = 0xFFFFFFFF; }, "name too long"},
      {"file name of 5,000 bytes", [](SnapshotImage& s) { s.files[0].m = 5000; }, "name too long"},
      {"no folders", [](SnapshotImage& s) { s.folders.clear(); s.files.clear(); }, "no root"},
      {"index not the position", [](SnapshotImage& s) { s.folders[2].index = 1; }, "folder 2 holds the index"},
      {"parent out of range", [](SnapshotImage& s) { s.folders[2].parent = 3; }, "does not exist"},
      {"first child out of range", [](SnapshotImage& s) { s.folders[1].firstChild = 99; }, "does not exist"},
      {"next sibling out of range", [](SnapshotImage& s) { s.folders[2].nextSibling = kNotFound; },
       "does not exist"},
      {"root with a parent", [](SnapshotImage& s) { s.folders[0].parent = 1; }, "root"},
      {"folder without a parent", [](SnapshotImage& s) { s.folders[2].parent = kNone; }, "no parent"},
      {"sibling chain points to itself", [](SnapshotImage& s) { s.folders[2].nextSibling = 2; }, "cycle"},
      {"child chain back to the root", [](SnapshotImage& s) { s.folders[2].firstChild = 0; }, "cycle"},
      {"child chain back to an ancestor", [](SnapshotImage& s) { s.folders[2].firstChild = 1; }, "cycle"},
      {"child in the chain of another parent", [](SnapshotImage& s) { s.folders[2].parent = 0; }, "names folder"},
      {"folder outside every chain",
       [](SnapshotImage& s) { s.folders.push_back({u"X", 1, kNone, kNone, 3, kNone, kNone}); }, "cannot be reached"},
      {"first file out of range", [](SnapshotImage& s) { s.folders[2].firstFile = 2; }, "names files"},
      {"first file without a last", [](SnapshotImage& s) { s.folders[2].lastFile = kNone; }, "names files"},
      {"file run backwards", [](SnapshotImage& s) { s.folders[2].firstFile = 1, s.folders[2].lastFile = 0; },
       "names files"},
      {"bad check state", [](SnapshotImage& s) { s.folders[1].checkState = 7; }, "state"},
      {"file index not the position", [](SnapshotImage& s) { s.files[1].index = 0; }, "file 1 holds the index"},
      {"file parent not a folder", [](SnapshotImage& s) { s.files[0].parent = 3; }, "file 0 names the folder"},
      {"file parent none", [](SnapshotImage& s) { s.files[0].parent = kNone; }, "file 0 names the folder"},
      {"file of another kind", [](SnapshotImage& s) { s.files[1].kind = 'D'; }, "kind"},
      // Folders that claim the same files would be listed with them each.
      {"file runs overlap",
       [](SnapshotImage& s) { s.folders[1].firstFile = 1, s.folders[1].lastFile = 1; },
       "malformed catalogue: folders 2 and 1 both claim file 1"},
      {"file run whose file names another folder",
       [](SnapshotImage& s) { s.files[1].parent = 1; },
       "malformed catalogue: file 1 lies in the file run of folder 2 but names folder 1"},
      {"a folder 513 levels deep",
       [](SnapshotImage& s) {
         s.folders[2].firstChild = 3;
         for (std::uint64_t i = 3; i <= 513; ++i) s.folders.push_back({u"d", i - 1, i + 1, kNone, i});
         s.folders.back().firstChild = kNone;
       },
       "folder 513 lies deeper than 512 levels"},
  };
  for (const auto& c : cases) {
    SnapshotImage image = SmallSnapshot();
    c.damage(image);
    const SnapshotReadResult read = ReadImage(image);
    EXPECT_FALSE(read.ok) << c.name;
    EXPECT_NE(read.error.find(c.reason), std::string::npos) << c.name << ": " << read.error;
  }
}

// Only byte 0 of a tag ends a section: any other tag byte starts an entry,
// and names are read up to their first NUL unit.
TEST(Snapshot, TolerantReadings) {
  SnapshotImage image = SmallSnapshot();
  image.folders[1].tag = 'X';
  image.files[0].tag = 'T';
  image.files[1].name = u"b.txt";
  image.files[1].name += u'\0';
  image.files[1].name += u"junk";
  image.folders[2].name = u"";
  const SnapshotReadResult read = ReadImage(image);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.catalogue.Tree().Count(), 3u);
  EXPECT_EQ(read.catalogue.FileCount(), 2u);
  EXPECT_EQ(read.catalogue.FileAt(1).name, u"b.txt");
  EXPECT_EQ(read.catalogue.Tree().NodeAt(2).name, u"");
}

TEST(Snapshot, ReadFailures) {
  TempDir dir;
  EXPECT_EQ(ReadSnapshot(dir.File("absent"), gStop).error,
            "cannot open '" + dir.File("absent") + "': No such file or directory");
  EXPECT_FALSE(ReadSnapshot(dir.Path().string(), gStop).ok);
  const std::string path = dir.File("s.KVSNAPSHOT");
  WriteBytes(path, SmallSnapshot().Bytes());
  StopToken stopped;
  stopped.RequestStop();
  const SnapshotReadResult read = ReadSnapshot(path, stopped);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "stopped");
}

// Progress of a write counts records, of a read the file's bytes: it only
// grows, comes about once per thousandth (never per record) and ends with
// all done.
TEST(Snapshot, Progress) {
  Catalogue cat = SmallCatalogue();
  FileNode f;
  f.parent = 2;
  for (int i = 0; i < 50000; ++i) {
    f.index = cat.FileCount();
    cat.AppendFile(f, u"many.txt");
  }
  cat.Tree().NodeAt(2).lastFile = cat.FileCount() - 1;
  const std::uint64_t records = cat.Tree().Count() + cat.FileCount();
  TempDir dir;
  const std::string path = dir.File("s.KVSNAPSHOT");

  struct Seen {
    std::vector<std::uint64_t> done;
    std::uint64_t total = 0;
    void Check(std::uint64_t expectedTotal) const {
      ASSERT_FALSE(done.empty());
      EXPECT_EQ(total, expectedTotal);
      EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
      EXPECT_EQ(std::adjacent_find(done.begin(), done.end()), done.end());
      EXPECT_LE(done.size(), 1002u);
      EXPECT_GE(done.size(), 500u);
      EXPECT_EQ(done.back(), expectedTotal);
    }
  };
  Seen written;
  ASSERT_TRUE(WriteSnapshot(cat, u"/b.bkf", path, gStop, [&](std::uint64_t done, std::uint64_t total) {
                written.done.push_back(done);
                written.total = total;
              }).ok);
  written.Check(records);
  Seen read;
  ASSERT_TRUE(ReadSnapshot(path, gStop, [&](std::uint64_t done, std::uint64_t total) {
                read.done.push_back(done);
                read.total = total;
              }).ok);
  read.Check(std::filesystem::file_size(path));
}

// A large catalogue (deep and wide) round-trips and is checked in one pass.
TEST(Snapshot, LargeCatalogueRoundTrips) {
  Catalogue cat;
  std::uint64_t parent = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t n = cat.Tree().AddNode(u"d" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)), parent);
    // Half of them nest, in chains as deep as a catalogue may nest.
    if (i % 2 == 0) parent = i % 1024 == 1022 ? 0 : n;
    FileNode f;
    f.parent = n;
    f.index = cat.FileCount();
    cat.Tree().NodeAt(n).firstFile = cat.Tree().NodeAt(n).lastFile = f.index;
    cat.AppendFile(f, u"f");
  }
  TempDir dir;
  const std::string path = dir.File("big.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(cat, u"/b.bkf", path, gStop).ok);
  const SnapshotReadResult read = ReadSnapshot(path, gStop);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.catalogue.Tree().Count(), 20001u);
  EXPECT_EQ(read.catalogue.FileCount(), 20000u);
}

}  // namespace
}  // namespace ostrel

namespace ostrel {
namespace {

// Commands that take a snapshot or a BKF file tell them apart by how the file
// begins.
TEST(Snapshot, KnownByHowItBegins) {
  const std::vector<std::uint8_t> snapshot = fixtures::SmallSnapshot().Bytes();
  const std::uint32_t n = snapshot[0] | snapshot[1] << 8;  // the path block's size
  auto head = [&](std::size_t count) {
    return std::vector<std::uint8_t>(snapshot.begin(), snapshot.begin() + static_cast<std::ptrdiff_t>(count));
  };
  auto with = [&](std::size_t at, std::uint8_t value) {
    std::vector<std::uint8_t> b = snapshot;
    b[at] = value;
    return b;
  };
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool snapshot;
  } cases[] = {
      {"a whole snapshot", snapshot, true},
      {"cut after the path block", head(4 + n), true},
      {"cut after the first tag", head(4 + n + 1), true},
      {"empty", {}, false},
      {"cut inside the size", head(3), false},
      {"cut inside the path", head(4 + n - 1), false},
      {"a BKF file's first block", {'T', 'A', 'P', 'E', 0, 0, 0, 0}, false},
      {"zeros", std::vector<std::uint8_t>(64, 0), false},
      {"an odd path size", with(0, static_cast<std::uint8_t>(n + 1)), false},
      {"a path size past the limit", with(2, 0x01), false},
      {"no NUL unit at the path's end", with(4 + n - 2, 'x'), false},
      {"a file tag where the root's folder tag goes", with(4 + n, 'F'), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LooksLikeSnapshot(ByteView(c.bytes.data(), c.bytes.size())), c.snapshot) << c.name;
  }
  TempDir dir;
  const std::string path = dir.File("s.KVSNAPSHOT");
  WriteBytes(path, snapshot);
  EXPECT_TRUE(LooksLikeSnapshot(path));
  EXPECT_FALSE(LooksLikeSnapshot(dir.File("absent")));
  EXPECT_FALSE(LooksLikeSnapshot(dir.Path().string()));
}

}  // namespace
}  // namespace ostrel
