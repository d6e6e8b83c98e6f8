// Inputs the fuzz targets found faults with, kept in tests/fixtures/regress/
// and run again here under the sanitizers.
//
// snapshot-*: the snapshot target's input (a selector byte, then the
// sections after a path block that names the target's small valid BKF file);
// every file of the catalogue is extracted, and no output may be longer than
// what the BKF file holds.
//
// The crafted inputs that once cost far more than their size (written, small,
// by bench/make_hostile_inputs; bench/limits_bench.sh runs them large) are
// kept here with the limits that now hold for them:
// bkf-second-stan-past-end, bkf-tape-cycle, bkf-sset-keeps-volume,
// snapshot-files-share-data (also read by the snapshot test above) and
// malformed-snapshot-folders-claim-every-file.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "catalogue/snapshot.h"
#include "reader/snapshot_load.h"
#include "reader/extract.h"
#include "reader/save_files.h"
#include "reader/scanner.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/small_bkf.h"
#include "tests/fixtures/snapshot_image.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::ReadBytes;

const fs::path kRegress = fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "regress";

TEST(Regress, SnapshotInputsExtractNoMoreThanTheBkfFileHolds) {
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(kRegress)) {
    if (entry.path().filename().string().rfind("snapshot-", 0) != 0) continue;
    ++seen;
    SCOPED_TRACE(entry.path().filename().string());
    fixtures::TempDir dir;
    const std::string bkfPath = dir.File("small.bkf");
    ASSERT_TRUE(fixtures::SmallBkf().WriteTo(bkfPath));
    const std::vector<std::uint8_t> input = ReadBytes(entry.path());
    ASSERT_FALSE(input.empty());
    ASSERT_EQ(input[0] & 1, 1);  // the path block names the small file
    std::vector<std::uint8_t> snapshot = fixtures::PathBlock(bkfPath);
    snapshot.insert(snapshot.end(), input.begin() + 1, input.end());
    const std::string snap = dir.File("input.snap");
    ASSERT_TRUE(fixtures::WriteBytes(snap, snapshot));

    StopToken stop;
    SnapshotReadResult read = ReadSnapshot(snap, stop);
    ASSERT_TRUE(read.ok) << read.error;
    RecoverySession session;
    session.catalogue = std::move(read.catalogue);
    ASSERT_TRUE(session.file.Open(bkfPath));
    const std::optional<std::uint64_t> limit =
        (input[0] & 2) ? std::optional<std::uint64_t>((input[0] >> 2) * 64u) : std::nullopt;
    const std::uint64_t readable = std::min(limit.value_or(~std::uint64_t{0}), session.file.Size());
    for (std::uint64_t i = 0; i < session.catalogue.FileCount(); ++i) {
      ExtractStats stats;
      ExtractFileData(session.catalogue.FileAt(i), session.file, dir.File("out"), limit, stop, &stats);
      const std::uint64_t bound = stats.compressed ? (readable / 24 + 1) * 63520 : readable + 22;
      EXPECT_LE(stats.bytesWritten, bound) << "file " << i;
    }
  }
  EXPECT_GT(seen, 0);
}

// A snapshot fixture with the path block put in front, naming a copy of the
// small backup in `dir`.
std::string SnapshotNamingSmallBkf(const fixtures::TempDir& dir, const std::string& fixture) {
  const std::string bkfPath = dir.File("small.bkf");
  fixtures::SmallBkf().WriteTo(bkfPath);
  const std::vector<std::uint8_t> input = ReadBytes(kRegress / fixture);
  std::vector<std::uint8_t> snapshot = fixtures::PathBlock(bkfPath);
  snapshot.insert(snapshot.end(), input.begin() + 1, input.end());
  const std::string snap = dir.File("input.snap");
  fixtures::WriteBytes(snap, snapshot);
  return snap;
}

// What a run that saves every file of `session` did.
struct RunTally {
  std::uint64_t saved = 0, bytes = 0;
  std::vector<std::string> readLimits;  // the reasons of ReadLimit answers
};

RunTally SaveEveryFile(const RecoverySession& session, const std::string& to, bool lifted) {
  std::string error;
  std::optional<Destination> destination = PrepareDestination(to, error);
  RunTally t;
  if (!destination) return t;
  StopToken stop;
  SaveRun run(session.catalogue, session.file, std::move(*destination), true, stop);
  if (lifted) run.LiftReadLimit();
  for (std::uint64_t i = 0; i < session.catalogue.FileCount(); ++i) {
    const SaveResult r = run.SaveFile(i);
    if (r.status == SaveStatus::ReadLimit) {
      t.readLimits.push_back(r.reason);
      break;
    }
    if (r.status == SaveStatus::Saved || r.status == SaveStatus::SavedIncomplete) ++t.saved;
    t.bytes += r.bytes;
  }
  return t;
}

// Records pointing at the same data again and again: a run reads at most four
// times the backup's size, says why it stopped, and leaves nothing half
// written; lifted, it reads what the records ask.
TEST(Regress, ARunReadsAtMostFourTimesTheBackup) {
  fixtures::TempDir dir;
  StopToken stop;
  const struct {
    const char* name;
    std::function<std::unique_ptr<RecoverySession>()> load;
  } inputs[] = {
      // Every file's data runs on to the end of the backup: the square of its size.
      {"bkf-second-stan-past-end", [] { return fixtures::ScanSession((kRegress / "bkf-second-stan-past-end").string()); }},
      // Every record of the snapshot names the same 3,000 bytes.
      {"snapshot-files-share-data",
       [&] {
         LoadedSnapshot loaded = LoadSnapshot(SnapshotNamingSmallBkf(dir, "snapshot-files-share-data"), stop);
         return std::move(loaded.session);
       }},
  };
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.name);
    const std::unique_ptr<RecoverySession> session = input.load();
    ASSERT_TRUE(session);
    const std::uint64_t size = session->file.Size();
    const std::uint64_t files = session->catalogue.FileCount();
    const RunTally limited = SaveEveryFile(*session, dir.File(std::string(input.name) + "-limited"), false);
    ASSERT_EQ(limited.readLimits.size(), 1u);
    EXPECT_EQ(limited.readLimits[0],
              "the catalogue would read this backup's data more than 4 times over (hostile or looping records); "
              "stopped after " + std::to_string(limited.saved) + " files");
    EXPECT_LT(limited.saved, files);
    EXPECT_LE(limited.bytes, 4 * size);  // plain data: what is written was read
    const RunTally lifted = SaveEveryFile(*session, dir.File(std::string(input.name) + "-lifted"), true);
    EXPECT_TRUE(lifted.readLimits.empty());
    EXPECT_EQ(lifted.saved, files);
    EXPECT_GT(lifted.bytes, 4 * size);
  }
}

// A TAPE, SSET, VOLB and DIRB cycle, each tape below the folder before:
// nesting stops at 512 levels in either scan, the scan says so, and a tape
// that would go deeper starts again at the top level.
TEST(Regress, TapeCyclesNestAtMost512Levels) {
  for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Advanced}) {
    SCOPED_TRACE(static_cast<int>(mode));
    StopToken stop;
    RecoverySession session;
    const std::unique_ptr<Scanner> scanner = fixtures::NewScanner(mode, session, stop);
    ASSERT_EQ(scanner->Scan((kRegress / "bkf-tape-cycle").string()), 1);
    EXPECT_EQ(scanner->Note(), kDepthCapNote);
    const FolderTree& tree = session.catalogue.Tree();
    std::uint64_t deepest = 0, topLevel = 0;
    for (std::uint64_t i = 1; i < tree.Count(); ++i) {
      deepest = std::max(deepest, tree.Depth(i));
      topLevel += tree.NodeAt(i).parent == 0;
    }
    EXPECT_EQ(deepest, kMaxFolderDepth);
    EXPECT_EQ(topLevel, 2u);  // the first tape, and the one that started again
    EXPECT_EQ(session.catalogue.FileCount(), 16u);
  }
}

// After an SSET the volume stays; DIRBs that add a folder below it alternate
// with DIRBs whose first folder is nowhere. The catalogue is what the search
// by the format's rule gives: every folder below the one of the first DIRB.
TEST(Regress, AVolumeKeptAcrossASetGetsEveryFolderOnce) {
  const std::unique_ptr<RecoverySession> session =
      fixtures::ScanSession((kRegress / "bkf-sset-keeps-volume").string());
  ASSERT_TRUE(session);
  const FolderTree& tree = session->catalogue.Tree();
  const std::uint64_t a = tree.FindNode(u"a", 0, 0);
  ASSERT_NE(a, kNotFound);
  EXPECT_EQ(tree.NodePath(a), u"Tape\\SET 1 :Set\\C:\\a\\");
  std::uint64_t below = 0;
  for (std::uint64_t k = tree.FirstChild(a); k != kNotFound; k = tree.NextSibling(k)) ++below;
  // Each 2 KiB after the first five blocks adds one folder.
  EXPECT_EQ(below, (session->file.Size() - 5 * 1024 + 1024) / 2048);
  EXPECT_EQ(tree.Count(), 6 + below);  // root, tape, two sets, C:, a
}

// Folders that all claim every file are refused before anything is listed.
TEST(Regress, FoldersClaimingEveryFileAreRefused) {
  fixtures::TempDir dir;
  StopToken stop;
  const SnapshotReadResult read =
      ReadSnapshot(SnapshotNamingSmallBkf(dir, "malformed-snapshot-folders-claim-every-file"), stop);
  EXPECT_FALSE(read.ok);
  EXPECT_NE(read.error.find("malformed catalogue: folders"), std::string::npos) << read.error;
}

}  // namespace
}  // namespace ostrel
