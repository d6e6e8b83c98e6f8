#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/fixtures/catalogue_json.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"
#include "version.h"

namespace ostrel {
namespace {

using fixtures::RunCli;
using nlohmann::json;

const std::string kIntact = std::string(OSTREL_TEST_DATA_DIR) + "/conformance/intact.bkf";

TEST(Cli, SaysItsVersion) {
  for (const char* flag : {"--version", "-V"}) {
    const auto r = RunCli({flag});
    EXPECT_EQ(r.exitCode, 0) << flag;
    EXPECT_EQ(r.out, std::string("ostrel-bkf ") + OSTREL_VERSION + "\n") << flag;
  }
}

// A BKF file whose path is not UTF-8 (a folder named in Latin-1): the JSON
// stays valid and gives the exact bytes beside, and a snapshot names the file
// so that it opens again.
TEST(ScanCommand, ABkfPathThatIsNotUtf8) {
  fixtures::TempDir dir;
  const std::string folder = dir.File("caf\xE9");
  std::filesystem::create_directory(folder);
  const std::string bkf = folder + "/b.bkf";
  std::filesystem::copy_file(kIntact, bkf);
  const auto r = RunCli({"scan", bkf, "--json", "--snapshot", dir.File("s.KVSNAPSHOT")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json doc = json::parse(r.out);  // throws on invalid UTF-8
  EXPECT_NE(doc["bkf"].get<std::string>().find("caf\xEF\xBF\xBD/b.bkf"), std::string::npos) << doc["bkf"];
  std::string hex;
  for (unsigned char c : bkf) {
    static constexpr char kHex[] = "0123456789abcdef";
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  EXPECT_EQ(doc["bkfPathBytes"], hex);
  EXPECT_FALSE(json::parse(RunCli({"scan", kIntact, "--json"}).out).contains("bkfPathBytes"));

  const auto extract = RunCli({"extract", "--from-snapshot", dir.File("s.KVSNAPSHOT"), "--to", dir.File("out")});
  EXPECT_EQ(extract.exitCode, 0) << extract.out << extract.err;
  EXPECT_NE(extract.out.find("Files written: 6"), std::string::npos) << extract.out;
}

// A scan ended by a signal prints what it found so far, and says so in the
// JSON document too.
TEST(ScanCommand, AnInterruptedJsonScanIsMarkedPartial) {
  fixtures::TempDir dir;
  fixtures::MtfWriter w;
  w.Volb(u"C:");
  w.File(u"first.txt", {fixtures::Stan("first")});
  const std::string bkf = dir.Write(w);
  // 64 GiB of hole after it: far more than the scan gets through before the signal.
  std::filesystem::resize_file(bkf, 64ull << 30);
  const auto r = fixtures::RunProcess(OSTREL_CLI_PATH, {"scan", bkf, "--json"}, [](pid_t pid) {
    ::usleep(300000);
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.exitCode, 128 + SIGINT) << r.err;
  const json doc = json::parse(r.out);
  EXPECT_EQ(doc["partial"], true);
  EXPECT_EQ(doc["files"].size(), 1u);
  EXPECT_FALSE(json::parse(RunCli({"scan", kIntact, "--json"}).out).contains("partial"));
}

TEST(ScanCommand, PrintsTheCatalogueAsATree) {
  const auto r = RunCli({"scan", kIntact});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Weekly backup\\\n  SET 3 :Weekly\\\n    C:\\\n      [0] autoexec.bat  (120 bytes)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Total number of files found: 6\n"), std::string::npos);
  EXPECT_TRUE(r.err.empty()) << r.err;  // no progress bar when stderr is no terminal
}

TEST(ScanCommand, JsonMatchesTheExpectedCatalogue) {
  const auto r = RunCli({"scan", kIntact, "--range", "0", "8192", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json got = json::parse(r.out);
  std::ifstream in(std::string(OSTREL_TEST_DATA_DIR) + "/conformance/partial-range.expected.json");
  const json expected = json::parse(in);
  EXPECT_EQ(got["bkf"], kIntact);
  EXPECT_EQ(fixtures::CatalogueRecords(got["folders"]), expected["folders"]);
  EXPECT_EQ(fixtures::CatalogueRecords(got["files"]), expected["files"]);
}

TEST(ScanCommand, NamesAreValidUtf8Json) {
  fixtures::TempDir dir;
  fixtures::MtfWriter w;
  w.Volb(u"C:");
  // A quote, a backslash, a control character, a non-ASCII letter and an
  // unpaired surrogate.
  w.File(std::u16string(u"a\"b\\c\x01\u00e9") + char16_t(0xD800), {{"STAN", {1, 2, 3}, {}, 0}});
  const auto r = RunCli({"scan", dir.Write(w), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json got = json::parse(r.out);
  EXPECT_EQ(got["files"][0]["name"], "a\"b\\c\x01\u00e9\uFFFD");
}

TEST(ScanCommand, JsonCompressedCheckKeepsToTheReadLimit) {
  // Each file's data stream ends where the next file's stream header begins,
  // the next FILE block lying inside the data: the walk of every file's
  // streams runs on over all the later ones, so checking each file would read
  // the headers quadratically often. The check stops at four times the
  // backup's size; the files it did not reach show null.
  constexpr std::uint64_t kFiles = 3000, kSpacing = 1200;
  const std::uint64_t firstEvent = fixtures::MtfWriter::FirstEventFor(2 * 5);  // "f.txt"
  fixtures::MtfWriter w;
  w.Volb(u"C:");
  constexpr std::uint64_t first = 4096;
  w.PadTo(first);
  for (std::uint64_t k = 0; k < kFiles; ++k) {
    // The header ends 22 bytes after the first event; the data runs to the
    // next block's first event.
    w.File(u"f.txt", {{"STAN", {}, kSpacing - 22, 0}}, first + k * kSpacing);
  }
  w.PadTo(first + kFiles * kSpacing + firstEvent + 22);
  fixtures::TempDir dir;
  const auto r = RunCli({"scan", dir.Write(w), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json got = json::parse(r.out);
  ASSERT_EQ(got["files"].size(), kFiles);
  std::uint64_t nulls = 0;
  for (const json& f : got["files"]) nulls += f["compressed"].is_null() ? 1 : 0;
  EXPECT_GT(nulls, 0u);
  EXPECT_LT(nulls, kFiles);
  EXPECT_EQ(got["files"][0]["compressed"], false);
  EXPECT_NE(r.err.find("ostrel-bkf: checking whether the files' data is compressed would read this backup more "
                       "than 4 times over (hostile or looping records); \"compressed\" is null from file "),
            std::string::npos)
      << r.err;
}

// A usage error is one line and a pointer to the help, never the whole help.
TEST(Usage, AnErrorIsOneLineAndWhereTheHelpIs) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"scan", "--bogus"}, "ostrel-bkf: unknown option '--bogus'\nTry 'ostrel-bkf scan --help'.\n"},
      {{"extract", kIntact}, "ostrel-bkf: no destination given (--to DIR or --tar OUT)\nTry 'ostrel-bkf extract --help'.\n"},
      {{"list"}, "ostrel-bkf: no snapshot or BKF file given\nTry 'ostrel-bkf list --help'.\n"},
      {{"frobnicate"}, "ostrel-bkf: unknown command 'frobnicate'\nTry 'ostrel-bkf --help'.\n"},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args[0];
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(ScanCommand, ErrorsAndUsage) {
  fixtures::TempDir dir;
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // a part of stderr
  } cases[] = {
      {{}, 2, "Usage: ostrel-bkf COMMAND"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"scan"}, 2, "no BKF file given"},
      {{"scan", "/nonexistent/x.bkf"}, 2, "cannot open '/nonexistent/x.bkf': No such file or directory"},
      {{"scan", dir.Path().string()}, 2, "is a directory"},
      {{"scan", kIntact, "--range", "5"}, 2, "--range needs START and END"},
      {{"scan", kIntact, "--range", "-1", "5"}, 2, "unsigned decimal"},
      {{"scan", kIntact, "--range", "1", "99999999999999999999"}, 2, "unsigned decimal"},
      {{"scan", kIntact, "--range", "100", "50"}, 2, "--range 100 50: START lies past END"},
      {{"scan", kIntact, "--mode", "fast"}, 2, "unknown mode 'fast'"},
      {{"scan", kIntact, "--bogus"}, 2, "unknown option '--bogus'"},
      {{"scan", kIntact, kIntact}, 2, "only one BKF file"},
      {{"scan", kIntact, "--range", "999999", "0"}, 0,
       "Starting range exceeds the file size so parsing of file starts from zero."},
      {{"scan", kIntact, "--range", "0", "999999"}, 0,
       "End range exceeds the file size so file will parse to the end of file size."},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << joined << "\n" << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << joined << "\n" << r.err;
  }
}

TEST(ScanCommand, HelpExplainsEveryOption) {
  const auto top = RunCli({"--help"});
  EXPECT_EQ(top.exitCode, 0);
  EXPECT_NE(top.out.find("scan"), std::string::npos);
  const auto scan = RunCli({"scan", "--help"});
  EXPECT_EQ(scan.exitCode, 0);
  for (const char* option : {"--mode", "--range", "--json"}) {
    EXPECT_NE(scan.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace ostrel
