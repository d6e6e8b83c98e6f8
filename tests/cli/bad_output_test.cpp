// Hostile snapshots and destinations given to ostrel-bkf as a process: a
// snapshot cut at every section boundary or holding a cycle, a destination
// that cannot be written, a disk that fills up, output to a full device.
// Each gets its exit code and message; none may crash or write outside the
// destination.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/fixtures/files.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/snapshot_image.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::ReadBytes;
using fixtures::RunCli;
using fixtures::RunProcess;
using fixtures::TempDir;

const std::string kConformance = std::string(OSTREL_TEST_DATA_DIR) + "/conformance/";

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The byte positions where a snapshot's path block, each record and each end
// tag ends:
//   u32 N, N bytes | per record: tag, u32 M, 4 reserved, record, M bytes | 'E' + 8
std::vector<std::size_t> SectionBoundaries(const std::vector<std::uint8_t>& b) {
  std::vector<std::size_t> ends{4 + U32(b, 0)};
  std::size_t at = ends.back();
  for (const std::size_t record : {std::size_t{54}, std::size_t{41}}) {
    while (b.at(at) != 'E') {
      at += 9 + record + U32(b, at + 1);
      ends.push_back(at);
    }
    at += 9;
    ends.push_back(at);
  }
  return ends;
}

TEST(HostileSnapshot, CutAtEverySectionBoundaryIsRefusedByListAndExtract) {
  TempDir dir;
  const std::string bkf = dir.File("intact.bkf");
  fs::copy_file(kConformance + "intact.bkf", bkf);
  const std::string whole = dir.File("whole.snap");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", whole}).exitCode, 0);
  const std::vector<std::uint8_t> bytes = ReadBytes(whole);
  const std::vector<std::size_t> ends = SectionBoundaries(bytes);
  ASSERT_EQ(ends.back(), bytes.size());  // the boundaries walk the whole file

  const std::string cut = dir.File("cut.snap");
  const std::string dest = dir.File("dest");
  for (const std::size_t end : ends) {
    // At the boundary, and one byte into the next section.
    for (const std::size_t length : {end, end + 1}) {
      if (length >= bytes.size()) continue;
      SCOPED_TRACE(length);
      fixtures::WriteBytes(cut, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)});
      const auto list = RunCli({"list", cut});
      EXPECT_EQ(list.exitCode, 2) << list.out;
      EXPECT_TRUE(list.out.empty());
      EXPECT_NE(list.err.find("cannot load the snapshot"), std::string::npos) << list.err;
      EXPECT_NE(list.err.find("the file ends"), std::string::npos) << list.err;
      const auto extract = RunCli({"extract", "--from-snapshot", cut, "--to", dest});
      EXPECT_EQ(extract.exitCode, 2);
      EXPECT_NE(extract.err.find("cannot load the snapshot"), std::string::npos) << extract.err;
      EXPECT_FALSE(fs::exists(dest));
    }
  }
  // The whole file is still good.
  EXPECT_EQ(RunCli({"extract", "--from-snapshot", whole, "--to", dest}).exitCode, 0);
}

TEST(HostileSnapshot, CycleIsRefusedBeforeExtracting) {
  TempDir dir;
  fixtures::SnapshotImage image = fixtures::SmallSnapshot();
  image.bkfPath = u"/proc/self/exe";  // a file that opens: only the cycle can stop it
  image.folders[1].firstChild = 1;    // a folder that is its own child
  const std::string snap = dir.File("cycle.snap");
  fixtures::WriteBytes(snap, image.Bytes());
  const std::string dest = dir.File("dest");
  const auto r = RunCli({"extract", "--from-snapshot", snap, "--to", dest});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("cycle"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dest));
}

// Runs `command` through the shell (for redirections and namespaces).
fixtures::ProcessResult Shell(const std::string& command) { return RunProcess("/bin/sh", {"-c", command}); }

TEST(HostileDestination, UnwritableFolderIsRefused) {
  TempDir dir;
  const std::string bkf = kConformance + "intact.bkf";
  // Root writes into a folder of mode 0555; nobody creates folders in /proc.
  std::string dest = "/proc/self/ostrel-dest";
  if (::geteuid() != 0) {
    fs::create_directory(dir.File("locked"));
    fs::permissions(dir.File("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    dest = dir.File("locked") + "/dest";
  }
  const auto r = RunCli({"extract", bkf, "--to", dest});
  EXPECT_EQ(r.exitCode, 2) << r.out;
  EXPECT_NE(r.err.find("cannot use '" + dest + "' as the destination folder"), std::string::npos) << r.err;
  if (::geteuid() != 0) fs::permissions(dir.File("locked"), fs::perms::owner_all);
}

TEST(HostileDestination, FullDiskEndsTheFileAndRemovesIt) {
  // A 64 KiB file system of our own, mounted in a private mount namespace.
  TempDir dir;
  const std::string mount = dir.File("small");
  fs::create_directory(mount);
  if (Shell("unshare -rm true 2>/dev/null").exitCode != 0) GTEST_SKIP() << "no private mount namespace here";
  const auto r = Shell("unshare -rm sh -c 'mount -t tmpfs -o size=64k tmpfs " + mount + " && exec " +
                       OSTREL_CLI_PATH + " extract " + kConformance + "compressed.bkf --to " + mount +
                       "/out; echo mount failed >&2; exit 99'");
  if (r.err.find("mount failed") != std::string::npos) GTEST_SKIP() << "tmpfs cannot be mounted here";
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("No space left on device; the incomplete file was removed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files with problems: 1\n"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(mount));  // the mount was private to the process
}

TEST(HostileDestination, OutputToAFullDeviceFails) {
  const std::string bkf = kConformance + "intact.bkf";
  TempDir dir;
  const std::string snap = dir.File("s.snap");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", snap}).exitCode, 0);
  for (const std::string& args : {"scan " + bkf, "scan " + bkf + " --json", "list " + snap}) {
    SCOPED_TRACE(args);
    const auto r = Shell(std::string(OSTREL_CLI_PATH) + " " + args + " > /dev/full");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("ostrel-bkf: cannot write the output: No space left on device"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace ostrel
