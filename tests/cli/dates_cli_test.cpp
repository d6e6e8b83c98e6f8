// Modification dates through ostrel-bkf: shown by scan (tree and JSON),
// given to the files and folders extract writes, left off with --no-dates,
// and unknown after a snapshot.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::MtfWriter;
using fixtures::RunCli;
using fixtures::Stan;
using nlohmann::json;

// boot.ini in the real NTBackup sample: 2011-07-22 11:32:40.
const std::string kSample = std::string(OSTREL_TEST_DATA_DIR) + "/samples/ntbackup51_MailG-block-walker_Backup.bkf";
constexpr std::int64_t kBootIni = 1311334360;

std::int64_t ModifiedAt(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec;
}

// A volume whose folder "Docs" has a date, with one file that has one and
// one that has none.
std::string DatedBackup(const fixtures::TempDir& dir) {
  MtfWriter w;
  w.Volb(u"C:");
  w.SetDate(w.Dirb(u"Docs"), MtfWriter::PackDate(1999, 12, 31, 23, 59, 58));
  w.SetDate(w.File(u"dated.txt", {Stan("old words")}), MtfWriter::PackDate(2004, 2, 29, 6, 5, 4));
  w.File(u"undated.txt", {Stan("new words")});
  return dir.Write(w);
}

TEST(DatesCli, ScanShowsThemInTheTreeAndTheJson) {
  const auto tree = RunCli({"scan", kSample});
  EXPECT_EQ(tree.exitCode, 0) << tree.err;
  EXPECT_NE(tree.out.find("[0] boot.ini  (210 bytes, 2011-07-22 11:32:40)\n"), std::string::npos) << tree.out;

  fixtures::TempDir dir;
  const std::string bkf = DatedBackup(dir);
  const auto r = RunCli({"scan", bkf, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json got = json::parse(r.out);
  std::map<std::string, json> modified;
  for (const auto& f : got["folders"]) modified[f["name"]] = f["modified"];
  for (const auto& f : got["files"]) modified[f["name"]] = f["modified"];
  EXPECT_EQ(modified["Docs"], "1999-12-31T23:59:58Z");
  EXPECT_EQ(modified["dated.txt"], "2004-02-29T06:05:04Z");
  EXPECT_EQ(modified["undated.txt"], nullptr);
  EXPECT_EQ(modified["C:"], nullptr);  // no DIRB for the volume's root
  const auto plain = RunCli({"scan", bkf});
  EXPECT_NE(plain.out.find("  [1] undated.txt  (9 bytes)\n"), std::string::npos) << plain.out;
}

TEST(DatesCli, ExtractGivesThemToFilesAndFoldersUnlessToldNot) {
  fixtures::TempDir dir;
  const std::string bkf = DatedBackup(dir);
  const std::int64_t before = std::time(nullptr);
  const struct {
    std::vector<std::string> extra;
    bool dated;
  } cases[] = {{{}, true}, {{"--no-dates"}, false}};
  for (const auto& c : cases) {
    const std::string to = dir.File(c.dated ? "dated" : "undated");
    std::vector<std::string> args{"extract", bkf, "--to", to};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const auto r = RunCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const std::string docs = to + "/TAPE CREATED /SET CREATED /C:/Docs";
    if (c.dated) {
      EXPECT_EQ(ModifiedAt(docs + "/dated.txt"), 1078034704);  // 2004-02-29 06:05:04
      EXPECT_EQ(ModifiedAt(docs), 946684798);                  // 1999-12-31 23:59:58, after its files
    } else {
      EXPECT_GE(ModifiedAt(docs + "/dated.txt"), before);
      EXPECT_GE(ModifiedAt(docs), before);
    }
    EXPECT_GE(ModifiedAt(docs + "/undated.txt"), before);
  }

  // The real sample's one file.
  const auto sample = RunCli({"extract", kSample, "--to", dir.File("sample"), "--flat"});
  ASSERT_EQ(sample.exitCode, 0) << sample.err << sample.out;
  EXPECT_EQ(ModifiedAt(dir.File("sample") + "/boot.ini"), kBootIni);
}

TEST(DatesCli, ASnapshotKeepsNoDates) {
  fixtures::TempDir dir;
  const std::string bkf = DatedBackup(dir);
  const std::string snapshot = dir.File("dated.kvsnapshot");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", snapshot}).exitCode, 0);
  const auto listed = RunCli({"list", snapshot, "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const json files = json::parse(listed.out)["files"];
  ASSERT_EQ(files.size(), 2u);
  for (const auto& f : files) EXPECT_EQ(f["modified"], nullptr) << f;
  const std::int64_t before = std::time(nullptr);
  ASSERT_EQ(RunCli({"extract", "--from-snapshot", snapshot, "--to", dir.File("out")}).exitCode, 0);
  EXPECT_GE(ModifiedAt(dir.File("out") + "/TAPE CREATED /SET CREATED /C:/Docs/dated.txt"), before);
}

}  // namespace
}  // namespace ostrel
