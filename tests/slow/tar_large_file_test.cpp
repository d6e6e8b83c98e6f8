// extract --tar with a file of more than 8 GiB, the most a ustar header's
// size field holds: a sparse backup, its archive piped into the system's tar.
// Labelled "slow" (the extraction writes the 8 GiB file out).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::Stan;
using fixtures::TempDir;
using fixtures::Text;

bool WriteAt(int fd, std::uint64_t position, const std::vector<std::uint8_t>& bytes) {
  return ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(position)) ==
         static_cast<ssize_t>(bytes.size());
}

TEST(LargeTar, AFileOfMoreThanEightGibibytes) {
  TempDir dir;
  constexpr std::uint64_t kSize = (std::uint64_t{8} << 30) + 5;
  if (fs::space(dir.Path()).available < kSize + (std::uint64_t{1} << 30)) {
    GTEST_SKIP() << "the extracted file needs 9 GiB free in " << dir.Path();
  }
  // The FILE block's stream promises 8 GiB + 5 bytes; only its first and
  // last bytes are written, the rest of the backup is a hole. A small file
  // and the end of the set follow the data.
  MtfWriter head;
  head.Tape(u"Tape");
  head.Sset(1, u"Set");
  head.Volb(u"C:");
  const std::uint64_t data =
      head.File(u"huge.bin", {fixtures::StanWithLength(Text("head"), kSize)}) + MtfWriter::FirstEventFor(16) + 22;
  MtfWriter after;
  after.File(u"after.txt", {Stan("after")}, 0);
  after.Bare("ESET");
  const std::uint64_t afterAt = (data + kSize + 1023) / 1024 * 1024;
  const std::string bkf = dir.File("huge.bkf");
  const int fd = ::open(bkf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAt(fd, 0, head.Bytes()));
  ASSERT_TRUE(WriteAt(fd, data + kSize - 4, Text("tail")));
  ASSERT_TRUE(WriteAt(fd, afterAt, after.Bytes()));
  ::close(fd);

  const std::string out = dir.File("out");
  fs::create_directory(out);
  // The advanced scan jumps over the data; the archive goes through a pipe.
  const auto r = fixtures::RunProcess(
      "/bin/bash", {"-c", "set -o pipefail; " + std::string(OSTREL_CLI_PATH) + " extract '" + bkf +
                              "' --mode advanced --tar - | tar -xvv --numeric-owner -C '" + out + "'"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(" " + std::to_string(kSize) + " "), std::string::npos) << r.out;

  const fs::path folder = fs::path(out) / "Tape" / "SET 1 :Set" / "C:";
  ASSERT_EQ(fs::file_size(folder / "huge.bin"), kSize);
  std::ifstream huge(folder / "huge.bin", std::ios::binary);
  char first[4] = {}, last[4] = {};
  huge.read(first, 4);
  huge.seekg(static_cast<std::streamoff>(kSize - 4));
  huge.read(last, 4);
  EXPECT_EQ(std::string(first, 4), "head");
  EXPECT_EQ(std::string(last, 4), "tail");
  // The entry after it is read in its place.
  EXPECT_EQ(fixtures::ReadText(folder / "after.txt"), "after");
}

}  // namespace
}  // namespace ostrel
