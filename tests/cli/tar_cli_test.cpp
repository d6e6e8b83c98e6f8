// ostrel-bkf extract --tar run as a process, its archives read back with the
// system's tar: paths, contents, dates, modes, long names and names outside
// ASCII under the C locale; the same tree as the folder extraction; files
// with problems left out; output that cannot be written; the read limit;
// usage errors.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
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
using fixtures::FilesBelow;
using fixtures::MtfWriter;
using fixtures::ProcessResult;
using fixtures::ReadText;
using fixtures::RunCli;
using fixtures::RunProcess;
using fixtures::Stan;
using fixtures::TempDir;
using fixtures::Text;
using Bytes = std::vector<std::uint8_t>;

const std::string kCli = OSTREL_CLI_PATH;

ProcessResult Bash(const std::string& command) { return RunProcess("/bin/bash", {"-c", command}); }
std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Files and folders below `root`, each with its content ("" for a folder)
// and its modification time.
struct Node {
  bool folder = false;
  std::string content;
  std::int64_t modified = 0;
};
std::map<std::string, Node> TreeBelow(const fs::path& root) {
  std::map<std::string, Node> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    if (::lstat(e.path().c_str(), &st) != 0) continue;
    Node& n = out[fs::relative(e.path(), root).string()];
    n.folder = S_ISDIR(st.st_mode);
    if (!n.folder) n.content = ReadText(e.path());
    n.modified = st.st_mtim.tv_sec;
  }
  return out;
}

// One line of `tar -tv --numeric-owner --full-time`.
struct Listed {
  std::string mode, owner;
  std::uint64_t size = 0;
  std::string date, name;
};
std::vector<Listed> Listing(const std::string& text) {
  std::vector<Listed> out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    Listed l;
    std::string day, time;
    fields >> l.mode >> l.owner >> l.size >> day >> time;
    l.date = day + " " + time;
    std::getline(fields, l.name);
    if (!l.name.empty()) l.name.erase(0, 1);
    out.push_back(l);
  }
  return out;
}

// `tar` (in a UTF-8 locale, names printed as they are) over the archive
// file `archive`.
ProcessResult Tar(const std::string& arguments, const std::string& archive) {
  return Bash("LC_ALL=C.UTF-8 tar --quoting-style=literal --numeric-owner --full-time " + arguments + " -f " +
              Quoted(archive));
}

const std::string kC = "Tape/SET 1 :Set/C:/";

// Dated folders and files, a name of 154 bytes, one outside ASCII, a date
// before 1970, twin names, a compressed file and an empty one.
std::string DatedBackup(const TempDir& dir) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.SetDate(w.Dirb(u"Docs"), MtfWriter::PackDate(2009, 3, 1, 8, 0, 0));
  w.SetDate(w.File(u"a.txt", {Stan("alpha")}), MtfWriter::PackDate(2011, 7, 22, 11, 32, 40));
  w.SetDate(w.File(std::u16string(150, u'n') + u".txt", {Stan("long")}), MtfWriter::PackDate(2004, 2, 29, 23, 59, 59));
  w.SetDate(w.File(u"caf\u00e9 \u6587.txt", {Stan("unicode")}), MtfWriter::PackDate(1960, 1, 4, 0, 0, 0));
  w.File(u"a.txt", {Stan("second alpha")});
  w.SetDate(w.Dirb(u"Logs\\2010"), MtfWriter::PackDate(2010, 12, 31, 10, 0, 0));
  w.SetDate(w.File(u"packed.log", {Stan(fixtures::CompressFrames(Text(std::string(100000, 'z'))))}),
            MtfWriter::PackDate(2010, 12, 31, 10, 0, 0));
  w.File(u"empty.txt", {Stan(Bytes{})});
  w.Bare("ESET");
  return dir.Write(w);
}

TEST(TarCommand, TheSystemsTarReadsTheArchiveBack) {
  TempDir dir;
  const std::string bkf = DatedBackup(dir);
  const std::string archive = dir.File("out.tar");
  const std::int64_t before = std::time(nullptr);
  // The C locale: the names outside ASCII must come out as UTF-8 all the same.
  const auto r = Bash("LC_ALL=C LANG=C " + kCli + " extract " + Quoted(bkf) + " --tar " + Quoted(archive));
  const std::int64_t after = std::time(nullptr);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;  // every line goes to stderr
  EXPECT_NE(r.err.find("Files written: 6 (1 empty)\nBytes written: 100,028\nFiles with problems: 0\n"),
            std::string::npos)
      << r.err;

  const auto list = Tar("-tv", archive);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const std::string longName = std::string(150, 'n') + ".txt";
  const std::string unicode = "caf\xC3\xA9 \xE6\x96\x87.txt";
  // Each folder once, before its first file; files in catalogue order.
  const std::vector<Listed> expected = {
      {"drwxr-xr-x", "0/0", 0, "", "Tape/"},
      {"drwxr-xr-x", "0/0", 0, "", "Tape/SET 1 :Set/"},
      {"drwxr-xr-x", "0/0", 0, "", kC},
      {"drwxr-xr-x", "0/0", 0, "2009-03-01 08:00:00", kC + "Docs/"},
      {"-rw-r--r--", "0/0", 5, "2011-07-22 11:32:40", kC + "Docs/a.txt"},
      {"-rw-r--r--", "0/0", 4, "2004-02-29 23:59:59", kC + "Docs/" + longName},
      {"-rw-r--r--", "0/0", 7, "1960-01-04 00:00:00", kC + "Docs/" + unicode},
      {"-rw-r--r--", "0/0", 12, "", kC + "Docs/a (2).txt"},
      {"drwxr-xr-x", "0/0", 0, "", kC + "Logs/"},
      {"drwxr-xr-x", "0/0", 0, "2010-12-31 10:00:00", kC + "Logs/2010/"},
      {"-rw-r--r--", "0/0", 100000, "2010-12-31 10:00:00", kC + "Logs/2010/packed.log"},
      {"-rw-r--r--", "0/0", 0, "", kC + "Logs/2010/empty.txt"},
  };
  const std::vector<Listed> got = Listing(list.out);
  ASSERT_EQ(got.size(), expected.size()) << list.out;
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(got[i].name, expected[i].name);
    EXPECT_EQ(got[i].mode, expected[i].mode);
    EXPECT_EQ(got[i].owner, expected[i].owner);
    EXPECT_EQ(got[i].size, expected[i].size);
    if (!expected[i].date.empty()) {
      EXPECT_EQ(got[i].date, expected[i].date);
    }
  }

  const std::string out = dir.File("x");
  fs::create_directory(out);
  const auto x = Tar("-x -C " + Quoted(out), archive);
  ASSERT_EQ(x.exitCode, 0) << x.err;
  const auto tree = TreeBelow(out);
  EXPECT_EQ(tree.at(kC + "Docs/a.txt").content, "alpha");
  EXPECT_EQ(tree.at(kC + "Docs/a (2).txt").content, "second alpha");
  EXPECT_EQ(tree.at(kC + "Docs/" + longName).content, "long");
  EXPECT_EQ(tree.at(kC + "Docs/" + unicode).content, "unicode");
  EXPECT_EQ(tree.at(kC + "Logs/2010/packed.log").content, std::string(100000, 'z'));
  EXPECT_EQ(tree.at(kC + "Docs/" + unicode).modified, -315360000);
  // What has no date in the backup takes the time of the run.
  for (const std::string& undated : {std::string("Tape"), kC + "Docs/a (2).txt", kC + "Logs"}) {
    EXPECT_GE(tree.at(undated).modified, before) << undated;
    EXPECT_LE(tree.at(undated).modified, after) << undated;
  }

  // The name outside ASCII is a UTF-8 pax path record, not one marked as
  // binary; a long name gets one too.
  const std::string bytes = ReadText(archive);
  EXPECT_NE(bytes.find(" path=" + kC + "Docs/" + unicode + "\n"), std::string::npos);
  EXPECT_NE(bytes.find(" path=" + kC + "Docs/" + longName + "\n"), std::string::npos);
  EXPECT_EQ(bytes.find("hdrcharset"), std::string::npos);
}

TEST(TarCommand, ExtractedItIsTheTreeTheFolderExtractionWrites) {
  TempDir dir;
  const std::string bkf = DatedBackup(dir);
  const std::string snapshot = dir.File("dated.KVSNAPSHOT");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", snapshot}).exitCode, 0);
  const struct {
    const char* name;
    std::vector<std::string> source;
    std::vector<std::string> options;
  } cases[] = {
      {"hierarchy", {bkf}, {}},
      {"flat", {bkf}, {"--flat"}},
      {"portable names", {bkf}, {"--portable-names"}},
      {"no dates", {bkf}, {"--no-dates"}},
      {"a selection", {bkf}, {"--pattern", "a*", "--index", "5"}},
      {"damaged files left out (there are none)", {bkf}, {"--skip-damaged", "--mode", "advanced"}},
      {"from a snapshot (which keeps no dates)", {"--from-snapshot", snapshot}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir.File("folder"), untarred = dir.File("untarred");
    fs::remove_all(folder);
    fs::remove_all(untarred);
    fs::create_directory(untarred);
    std::vector<std::string> args = {"extract"};
    args.insert(args.end(), c.source.begin(), c.source.end());
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string command = kCli;
    for (const std::string& a : args) command += " " + Quoted(a);

    const std::int64_t before = std::time(nullptr);
    args.insert(args.end(), {"--to", folder});
    const auto extracted = RunCli(args);
    ASSERT_EQ(extracted.exitCode, 0) << extracted.out << extracted.err;
    const auto piped = Bash("set -o pipefail; " + command + " --tar - | tar -xf - -C " + Quoted(untarred));
    ASSERT_EQ(piped.exitCode, 0) << piped.out << piped.err;
    const std::int64_t after = std::time(nullptr);

    const auto want = TreeBelow(folder), got = TreeBelow(untarred);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [path, node] : want) {
      SCOPED_TRACE(path);
      ASSERT_EQ(got.count(path), 1u);
      EXPECT_EQ(got.at(path).folder, node.folder);
      EXPECT_EQ(got.at(path).content, node.content);
      // A date from the backup is the same; the time of the run is the time
      // of either run.
      if (node.modified < before) {
        EXPECT_EQ(got.at(path).modified, node.modified);
      } else {
        EXPECT_GE(got.at(path).modified, before);
        EXPECT_LE(got.at(path).modified, after);
      }
    }
  }
}

// A backup of one file of 1 MiB: more than a pipe holds.
std::string MegabyteBackup(const TempDir& dir) {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"big.bin", {Stan(std::size_t{1} << 20)});
  w.Bare("ESET");
  return dir.Write(w);
}

TEST(TarCommand, OutputThatCannotBeWrittenEndsTheRunWithTheReason) {
  TempDir dir;
  const std::string run = kCli + " extract " + Quoted(MegabyteBackup(dir));
  const struct {
    std::string command;
    std::string err;
  } cases[] = {
      {run + " --tar - | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}",
       "ostrel-bkf: cannot write the tar stream to '-': Broken pipe\n"},
      {run + " --tar /dev/full", "ostrel-bkf: cannot write the tar stream to '/dev/full': No space left on device\n"},
      {run + " --tar - >/dev/full", "ostrel-bkf: cannot write the tar stream to '-': No space left on device\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const auto r = Bash(c.command);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

TEST(TarCommand, FilesThatCannotBeRecoveredAreLeftOutAndSaidOnStderr) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"good.txt", {Stan("good")});
  w.File(u"later.txt", {Stan(Text("rest of a file"), /*continuation*/ 1)});
  w.File(u"empty.txt", {Stan(Bytes{})});
  const std::uint64_t split = w.File(u"split.txt", {Stan("12345678")});
  // A soft filemark where the stream after split.txt's data should start.
  w.Bare("SFMB", split + MtfWriter::FirstEventFor(18) + 32);
  // The backup ends inside cut.bin's data (which the scan takes only from a
  // backup longer than the data it promises).
  const std::uint64_t cut = w.File(u"cut.bin", {Stan(Bytes(50000, 'c'))}, 65536);
  w.Bytes().resize(cut + MtfWriter::FirstEventFor(14) + 22 + 20000);
  const std::string bkf = dir.Write(w);

  const auto r = RunCli({"extract", bkf, "--tar", "-", "--flat"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const std::string folder = "TAPE CREATED \\SET CREATED \\C:\\";
  for (const std::string& line :
       {"not extracted: " + folder + "later.txt: its data begins on an earlier medium",
        "not extracted: " + folder + "split.txt: its data continues after a soft filemark",
        std::string("cut short: cut.bin: cut short by the end of the backup: 18,976 of 50,000 bytes\n"),
        std::string("Files written: 3 (1 empty)\nBytes written: 18,980\nFiles with problems: 3\n")}) {
    EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
  }
  // Standard output is the archive and nothing else.
  const std::string archive = dir.File("out.tar");
  ASSERT_TRUE(fixtures::WriteBytes(archive, Bytes(r.out.begin(), r.out.end())));
  EXPECT_EQ(r.out.size() % 512, 0u);
  const auto list = Tar("-tv", archive);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const std::vector<Listed> got = Listing(list.out);
  ASSERT_EQ(got.size(), 3u) << list.out;
  EXPECT_EQ(got[0].name, "good.txt");
  EXPECT_EQ(got[1].name, "empty.txt");
  EXPECT_EQ(got[2].name, "cut.bin");
  EXPECT_EQ(got[2].size, 18976u);
}

// The tool with the byte ranges `bad` ("OFFSET+LENGTH") failing as bad sectors.
ProcessResult RunOnFailingDisk(const std::string& bad, const std::vector<std::string>& args) {
  ::setenv("OSTREL_BAD_RANGES", bad.c_str(), 1);
  auto r = RunProcess(OSTREL_FAILING_CLI_PATH, args);
  ::unsetenv("OSTREL_BAD_RANGES");
  return r;
}

TEST(TarCommand, DamagedFilesAreWrittenWithZerosOrLeftOut) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"a.txt", {Stan("aa")});
  const Bytes big = fixtures::Noise(40000, 9);
  const std::uint64_t bigData = w.File(u"big.bin", {Stan(big)}) + MtfWriter::FirstEventFor(14) + 22;
  w.File(u"packed.log", {Stan(fixtures::CompressFrames(Text(std::string(70000, 'p'))))});
  w.Bare("ESET");
  const std::string bkf = dir.Write(w);
  const std::uint64_t piece = (bigData + 10000) / 4096 * 4096;
  const std::string bad = std::to_string(piece) + "+4096";
  const std::string unreadable = "4,096 bytes unreadable at offset " + std::to_string(piece) + " in the backup";
  const std::string out = dir.File("out");

  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string line;
    std::map<std::string, std::string> files;
  } cases[] = {
      {"written with zeros",
       {},
       "damaged: big.bin: " + unreadable + "; written with zeros there\n",
       {{"a.txt", "aa"},
        {"big.bin", std::string(big.begin(), big.begin() + static_cast<std::ptrdiff_t>(piece - bigData)) +
                        std::string(4096, '\0') +
                        std::string(big.begin() + static_cast<std::ptrdiff_t>(piece + 4096 - bigData), big.end())},
        {"packed.log", std::string(70000, 'p')}}},
      {"left out",
       {"--skip-damaged"},
       "not extracted: TAPE CREATED \\SET CREATED \\C:\\big.bin: " + unreadable + "; left out",
       {{"a.txt", "aa"}, {"packed.log", std::string(70000, 'p')}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"extract", bkf, "--tar", "-", "--flat"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto r = RunOnFailingDisk(bad, args);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
    const std::string archive = dir.File("out.tar");
    ASSERT_TRUE(fixtures::WriteBytes(archive, Bytes(r.out.begin(), r.out.end())));
    fs::remove_all(out);
    fs::create_directory(out);
    const auto x = Tar("-x -C " + Quoted(out), archive);
    ASSERT_EQ(x.exitCode, 0) << x.err;
    EXPECT_EQ(FilesBelow(out), c.files);
  }
}

// A backup whose every file's data runs on to its end (kept in the
// regression fixtures): the limit ends the run between two entries, never
// inside one.
TEST(TarCommand, TheReadLimitNeverCutsAnEntry) {
  TempDir dir;
  const std::string bkf = (fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "regress" /
                           "bkf-second-stan-past-end").string();
  const auto r = RunCli({"extract", bkf, "--tar", "-"});
  EXPECT_EQ(r.exitCode, 1);
  const std::string message = "the catalogue would read this backup's data more than 4 times over (hostile or "
                              "looping records); stopped after ";
  const std::size_t at = r.err.find(message);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::uint64_t files = std::stoull(r.err.substr(at + message.size()));
  const std::string archive = dir.File("limited.tar");
  ASSERT_TRUE(fixtures::WriteBytes(archive, Bytes(r.out.begin(), r.out.end())));
  const std::string out = dir.File("out");
  fs::create_directory(out);
  const auto x = Tar("-x -C " + Quoted(out), archive);
  ASSERT_EQ(x.exitCode, 0) << x.err;  // whole: no entry ends early
  EXPECT_EQ(FilesBelow(out).size(), files);

  const auto lifted = Bash(kCli + " extract " + Quoted(bkf) + " --tar - --no-read-limit | tar -t | grep -vc '/$'");
  EXPECT_GT(std::stoull(lifted.out), files) << lifted.err;
}

// A backslash inside a name is one character on Linux, but an extractor on
// Windows would take "..\\..\\x" for a path that climbs out of its folder:
// the archive gets the portable name, and a line says so.
TEST(TarCommand, BackslashesInNamesNeverReachTheArchive) {
  TempDir dir;
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.File(u"..\\..\\evil.txt", {Stan("evil")});
  w.File(u"plain.txt", {Stan("plain")});
  w.Bare("ESET");
  const std::string archive = dir.File("out.tar");
  const auto r = RunCli({"extract", dir.Write(w), "--tar", archive});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("as '" + kC + ".._.._evil.txt' (the destination refuses '\\')"), std::string::npos) << r.err;
  const auto listed = Tar("-t", archive);
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_EQ(listed.out.find('\\'), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find(kC + ".._.._evil.txt\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find(kC + "plain.txt\n"), std::string::npos) << listed.out;
}

TEST(TarCommand, UsageErrorsAndWhereTheArchiveMayGo) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"a.txt", {Stan("a")});
  w.Bare("ESET");
  const std::string bkf = dir.Write(w);
  const std::string kept = dir.File("kept.tar");
  fixtures::WriteBytes(kept, Text("the user's file"));
  fs::create_directory(dir.File("folder"));
  fs::create_symlink(kept, dir.File("link.tar"));
  const std::string exists = "it exists, and a recovery never replaces a file";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"extract", bkf, "--tar", dir.File("new.tar"), "--to", dir.File("o")}, "--to and --tar are two destinations"},
      {{"extract", bkf, "--tar", dir.File("new.tar"), "--overwrite"}, "--overwrite replaces files in a folder"},
      {{"extract", bkf, "--tar"}, "--tar needs a file, or '-' for standard output"},
      {{"extract", bkf, "--tar="}, "--tar needs a file, or '-' for standard output"},
      {{"extract", bkf}, "no destination given (--to DIR or --tar OUT)"},
      {{"extract", bkf, "--tar", kept}, "cannot write the tar stream to '" + kept + "': " + exists},
      {{"extract", bkf, "--tar", dir.File("folder")}, exists},
      {{"extract", bkf, "--tar", dir.File("link.tar")}, exists},
      {{"extract", bkf, "--tar", dir.File("missing/new.tar")},
       "cannot write the tar stream to '" + dir.File("missing/new.tar") + "': No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(ReadText(kept), "the user's file");
  EXPECT_FALSE(fs::exists(dir.File("new.tar")));
  EXPECT_FALSE(fs::exists(dir.File("o")));

  // A device and a FIFO are written to as they are.
  EXPECT_EQ(RunCli({"extract", bkf, "--tar", "/dev/null"}).exitCode, 0);
  const auto fifo = Bash("cd " + Quoted(dir.Path().string()) + " && mkfifo pipe && { cat pipe > copy.tar & } && " +
                         kCli + " extract " + Quoted(bkf) + " --tar pipe; s=$?; wait; exit $s");
  ASSERT_EQ(fifo.exitCode, 0) << fifo.err;
  EXPECT_EQ(Tar("-t", dir.File("copy.tar")).out, "TAPE CREATED /\nTAPE CREATED /SET CREATED /\n"
                                                 "TAPE CREATED /SET CREATED /C:/\nTAPE CREATED /SET CREATED /C:/a.txt\n");

  const auto help = RunCli({"extract", "--help"});
  EXPECT_NE(help.out.find("ostrel-bkf extract BKF --tar OUT|-"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace ostrel
