// Large inputs: files beyond 4 GiB (sparse) and catalogues of a hundred
// thousand files. Labelled "slow": `ctest -LE slow` skips them locally; CI
// always runs them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "reader/scanner.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::MtfWriter;
using fixtures::RunCli;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;

// A sparse file of `holeBytes` followed by `blocks`; answers its path.
std::string SparseFile(const TempDir& dir, std::uint64_t holeBytes, const MtfWriter& blocks) {
  const std::string path = dir.File("sparse.bkf");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return path;
  if (::ftruncate(fileno(f), static_cast<off_t>(holeBytes + blocks.Size() + 64 * 1024)) != 0 ||
      ::fseeko(f, static_cast<off_t>(holeBytes), SEEK_SET) != 0) {
    std::fclose(f);
    return path;
  }
  std::fwrite(blocks.Bytes().data(), 1, blocks.Size(), f);
  std::fclose(f);
  return path;
}

TEST(LargeFiles, ScannerPositionsBeyondFourGibibytes) {
  TempDir dir;
  const std::uint64_t base = (std::uint64_t{4} << 30) + 4096 + 17;
  MtfWriter blocks;
  blocks.Volb(u"C:", 0);
  blocks.File(u"beyond.txt", {Stan(300)}, 1024);
  const std::string path = SparseFile(dir, base, blocks);
  StopToken stop;
  RecoverySession scannerSession;
  StandardScanner scanner(scannerSession, stop);
  ASSERT_EQ(scanner.Scan(path), 1);
  ASSERT_EQ(scanner.Session().catalogue.FileCount(), 1u);
  const FileNode& file = scanner.Session().catalogue.FileAt(0);
  EXPECT_EQ(file.name, u"beyond.txt");
  EXPECT_EQ(file.dataLength, 300u);
  EXPECT_EQ(file.dataPosition, base + 1024 + MtfWriter::FirstEventFor(20) + 22);
}

TEST(LargeFiles, CommandLineScanOfFiveGibibytes) {
  TempDir dir;
  MtfWriter blocks;
  blocks.Volb(u"C:", 0);
  blocks.Dirb(u"Far", 1024);
  blocks.File(u"far.txt", {Stan(77)}, 2048);
  const std::string path = SparseFile(dir, std::uint64_t{5} << 30, blocks);
  const auto r = RunCli({"scan", path, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string expected = "\"dataPosition\": " + std::to_string((std::uint64_t{5} << 30) + 2048 + MtfWriter::FirstEventFor(14) + 22);
  EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
}

TEST(LargeFiles, AFolderOfAHundredThousandFiles) {
  TempDir dir;
  const std::string path = dir.File("many.bkf");
  {
    MtfWriter head;
    head.Volb(u"C:");
    head.Dirb(u"Many");
    MtfWriter one;
    one.File(u"f.txt", {Stan(16)}, 0);
    one.Align(1024);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    head.Align(1024);
    std::fwrite(head.Bytes().data(), 1, head.Size(), f);
    for (int i = 0; i < 100000; ++i) std::fwrite(one.Bytes().data(), 1, one.Size(), f);
    std::fclose(f);
  }
  const auto r = RunCli({"scan", path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Total number of files found: 100,000\n"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
