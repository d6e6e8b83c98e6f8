// Real MTF files written by real backup software.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "reader/extract.h"
#include "reader/mtf.h"
#include "reader/scanner.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
const fs::path kSamples = fs::path(OSTREL_TEST_DATA_DIR) / "samples";

TEST(RealSamples, DatabaseBackupsHoldNoFiles) {
  int seen = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kSamples, ec)) {
    if (entry.path().extension() != ".bak") continue;
    ++seen;
    StopToken stop;
    RecoverySession scannerSession;
    StandardScanner scanner(scannerSession, stop);
    ASSERT_EQ(scanner.Scan(entry.path().string()), 1) << entry.path();
    EXPECT_EQ(scanner.Session().catalogue.FileCount(), 0u) << entry.path();
    // Their set and volume blocks are still read: a set named after the database.
    const auto lines = fixtures::Outline(scanner.Session().catalogue);
    ASSERT_GE(lines.size(), 2u) << entry.path();
    EXPECT_NE(lines[1].find("Full Database Backup"), std::string::npos) << lines[1];
  }
  EXPECT_EQ(seen, 2);
}

TEST(RealSamples, BackupOfOneFileUnderC) {
  const fs::path path = kSamples / "ntbackup51_MailG-block-walker_Backup.bkf";
  StopToken stop;
  RecoverySession scannerSession;
  StandardScanner scanner(scannerSession, stop);
  ASSERT_EQ(scanner.Scan(path.string()), 1);
  // One file under C:; the copies of the records inside the end-of-set
  // catalogue stream are not descriptor blocks and add nothing.
  EXPECT_EQ(fixtures::Outline(scanner.Session().catalogue),
            (std::vector<std::string>{
                "Backup.bkf created 11/19/2012 at 1:05 PM\\",
                "Backup.bkf created 11/19/2012 at 1:05 PM\\SET 1 :Set created 11/19/2012 at 1:05 PM\\",
                "Backup.bkf created 11/19/2012 at 1:05 PM\\SET 1 :Set created 11/19/2012 at 1:05 PM\\C:\\",
                "Backup.bkf created 11/19/2012 at 1:05 PM\\SET 1 :Set created 11/19/2012 at 1:05 PM\\C:\\boot.ini = 210"}));
  // The data position is the first byte of boot.ini.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const FileNode& f = scanner.Session().catalogue.FileAt(0);
  ASSERT_LE(f.dataPosition + f.dataLength, bytes.size());
  const std::string data = bytes.substr(f.dataPosition, f.dataLength);
  EXPECT_EQ(data.substr(0, 15), "[boot loader]\r\n");
  EXPECT_EQ(data.substr(data.size() - 2), "\r\n");
}

// boot.ini's data is followed by a CSUM stream (at 26,136) holding the XOR
// of its 210 stored bytes; a copy checks it, and a changed byte fails it.
TEST(RealSamples, TheChecksumAfterBootIniHolds) {
  const fs::path path = kSamples / "ntbackup51_MailG-block-walker_Backup.bkf";
  StopToken stop;
  RecoverySession session;
  StandardScanner scanner(session, stop);
  ASSERT_EQ(scanner.Scan(path.string()), 1);
  const FileNode& boot = session.catalogue.FileAt(0);
  const PreparedData data = PrepareFileData(boot, session.file, std::nullopt, stop);
  ASSERT_TRUE(data.streams.checksum);
  EXPECT_EQ(*data.streams.checksum, 0x2E12564Cu);
  CountingSink sink;
  ExtractStats stats;
  CopyFileData(data, session.file, sink, stop, stats);
  EXPECT_EQ(stats.checksum, ChecksumStatus::Verified);

  // The same with one byte of the data changed.
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes[boot.dataPosition + 100] ^= 0x20;
  fixtures::TempDir dir;
  const std::string changed = dir.File("changed.bkf");
  std::ofstream(changed, std::ios::binary) << bytes;
  BkfFile file;
  ASSERT_TRUE(file.Open(changed));
  CopyFileData(PrepareFileData(boot, file, std::nullopt, stop), file, sink, stop, stats);
  EXPECT_EQ(stats.checksum, ChecksumStatus::Mismatch);
}

// The backup program writes a header checksum into every descriptor block;
// the copies of records inside the end-of-set catalogue are no blocks and do
// not carry one.
TEST(RealSamples, EveryBlockCarriesItsHeaderChecksum) {
  std::ifstream in(kSamples / "ntbackup51_MailG-block-walker_Backup.bkf", std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::size_t> sound, unsound;
  for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
    if (mtf::FindBlockTag(bytes.data() + at) < 0) continue;
    const ByteView block(bytes.data() + at, bytes.size() - at);
    (mtf::BlockChecksumOk(block) ? sound : unsound).push_back(at);
  }
  EXPECT_EQ(sound, (std::vector<std::size_t>{0, 1024, 2048, 3072, 4096, 25600, 26624, 27648, 30720, 31744}));
  EXPECT_EQ(unsound, (std::vector<std::size_t>{28696, 28791, 28861, 29943}));
}

}  // namespace
}  // namespace ostrel
