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

// A snapshot of an advanced scan loads into a session holding the same
// records, with the BKF file open, and saves again to the same bytes.
TEST(SnapshotLoad, AdvancedScanLoadsIntoASession) {
  TempDir dir;
  const std::string bkfPath = dir.Write(Backup(), "b.bkf");
  StopToken stop;
  RecoverySession scannerSession;
  AdvancedScanner scanner(scannerSession, stop);
  ASSERT_EQ(scanner.Scan(bkfPath), 1);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(scanner.Session().catalogue, Utf8ToUtf16(bkfPath), snap, stop).ok);

  const LoadedSnapshot loaded = LoadSnapshot(snap, stop);
  ASSERT_TRUE(loaded.session) << loaded.error;
  EXPECT_EQ(loaded.session->origin.kind, SessionOrigin::Kind::Snapshot);
  EXPECT_EQ(loaded.session->origin.snapshotPath, snap);
  EXPECT_EQ(loaded.session->origin.bkfPath, bkfPath);
  EXPECT_EQ(Utf16ToUtf8(loaded.bkfPath), bkfPath);
  EXPECT_EQ(Outline(loaded.session->catalogue, true), Outline(scanner.Session().catalogue, true));
  EXPECT_TRUE(loaded.session->file.IsOpen());
  EXPECT_EQ(loaded.session->file.Size(), Backup().Size());

  const std::string again = dir.File("again.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(loaded.session->catalogue, loaded.bkfPath, again, stop).ok);
  EXPECT_EQ(ReadBytes(again), ReadBytes(snap));
}

TEST(SnapshotLoad, Failures) {
  TempDir dir;
  StopToken stop;
  const std::string bkfPath = dir.Write(Backup(), "b.bkf");
  RecoverySession scannerSession;
  StandardScanner scanner(scannerSession, stop);
  ASSERT_EQ(scanner.Scan(bkfPath), 1);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_TRUE(WriteSnapshot(scanner.Session().catalogue, Utf8ToUtf16(bkfPath), snap, stop).ok);

  // The BKF file has been moved.
  std::filesystem::rename(bkfPath, dir.File("moved.bkf"));
  const LoadedSnapshot moved = LoadSnapshot(snap, stop);
  EXPECT_FALSE(moved.session);
  EXPECT_TRUE(moved.bkfMissing);
  EXPECT_EQ(Utf16ToUtf8(moved.bkfPath), bkfPath);
  EXPECT_NE(moved.error.find(bkfPath), std::string::npos) << moved.error;

  // A damaged snapshot fails before the BKF file is looked at.
  fixtures::SnapshotImage image = fixtures::SmallSnapshot();
  image.folders[1].nextSibling = 1;
  fixtures::WriteBytes(snap, image.Bytes());
  const LoadedSnapshot damaged = LoadSnapshot(snap, stop);
  EXPECT_FALSE(damaged.session);
  EXPECT_FALSE(damaged.bkfMissing);
  EXPECT_NE(damaged.error.find("cycle"), std::string::npos) << damaged.error;
}

}  // namespace
}  // namespace ostrel
