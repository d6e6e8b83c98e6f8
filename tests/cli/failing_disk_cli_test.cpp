// ostrel-bkf over a failing disk and on backups cut short, run as a process:
// the "Unreadable:" summary, the JSON ranges, the lines of damaged and cut
// files, --skip-damaged, --verbose and the exit statuses.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::ReadText;
using fixtures::RunCli;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;
using Bytes = std::vector<std::uint8_t>;

// The tool with the byte ranges `bad` ("OFFSET+LENGTH,...") failing as bad sectors.
fixtures::ProcessResult RunOnFailingDisk(const std::string& bad, const std::vector<std::string>& args) {
  ::setenv("OSTREL_BAD_RANGES", bad.c_str(), 1);
  auto r = fixtures::RunProcess(OSTREL_FAILING_CLI_PATH, args);
  ::unsetenv("OSTREL_BAD_RANGES");
  return r;
}

struct Layout {
  std::string bkf;
  std::uint64_t second = 0;     // the FILE block of b.bin
  std::uint64_t bigData = 0;    // where big.bin's data starts
  std::string big;              // big.bin's data
};

// Three files: a.txt, b.bin and big.bin (40,000 bytes), and an empty one.
Layout ThreeFiles(const TempDir& dir) {
  Layout l;
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.File(u"a.txt", {Stan("aa")});
  l.second = w.File(u"b.bin", {Stan(Bytes(3000, 'b'))});
  const Bytes big = fixtures::Noise(40000, 9);
  l.big.assign(big.begin(), big.end());
  l.bigData = w.File(u"big.bin", {Stan(big)}) + MtfWriter::FirstEventFor(14) + 22;
  w.File(u"empty.txt", {Stan(Bytes{})});
  w.Bare("ESET");
  l.bkf = dir.Write(w);
  return l;
}

const char kFolder[] = "Tape\\SET 1 :Set\\C:\\";

TEST(FailingDiskCli, ScanSaysWhatCouldNotBeRead) {
  TempDir dir;
  const Layout l = ThreeFiles(dir);
  const std::uint64_t piece = l.second / 4096 * 4096;
  const std::string bad = std::to_string(piece) + "+4096";

  const auto intact = RunOnFailingDisk("", {"scan", l.bkf, "--json"});
  EXPECT_EQ(intact.exitCode, 0) << intact.err;
  EXPECT_TRUE(intact.err.empty()) << intact.err;
  EXPECT_EQ(nlohmann::json::parse(intact.out)["unreadable"], nlohmann::json::array());

  const auto tree = RunOnFailingDisk(bad, {"scan", l.bkf});
  EXPECT_EQ(tree.exitCode, 1);
  EXPECT_EQ(tree.err, "Unreadable: 4,096 bytes in 1 range (input/output error); the first at offset " +
                          std::to_string(piece) + "\n");
  EXPECT_EQ(tree.out.find("b.bin"), std::string::npos) << tree.out;  // its block header was lost
  EXPECT_NE(tree.out.find("big.bin"), std::string::npos) << tree.out;

  const auto json = RunOnFailingDisk(bad, {"scan", l.bkf, "--json"});
  EXPECT_EQ(json.exitCode, 1);
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["unreadable"], nlohmann::json::parse("[{\"offset\": " + std::to_string(piece) +
                                                      ", \"length\": 4096}]"));
  EXPECT_EQ(doc["files"].size(), 3u);

  // extract writes every file it found, and still does not call it a success.
  const std::string dest = dir.File("out");
  const auto extract = RunOnFailingDisk(bad, {"extract", l.bkf, "--to", dest, "--flat"});
  EXPECT_EQ(extract.exitCode, 1);
  EXPECT_EQ(extract.err, tree.err);
  EXPECT_NE(extract.out.find("Files with problems: 0\n"), std::string::npos) << extract.out;
  EXPECT_FALSE(fs::exists(dest + "/b.bin"));
  EXPECT_EQ(ReadText(dest + "/big.bin"), l.big);
}

TEST(FailingDiskCli, ExtractWritesDamagedFilesWithZerosOrLeavesThemOut) {
  TempDir dir;
  const Layout l = ThreeFiles(dir);
  const std::uint64_t piece = (l.bigData + 10000) / 4096 * 4096;  // inside big.bin's data
  const std::string bad = std::to_string(piece) + "+4096";
  const std::string line = "damaged: " + dir.File("out") + "/big.bin: 4,096 bytes unreadable at offset " +
                           std::to_string(piece) + " in the backup; written with zeros there\n";
  const std::string summary = "Unreadable: 4,096 bytes in 1 range (input/output error); the first at offset " +
                              std::to_string(piece) + "\n";

  const std::string dest = dir.File("out");
  const auto r = RunOnFailingDisk(bad, {"extract", l.bkf, "--to", dest, "--flat"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files written: 4 (1 empty)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files with problems: 1\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, summary);
  std::string expected = l.big;
  std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(piece - l.bigData), 4096, '\0');
  EXPECT_EQ(ReadText(dest + "/big.bin"), expected);

  const std::string skipped = dir.File("skipped");
  const auto s = RunOnFailingDisk(bad, {"extract", l.bkf, "--to", skipped, "--flat", "--skip-damaged"});
  EXPECT_EQ(s.exitCode, 1) << s.out << s.err;
  EXPECT_FALSE(fs::exists(skipped + "/big.bin"));
  EXPECT_TRUE(fs::exists(skipped + "/b.bin"));
  EXPECT_NE(s.out.find(std::string("not extracted: ") + kFolder + "big.bin: 4,096 bytes unreadable at offset " +
                       std::to_string(piece) + " in the backup; left out"),
            std::string::npos)
      << s.out;
  EXPECT_NE(s.out.find("Files written: 3 (1 empty)\n"), std::string::npos) << s.out;
}

TEST(FailingDiskCli, FilesCutShortAreProblemsAndEmptyFilesAreNot) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t whole = w.File(u"whole.txt", {Stan(Bytes(100, 'w'))});
  w.File(u"empty.txt", {Stan(Bytes{})});
  const std::uint64_t two = w.File(u"two.bin", {Stan(Bytes(1000, '1')), Stan(Bytes(30000, '2'))});
  const std::uint64_t twoData = two + MtfWriter::FirstEventFor(14) + 22;
  const std::uint64_t cutFirst = w.File(u"first.bin", {Stan(Bytes(50000, 'f'))});
  const std::uint64_t firstData = cutFirst + MtfWriter::FirstEventFor(18) + 22;
  (void)whole;

  struct Case {
    const char* name;
    std::uint64_t keep;  // bytes of the backup kept
    std::vector<std::string> options;
    int exit;
    std::vector<std::string> has, hasNot;
  };
  const Case cases[] = {
      {"whole backup: the empty file is no problem", w.Size(), {}, 0, {"Files with problems: 0\n"}, {"empty:"}},
      {"--verbose lists the empty file",
       w.Size(),
       {"--verbose"},
       0,
       {"empty: " + dir.File("out") + "/empty.txt: the backup holds no data", "Files with problems: 0\n"},
       {}},
      {"cut in the first range of a file's data",
       firstData + 20000,
       {},
       1,
       {"cut short: " + dir.File("out") + "/first.bin: cut short by the end of the backup: 18,976 of 50,000 bytes\n",
        "Files with problems: 1\n"},
       {"two.bin:"}},
      {"cut in a later range",
       twoData + 1024 + 5000,  // the second stream's data starts 1,024 bytes after the first's
       {},
       1,
       {"cut short: " + dir.File("out") + "/two.bin: cut short by the end of the backup: 6,000 of 31,000 bytes\n",
        "Files with problems: 1\n"},
       {"whole.txt:"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter cut = w;
    cut.Bytes().resize(c.keep);
    const std::string bkf = dir.Write(cut, "cut.bkf");
    const std::string dest = dir.File("out");
    fs::remove_all(dest);
    std::vector<std::string> args = {"extract", bkf, "--to", dest, "--flat"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
    for (const std::string& text : c.has) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    for (const std::string& text : c.hasNot) EXPECT_EQ(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
}

}  // namespace
}  // namespace ostrel
