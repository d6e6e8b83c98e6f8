#include "reader/snapshot_load.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <typeinfo>

#include "catalogue/snapshot.h"
#include "reader/advanced_scanner.h"
#include "reader/text.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/snapshot_image.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::MtfWriter;
using fixtures::Noise;
using fixtures::Outline;
using fixtures::ReadBytes;
using fixtures::TempDir;

MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"Weekly");
  w.Sset(1, u"Full");
  w.Volb(u"D:");
  w.Dirb(u"Docs");
  w.File(u"a.txt", {{"STAN", Noise(3000, 1), {}, 0}});
  w.Dirb(u"Docs\\Old");
  w.File(u"b.txt", {{"STAN", Noise(50, 2), {}, 0}});
  return w;
}

// A snapshot of an advanced scan loads as a standard scanner holding the same
// records, with the BKF file open, and saves again to the same bytes.
TEST(SnapshotLoad, AdvancedScanLoadsAsStandardScanner) {
  TempDir dir;
  const std::string bkfPath = dir.Write(Backup(), "b.bkf");
  std::atomic<int> running{1};
  bkfAdvance scanner(running);
  ASSERT_EQ(scanner.Scan(bkfPath), 1);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(scanner.Cat(), Utf8ToUtf16(bkfPath), snap, running).ok);

  const LoadedSnapshot loaded = LoadSnapshot(snap, running);
  ASSERT_TRUE(loaded.scanner) << loaded.error;
  EXPECT_EQ(typeid(*loaded.scanner), typeid(bkf));
  EXPECT_EQ(Utf16ToUtf8(loaded.bkfPath), bkfPath);
  EXPECT_EQ(Outline(loaded.scanner->Cat(), true), Outline(scanner.Cat(), true));
  EXPECT_TRUE(loaded.scanner->File().IsOpen());
  EXPECT_EQ(loaded.scanner->File().Size(), Backup().Size());

  const std::string again = dir.File("again.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(loaded.scanner->Cat(), loaded.bkfPath, again, running).ok);
  EXPECT_EQ(ReadBytes(again), ReadBytes(snap));
}

TEST(SnapshotLoad, Failures) {
  TempDir dir;
  std::atomic<int> running{1};
  const std::string bkfPath = dir.Write(Backup(), "b.bkf");
  bkf scanner(running);
  ASSERT_EQ(scanner.Scan(bkfPath), 1);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(scanner.Cat(), Utf8ToUtf16(bkfPath), snap, running).ok);

  // The BKF file has been moved.
  std::filesystem::rename(bkfPath, dir.File("moved.bkf"));
  const LoadedSnapshot moved = LoadSnapshot(snap, running);
  EXPECT_FALSE(moved.scanner);
  EXPECT_TRUE(moved.bkfMissing);
  EXPECT_EQ(Utf16ToUtf8(moved.bkfPath), bkfPath);
  EXPECT_NE(moved.error.find(bkfPath), std::string::npos) << moved.error;

  // A damaged snapshot fails before the BKF file is looked at.
  fixtures::SnapshotImage image = fixtures::SmallSnapshot();
  image.folders[1].nextSibling = 1;
  fixtures::WriteBytes(snap, image.Bytes());
  const LoadedSnapshot damaged = LoadSnapshot(snap, running);
  EXPECT_FALSE(damaged.scanner);
  EXPECT_FALSE(damaged.bkfMissing);
  EXPECT_NE(damaged.error.find("cycle"), std::string::npos) << damaged.error;
}

}  // namespace
}  // namespace ostrel
