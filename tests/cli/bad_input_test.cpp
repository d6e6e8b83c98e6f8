// Hostile and broken inputs given to ostrel-bkf as a process: each gets its
// exit code and message; none may crash or hang.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>
#include <nlohmann/json.hpp>

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

struct Case {
  const char* name;
  // Builds the input in the folder and answers the command's arguments.
  std::function<std::vector<std::string>(const TempDir&)> setUp;
  int exitCode;
  std::string stdoutHas;
  std::string stderrHas;
};

const std::vector<Case> kScanCases = {
    {"missing file", [](const TempDir& d) { return std::vector<std::string>{"scan", d.File("none.bkf")}; }, 2, "",
     "No such file or directory"},
    {"a directory", [](const TempDir& d) { return std::vector<std::string>{"scan", d.Path().string()}; }, 2, "",
     "is a directory"},
    // Opening a FIFO without a writer would wait for one: refused at once.
    {"a FIFO",
     [](const TempDir& d) {
       const std::string p = d.File("pipe.bkf");
       ::mkfifo(p.c_str(), 0600);
       return std::vector<std::string>{"scan", p};
     },
     2, "", "BKF must be a regular file or a block device (cannot seek in a pipe)"},
    {"a character device", [](const TempDir&) { return std::vector<std::string>{"scan", "/dev/null"}; }, 2, "",
     "BKF must be a regular file or a block device"},
    {"unreadable file",
     [](const TempDir& d) {
       MtfWriter w;
       w.PadTo(10);
       const std::string p = d.Write(w);
       ::chmod(p.c_str(), 0);
       // Root reads it all the same; then it is merely an empty catalogue.
       return std::vector<std::string>{"scan", p};
     },
     geteuid() == 0 ? 0 : 2, "", geteuid() == 0 ? "" : "Permission denied"},
    {"empty file",
     [](const TempDir& d) { return std::vector<std::string>{"scan", d.Write(MtfWriter{})}; }, 0,
     "Total number of files found: 0", ""},
    {"one byte",
     [](const TempDir& d) {
       MtfWriter w;
       w.PutAscii(0, "F");
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     0, "Total number of files found: 0", ""},
    {"1,023 bytes ending in a cut ID",
     [](const TempDir& d) {
       MtfWriter w;
       w.PutAscii(1020, "FIL");
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     0, "Total number of files found: 0", ""},
    {"1,025 bytes with a block at the last offset",
     [](const TempDir& d) {
       MtfWriter w;
       w.PadTo(1025);
       w.PutAscii(1021, "FILE");
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     0, "Total number of files found: 0", ""},
    {"nothing but block IDs",
     [](const TempDir& d) {
       MtfWriter w;
       for (int i = 0; i < 8192; ++i) w.AppendText(i % 3 == 0 ? "FILE" : i % 3 == 1 ? "DIRB" : "VOLB");
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     0, "Total number of files found: 0", ""},
    {"stream length 2^64 - 1",
     [](const TempDir& d) {
       MtfWriter w;
       w.Volb(u"C:");
       w.File(u"huge", {{"STAN", fixtures::Noise(10, 1), ~std::uint64_t{0}, 0}});
       w.File(u"after", {Stan(10, 5)});
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     0, "[0] after  (10 bytes)\nTotal number of files found: 1", ""},
    {"a name of 511 bytes of unpaired surrogates",
     [](const TempDir& d) {
       MtfWriter w;
       w.Volb(u"C:");
       const std::uint64_t at = w.File(std::u16string(256, char16_t(0xDC01)), {Stan(3, 5)});
       w.PutU16(at + 84, 511);
       return std::vector<std::string>{"scan", d.Write(w), "--json"};
     },
     0, "\xEF\xBF\xBD\xEF\xBF\xBD", ""},
    {"a folder tree 250 levels deep",
     [](const TempDir& d) {
       // Each folder block met before any volume adds a placeholder set and
       // volume below the folder added last: two levels a block.
       MtfWriter w;
       for (int i = 0; i < 125; ++i) w.Dirb(u"x");
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     // Indented 64 levels at most; deeper folders say their level.
     0, "\n" + std::string(2 * 64, ' ') + "(level 250) DUMY VOLUME XX: \\\n", ""},
    {"a folder tree that would nest past 512 levels",
     [](const TempDir& d) {
       // From the 257th block on, the placeholder set starts at the top
       // level again, and the scan says so once.
       MtfWriter w;
       for (int i = 0; i < 300; ++i) w.Dirb(u"x");
       return std::vector<std::string>{"scan", d.Write(w)};
     },
     0, "(level 512) DUMY VOLUME XX: \\\nDUMY SET CREATED \\\n", "note: folders would nest deeper than 512 levels"},
};

// The scan rows in each mode: standard, advanced, advanced with heuristic
// stream IDs (the options go after the BKF argument).
struct ModeCase {
  Case c;
  std::vector<std::string> mode;
};

void PrintTo(const ModeCase& m, std::ostream* os) {
  *os << m.c.name;
  for (const auto& option : m.mode) *os << " " << option;
}

std::vector<ModeCase> InEveryMode(const std::vector<Case>& cases) {
  std::vector<ModeCase> out;
  for (const std::vector<std::string>& mode :
       {std::vector<std::string>{}, {"--mode", "advanced"}, {"--mode", "advanced", "--heuristic"}}) {
    for (const Case& c : cases) out.push_back({c, mode});
  }
  return out;
}

// Where the advanced scan prints something else: it catalogues a FILE block
// by its stream header with the length it declares, and still finds the
// block after it.
const std::map<std::string, std::string> kAdvancedStdout = {
    {"stream length 2^64 - 1",
     "[0] huge  (18,446,744,073,709,551,615 bytes)\n      [1] after  (10 bytes)\nTotal number of files found: 2"},
};

// Where the standard scan says more: a FILE block whose checksum holds but
// whose data runs past the end is left out of the catalogue, said on stderr,
// and counted as a problem.
const std::map<std::string, std::pair<int, std::string>> kStandardEnding = {
    {"stream length 2^64 - 1",
     {1, "left out: huge (18,446,744,073,709,551,615 bytes at offset 1024) runs past the end of the backup"}},
};

class BadInput : public ::testing::TestWithParam<ModeCase> {};

TEST_P(BadInput, ExitCodeAndMessage) {
  const Case& c = GetParam().c;
  TempDir dir;
  auto args = c.setUp(dir);
  args.insert(args.begin() + std::min<std::size_t>(2, args.size()), GetParam().mode.begin(),
              GetParam().mode.end());
  const auto r = RunCli(args);
  const auto standard = kStandardEnding.find(c.name);
  const bool standardSaysMore = GetParam().mode.empty() && standard != kStandardEnding.end();
  EXPECT_EQ(r.exitCode, standardSaysMore ? standard->second.first : c.exitCode) << r.err;
  if (standardSaysMore) {
    EXPECT_NE(r.err.find(standard->second.second), std::string::npos) << r.err;
  }
  const auto advanced = kAdvancedStdout.find(c.name);
  const std::string& stdoutHas =
      !GetParam().mode.empty() && advanced != kAdvancedStdout.end() ? advanced->second : c.stdoutHas;
  EXPECT_NE(r.out.find(stdoutHas), std::string::npos) << r.out.substr(0, 2000);
  EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
  if (!args.empty() && args.back() == "--json" && r.exitCode == 0) {
    EXPECT_TRUE(nlohmann::json::accept(r.out));
  }
}

INSTANTIATE_TEST_SUITE_P(Scan, BadInput, ::testing::ValuesIn(InEveryMode(kScanCases)), [](const auto& info) {
  std::string n = info.param.c.name;
  for (const auto& m : info.param.mode) n += "_" + m;
  for (char& ch : n) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

// A name holding an escape sequence, a newline or a C1 control cannot drive
// the terminal, and one holding a bidirectional override or a zero-width
// character cannot pass for another name there: the tree shows them escaped,
// JSON keeps them exact, and on disk control characters are '_'.
TEST(HostileNames, ControlCharactersNeverReachTheTerminalOrTheDisk) {
  const struct {
    std::u16string stored;
    std::string json;      // the name in UTF-8, exact
    std::string terminal;  // as the tree shows it
    std::string disk;
  } cases[] = {
      {u"\x1B[31mRED\x1B[0m\nline.txt", "\x1B[31mRED\x1B[0m\nline.txt", "\\e[31mRED\\e[0m\\nline.txt",
       "_[31mRED_[0m_line.txt"},
      // U+009B starts a control sequence on some terminals.
      {u"a\u009B31mb\u0085.txt", "a\xC2\x9B" "31mb\xC2\x85.txt", "a?31mb?.txt", "a_31mb_.txt"},
      // "invoice<RLO>txt.exe" reads as "invoiceexe.txt".
      {u"invoice\u202Etxt.exe", "invoice\xE2\x80\xAEtxt.exe", "invoice\\u202etxt.exe",
       "invoice\xE2\x80\xAEtxt.exe"},
      {u"\uFEFFa\u200Bb\u2066c\u2069.txt", "\xEF\xBB\xBF" "a\xE2\x80\x8B" "b\xE2\x81\xA6" "c\xE2\x81\xA9.txt",
       "\\ufeffa\\u200bb\\u2066c\\u2069.txt",
       "\xEF\xBB\xBF" "a\xE2\x80\x8B" "b\xE2\x81\xA6" "c\xE2\x81\xA9.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.terminal);
    TempDir dir;
    MtfWriter w;
    w.Tape(u"Tape");
    w.Sset(1, u"Set");
    w.Volb(u"C:");
    w.File(c.stored, {Stan("red")});
    w.Bare("ESET");
    const std::string bkf = dir.Write(w);

    const auto tree = RunCli({"scan", bkf});
    EXPECT_EQ(tree.exitCode, 0) << tree.err;
    EXPECT_NE(tree.out.find("[0] " + c.terminal + "  (3 bytes)"), std::string::npos) << tree.out;
    EXPECT_EQ(tree.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(tree.out.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_EQ(tree.out.find("\xC2\x9B"), std::string::npos);

    const auto json = RunCli({"scan", bkf, "--json"});
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out)["files"][0]["name"], c.json);

    const auto saved = RunCli({"extract", bkf, "--to", dir.File("out"), "--flat"});
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(fixtures::ReadText(dir.File("out/" + c.disk)), "red");
    EXPECT_EQ(saved.out.find('\x1B'), std::string::npos);
  }
}

// A backup of one file of 4 GiB of zeros, written as `name` in `dir`: the
// backup holds its header, and the rest of the file is a hole that reads as
// zeros, so the copy takes long enough to be interrupted.
std::string BigFileBackup(const TempDir& dir) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  constexpr std::uint64_t kLength = 4ull << 30;
  w.File(u"big.bin", {fixtures::StanWithLength({}, kLength)});
  const std::string bkf = dir.Write(w);
  std::filesystem::resize_file(bkf, std::filesystem::file_size(bkf) + kLength + 4096);
  return bkf;
}

// The names in `folder` that end in ".partial".
std::vector<std::string> PartialFiles(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (e.path().filename().string().ends_with(".partial")) out.push_back(e.path().filename().string());
  }
  return out;
}

// Runs `extract BKF --to OUT --flat` and sends `signal` once the copy of the
// big file has begun (its temporary file exists).
fixtures::ProcessResult ExtractAndSignal(const std::string& bkf, const std::string& out, int signal) {
  return fixtures::RunProcess(OSTREL_CLI_PATH, {"extract", bkf, "--to", out, "--flat"}, [&](pid_t pid) {
    for (int i = 0; i < 2000 && PartialFiles(out).empty(); ++i) ::usleep(5000);
    ::usleep(50000);
    ::kill(pid, signal);
  });
}

// Ctrl-C, TERM, a closed terminal (HUP) or a reader of the output that went
// away (PIPE) during the extraction of a large file: the file being written
// is removed (nothing stays under its final name, no temporary file either),
// the summary is printed, and the exit code says which signal ended it.
TEST(Interrupt, ExtractionEndsCleanlyOnEachSignalThatAsksToStop) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    const std::string bkf = BigFileBackup(dir);
    const std::string out = dir.File("out");
    const auto r = ExtractAndSignal(bkf, out, signal);
    EXPECT_EQ(r.exitCode, 128 + signal) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out + "/big.bin"));
    EXPECT_EQ(PartialFiles(out), std::vector<std::string>{});
    EXPECT_NE(r.out.find("Files written: 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("incomplete: "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  }
}

// Killed outright (SIGKILL, a second Ctrl-C, a power cut): the run can
// remove nothing, and leaves at most the temporary file, never a short
// file under the file's own name.
TEST(Interrupt, AKilledExtractionLeavesNoFileUnderItsName) {
  TempDir dir;
  const std::string bkf = BigFileBackup(dir);
  const std::string out = dir.File("out");
  const auto r = ExtractAndSignal(bkf, out, SIGKILL);
  EXPECT_EQ(r.exitCode, -1);  // killed
  EXPECT_FALSE(std::filesystem::exists(out + "/big.bin"));
  const std::vector<std::string> partial = PartialFiles(out);
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_EQ(partial[0].rfind(".big.bin.ostrel-", 0), 0u) << partial[0];
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()), 1);
}

}  // namespace
}  // namespace ostrel
