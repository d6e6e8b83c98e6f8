// Inputs the fuzz targets found faults with, kept in tests/fixtures/regress/
// and run again here under the sanitizers.
//
// snapshot-*: the snapshot target's input (a selector byte, then the
// sections after a path block that names the target's small valid BKF file);
// every file of the catalogue is extracted, and no output may be longer than
// what the BKF file holds.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "catalogue/snapshot.h"
#include "reader/extract.h"
#include "reader/scanner.h"
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

}  // namespace
}  // namespace ostrel
