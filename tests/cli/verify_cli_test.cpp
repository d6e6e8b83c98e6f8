// Checksums as the command line reports them: ostrel-bkf verify reads every
// chosen file and writes nothing; extract (into a folder or a tar archive)
// says the same of what it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::RunCli;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;
using fixtures::Text;
using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;

const std::string kSample =
    std::string(OSTREL_TEST_DATA_DIR) + "/samples/ntbackup51_MailG-block-walker_Backup.bkf";
const std::string kBootIni = "C:\\boot.ini";

std::uint32_t Xor(const Bytes& data) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < data.size(); ++i) sum ^= static_cast<std::uint32_t>(data[i]) << (8 * (i % 4));
  return sum;
}

Stream Csum(std::uint32_t value) {
  return {"CSUM",
          {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
           static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)},
          {},
          0};
}

// The real sample, and a copy with one byte of boot.ini's data changed.
std::string ChangedSample(const TempDir& dir) {
  std::ifstream in(kSample, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes[26000] ^= 0x20;  // inside boot.ini's data (25,926 to 26,136)
  const std::string path = dir.File("changed.bkf");
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(Checksums, TheRealSampleIsVerifiedAndAChangedByteIsCaught) {
  TempDir dir;
  const std::string changed = ChangedSample(dir);
  const auto whole = RunCli({"verify", kSample});
  EXPECT_EQ(whole.exitCode, 0) << whole.out << whole.err;
  EXPECT_NE(whole.out.find("Verified by checksum: 1 of 1 files (0 without a checksum)\n"), std::string::npos)
      << whole.out;

  const auto bad = RunCli({"verify", changed});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.out.find(kBootIni + ": the data differs from what was backed up\n"), std::string::npos) << bad.out;
  EXPECT_EQ(bad.out.rfind("checksum mismatch: ", 0), 0u) << bad.out;
  EXPECT_NE(bad.out.find("Files with problems: 1\n"), std::string::npos) << bad.out;

  const auto extracted = RunCli({"extract", kSample, "--to", dir.File("good"), "--flat"});
  EXPECT_EQ(extracted.exitCode, 0) << extracted.out;
  EXPECT_NE(extracted.out.find("Verified by checksum: 1 of 1 files (0 without a checksum)\n"), std::string::npos)
      << extracted.out;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"extract", changed, "--to", dir.File("bad"), "--flat"},
        std::vector<std::string>{"extract", changed, "--tar", dir.File("bad.tar")}}) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 1) << args[2];
    const std::string& text = args[2] == "--tar" ? r.err : r.out;
    EXPECT_NE(text.find("boot.ini: the data differs from what was backed up\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Files with problems: 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Verified by checksum: 0 of 1 files (0 without a checksum)\n"), std::string::npos) << text;
  }
  // The file is written all the same: its bytes may still be what the user needs.
  EXPECT_TRUE(fs::exists(dir.File("bad/boot.ini")));
}

TEST(Checksums, EveryFileGetsItsStatus) {
  TempDir dir;
  const Bytes text = Text(std::string(3001, 'q'));
  const Bytes packed = fixtures::CompressFrames(text);
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"good.txt", {Stan(text), Csum(Xor(text))});
  w.File(u"plain.txt", {Stan(text)});
  w.File(u"bad.txt", {Stan(text), Csum(Xor(text) ^ 0x100)});
  w.File(u"packed.log", {Stan(packed), Csum(Xor(text))});
  w.File(u"empty.txt", {Stan(Bytes{})});
  // The backup program could not read this one whole: a CRPT stream follows.
  w.File(u"broken.doc", {Stan(text), Csum(Xor(text)), {"CRPT", {}, {}, 0}});
  const std::uint64_t cut = w.File(u"cut.txt", {Stan(text), Csum(Xor(text))});
  w.Bytes().resize(cut + 200 + 1000);
  const std::string bkf = dir.Write(w);

  const auto r = RunCli({"verify", bkf, "--json"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const json doc = json::parse(r.out);
  std::vector<std::string> statuses;
  for (const auto& f : doc["files"]) {
    statuses.push_back(f["path"].get<std::string>().substr(f["path"].get<std::string>().rfind('\\') + 1) + " " +
                       f["status"].get<std::string>() + " " + f["checksum"].get<std::string>());
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"good.txt whole verified", "plain.txt whole none",
                                                "bad.txt whole mismatch", "packed.log whole verified",
                                                "empty.txt whole none", "broken.doc whole corrupt",
                                                "cut.txt cut short none"}));
  EXPECT_EQ(doc["summary"]["problems"], 3);
  EXPECT_EQ(doc["files"][5]["reason"], "marked corrupt by the backup program");

  // Only whole files chosen: exit status 0, and nothing was written anywhere.
  const auto chosen = RunCli({"verify", bkf, "--pattern", "good.txt", "--pattern", "plain.txt"});
  EXPECT_EQ(chosen.exitCode, 0) << chosen.out;
  EXPECT_NE(chosen.out.find("Verified by checksum: 1 of 2 files (1 without a checksum)\n"), std::string::npos)
      << chosen.out;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

  // A snapshot is verified as extract --from-snapshot reads it.
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_EQ(RunCli({"scan", kSample, "--snapshot", snap}).exitCode, 0);
  const auto stored = RunCli({"verify", snap, "--json"});
  EXPECT_EQ(stored.exitCode, 0) << stored.err;
  EXPECT_EQ(json::parse(stored.out)["files"][0]["checksum"], "verified");
  EXPECT_NE(stored.err.find("Reading files from: " + kSample), std::string::npos) << stored.err;
}

// The sample with its FILE block's first 64 bytes zeroed: no scan finds
// boot.ini, but the backup's own catalogue still lists it.
TEST(OwnCatalogue, AFileTheScanCannotFindIsReportedMissing) {
  TempDir dir;
  std::ifstream in(kSample, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fill(bytes.begin() + 25600, bytes.begin() + 25600 + 64, '\0');
  const std::string bkf = dir.File("zeroed.bkf");
  std::ofstream(bkf, std::ios::binary) << bytes;
  const std::string line = "The backup's own catalogue lists 1 files; the scan found 0 of them; missing: 1\n  " +
                           kBootIni + "\n";
  for (const char* mode : {"standard", "advanced"}) {
    const auto r = RunCli({"scan", bkf, "--mode", mode});
    EXPECT_EQ(r.exitCode, 1) << mode;
    EXPECT_NE(r.err.find(line), std::string::npos) << mode << r.err;
  }
  const auto json = RunCli({"scan", bkf, "--json"});
  EXPECT_EQ(json::parse(json.out)["missing"], json::array({kBootIni}));
  const auto extract = RunCli({"extract", bkf, "--to", dir.File("out")});
  EXPECT_EQ(extract.exitCode, 1);
  EXPECT_NE(extract.out.find("Files with problems: 1\n"), std::string::npos) << extract.out;
  // Whole, the sample's scan finds what its catalogue lists.
  const auto whole = RunCli({"scan", kSample});
  EXPECT_EQ(whole.exitCode, 0);
  EXPECT_NE(whole.err.find("lists 1 files; the scan found 1 of them; missing: 0\n"), std::string::npos) << whole.err;
}

// extract --json: one document of what was written, every file with its
// checksum status; the text goes to stderr.
TEST(Checksums, ExtractJsonGivesEveryFilesStatus) {
  TempDir dir;
  const auto r = RunCli({"extract", ChangedSample(dir), "--to", dir.File("out"), "--json"});
  EXPECT_EQ(r.exitCode, 1);
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["files"].size(), 1u);
  EXPECT_EQ(doc["files"][0]["status"], "written");
  EXPECT_EQ(doc["files"][0]["checksum"], "mismatch");
  EXPECT_EQ(doc["files"][0]["bytes"], 210);
  EXPECT_EQ(doc["summary"]["problems"], 1);
  EXPECT_NE(r.err.find("Files with problems: 1\n"), std::string::npos) << r.err;
  const auto clash = RunCli({"extract", kSample, "--tar", "-", "--json"});
  EXPECT_EQ(clash.exitCode, 2);
  EXPECT_NE(clash.err.find("--json and --tar - both want standard output"), std::string::npos) << clash.err;
}

TEST(Checksums, VerifyUsage) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"verify"}, "no BKF file or snapshot given"},
      {{"verify", kSample, kSample}, "only one BKF file or snapshot"},
      {{"verify", kSample, "--to", "x"}, "unknown option '--to'"},
      {{"verify", kSample, "--index", "5"}, "no file with index 5"},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_NE(RunCli({"verify", "--help"}).out.find("Usage: ostrel-bkf verify BKF|SNAPSHOT"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
