// ostrel-bkf as people use it from a shell: the GNU option forms, help
// COMMAND, the catalogue index in the tree, readable sizes, list given either
// input, the folder path and compression in JSON, messages that name the
// file on disk, and the note for a file without a single block.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/files.h"
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
using fixtures::RunCli;
using fixtures::Stan;
using fixtures::TempDir;
using fixtures::Text;
using nlohmann::json;

const char kNoBlocks[] = "ostrel-bkf: no MTF block found: this does not look like a BKF file\n";

// Tape / SET 1 :Set / C: / Docs holding notes.txt (20,690 bytes), a.doc,
// packed.log (compressed) and, in Docs\2009, b.xls. In the backup's order the
// indices are notes.txt 0, a.doc 1, packed.log 2, b.xls 3.
std::string Backup(const TempDir& dir, const std::string& name = "test.bkf") {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.Dirb(u"Docs");
  w.File(u"notes.txt", {Stan(20690, 3)});
  w.File(u"a.doc", {Stan("doc")});
  w.File(u"packed.log", {Stan(fixtures::CompressFrames(Text(std::string(70000, 'p'))))});
  w.Dirb(u"Docs\\2009");
  w.File(u"b.xls", {Stan("xls")});
  w.Bare("ESET");
  return dir.Write(w, name);
}

std::string Joined(const std::vector<std::string>& args) {
  std::string s;
  for (const auto& a : args) s += a + " ";
  return s;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& [path, content] : FilesBelow(folder)) names.insert(path);
  return names;
}

// Each spelling of an option does what the plain long form does.
TEST(OptionForms, EverySpellingSelectsTheSameFiles) {
  TempDir dir;
  const std::string bkf = Backup(dir);
  const std::string dashed = dir.File("-dash.bkf");
  fs::copy_file(bkf, dashed);
  const std::string dest = dir.File("out");
  const std::set<std::string> all = {"notes.txt", "a.doc", "packed.log", "b.xls"};
  const struct {
    std::vector<std::string> args;  // after "extract"; DEST is the destination
    std::set<std::string> files;
  } cases[] = {
      {{bkf, "--to", "DEST", "--flat"}, all},
      {{bkf, "--to=DEST", "--flat"}, all},
      {{bkf, "-o", "DEST", "--flat"}, all},
      {{bkf, "-oDEST", "--flat"}, all},
      {{bkf, "--flat", "-o", "DEST", "--pattern", "*.doc"}, {"a.doc"}},
      {{bkf, "--flat", "-o", "DEST", "--pattern=*.doc"}, {"a.doc"}},
      {{bkf, "--flat", "-o", "DEST", "-p", "*.doc"}, {"a.doc"}},
      {{bkf, "--flat", "-o", "DEST", "-p*.doc"}, {"a.doc"}},
      {{bkf, "--flat", "-o", "DEST", "--index=3"}, {"b.xls"}},
      {{bkf, "--flat", "-o", "DEST", "-i", "3"}, {"b.xls"}},
      {{bkf, "--flat", "-o", "DEST", "-i3", "-i", "1"}, {"a.doc", "b.xls"}},
      {{bkf, "--flat", "-o", "DEST", "-m", "advanced", "-i", "0"}, {"notes.txt"}},
      {{bkf, "--flat", "-o", "DEST", "--mode=advanced", "--heuristic", "-i", "0"}, {"notes.txt"}},
      {{bkf, "--flat", "-o", "DEST", "--range=0", "0", "-i", "0"}, {"notes.txt"}},
      // "--" ends the options: a file whose name begins with '-' is an operand.
      {{"--flat", "-o", "DEST", "--", dashed}, all},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"extract"};
    for (const std::string& a : c.args) {
      std::string arg = a;
      if (const auto at = arg.find("DEST"); at != std::string::npos) arg.replace(at, 4, dest);
      args.push_back(arg);
    }
    SCOPED_TRACE(Joined(args));
    fs::remove_all(dest);
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Names(dest), c.files);
  }
}

TEST(OptionForms, MisusedOptionsAreOneLineErrors) {
  TempDir dir;
  const std::string bkf = Backup(dir);
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"scan", bkf, "--json=yes"}, "ostrel-bkf: option '--json' takes no value\nTry 'ostrel-bkf scan --help'.\n"},
      {{"extract", bkf, "-o", dir.File("o"), "--flat=1"},
       "ostrel-bkf: option '--flat' takes no value\nTry 'ostrel-bkf extract --help'.\n"},
      {{"scan", "-o", dir.File("o"), bkf}, "ostrel-bkf: unknown option '-o'\nTry 'ostrel-bkf scan --help'.\n"},
      {{"scan", bkf, "--mode="}, "ostrel-bkf: unknown mode '' (standard or advanced)\nTry 'ostrel-bkf scan --help'.\n"},
      {{"extract", bkf, "-o"}, "ostrel-bkf: --to needs a folder\nTry 'ostrel-bkf extract --help'.\n"},
      // Without "--" a name that begins with '-' is taken for an option.
      {{"scan", "-dash.bkf"}, "ostrel-bkf: unknown option '-dash.bkf'\nTry 'ostrel-bkf scan --help'.\n"},
      {{"list", "--json", "--", "a", "b"}, "ostrel-bkf: only one snapshot or BKF file can be listed\nTry 'ostrel-bkf list --help'.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_FALSE(fs::exists(dir.File("o")));
}

TEST(HelpCommand, PrintsTheHelpOfTheCommand) {
  for (const char* command : {"scan", "extract", "list"}) {
    SCOPED_TRACE(command);
    const auto asked = RunCli({"help", command});
    EXPECT_EQ(asked.exitCode, 0) << asked.err;
    EXPECT_EQ(asked.out.rfind(std::string("Usage: ostrel-bkf ") + command + " ", 0), 0u) << asked.out;
    EXPECT_EQ(asked.out, RunCli({command, "--help"}).out);
    EXPECT_EQ(asked.out, RunCli({command, "-h"}).out);
  }
  const auto top = RunCli({"help"});
  EXPECT_EQ(top.exitCode, 0);
  EXPECT_EQ(top.out, RunCli({"--help"}).out);
  EXPECT_NE(top.out.find("help COMMAND"), std::string::npos);
  const auto unknown = RunCli({"help", "frobnicate"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_EQ(unknown.err, "ostrel-bkf: unknown command 'frobnicate'\nTry 'ostrel-bkf --help'.\n");
}

// The index in brackets is the one --index takes, in either mode: every
// "[N] name" line of the tree extracts exactly that file.
TEST(IndexColumn, TheTreeShowsTheIndexThatExtractTakes) {
  TempDir dir;
  const std::string bkf = Backup(dir);
  for (const std::vector<std::string>& mode : {std::vector<std::string>{}, {"--mode", "advanced"}}) {
    SCOPED_TRACE(Joined(mode));
    std::vector<std::string> scan = {"scan", bkf};
    scan.insert(scan.end(), mode.begin(), mode.end());
    const auto tree = RunCli(scan);
    ASSERT_EQ(tree.exitCode, 0) << tree.err;
    std::size_t lines = 0;
    std::istringstream in(tree.out);
    for (std::string line; std::getline(in, line);) {
      // "        [N] name  (size bytes)"
      const std::size_t open = line.find('['), close = line.find("] "), size = line.rfind("  (");
      if (open == std::string::npos || close == std::string::npos || size == std::string::npos) continue;
      const std::string index = line.substr(open + 1, close - open - 1);
      const std::string name = line.substr(close + 2, size - close - 2);
      const std::string dest = dir.File("one");
      fs::remove_all(dest);
      std::vector<std::string> extract = {"extract", bkf, "--flat", "-o", dest, "--index", index};
      extract.insert(extract.end(), mode.begin(), mode.end());
      ASSERT_EQ(RunCli(extract).exitCode, 0) << line;
      EXPECT_EQ(Names(dest), std::set<std::string>{name}) << line;
      ++lines;
    }
    EXPECT_EQ(lines, 4u) << tree.out;
  }
}

TEST(Sizes, ThousandsSeparatorsUnlessBytesIsGiven) {
  TempDir dir;
  const std::string bkf = Backup(dir);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", snap}).exitCode, 0);
  const struct {
    std::vector<std::string> args;
    std::string has;
  } cases[] = {
      {{"scan", bkf}, "        [0] notes.txt  (20,690 bytes)\n"},
      {{"scan", bkf, "--bytes"}, "        [0] notes.txt  (20690 bytes)\n"},
      {{"list", snap}, "        [0] notes.txt  (20,690 bytes)\n"},
      {{"list", snap, "--bytes"}, "        [0] notes.txt  (20690 bytes)\n"},
      {{"extract", bkf, "-o", dir.File("a"), "-i", "0"}, "Files written: 1 (0 empty)\nBytes written: 20,690\n"},
      {{"extract", bkf, "-o", dir.File("b"), "-i", "0", "--bytes"}, "Files written: 1 (0 empty)\nBytes written: 20690\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(c.has), std::string::npos) << r.out;
  }
  // JSON stays raw.
  const json doc = json::parse(RunCli({"scan", bkf, "--json"}).out);
  EXPECT_EQ(doc["files"][0]["dataLength"], 20690);
}

// list takes a snapshot or a BKF file and tells them apart by content, not by
// the name's extension.
// Content decides, but for a name ending in .KVSNAPSHOT: such a file is
// always read as a snapshot, so that a damaged one is refused with the reason
// instead of being scanned as a BKF file that holds nothing.
TEST(ListCommand, TellsASnapshotFromABkfFileByContent) {
  TempDir dir;
  const std::string named = Backup(dir, "backup.kvSnapshot");
  const auto refused = RunCli({"list", named});
  EXPECT_EQ(refused.exitCode, 2) << refused.out;
  EXPECT_NE(refused.err.find("cannot load the snapshot '" + named + "': "), std::string::npos) << refused.err;
  const std::string bkf = Backup(dir, "backup.bak");
  const std::string snap = dir.File("snapshot.bkf");
  const auto scan = RunCli({"scan", bkf, "--snapshot", snap});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;

  const auto listedBkf = RunCli({"list", bkf});
  EXPECT_EQ(listedBkf.exitCode, 0) << listedBkf.err;
  EXPECT_EQ(listedBkf.out, scan.out);
  EXPECT_TRUE(listedBkf.err.empty()) << listedBkf.err;

  const auto listedSnap = RunCli({"list", snap});
  EXPECT_EQ(listedSnap.exitCode, 0) << listedSnap.err;
  EXPECT_EQ(listedSnap.out, "BKF file: " + bkf + " (can be opened)\n" + scan.out);

  const json fromBkf = json::parse(RunCli({"list", bkf, "--json"}).out);
  const json fromSnap = json::parse(RunCli({"list", snap, "--json"}).out);
  EXPECT_EQ(fromBkf["files"], fromSnap["files"]);
  EXPECT_EQ(fromBkf["folders"], fromSnap["folders"]);
  EXPECT_TRUE(fromBkf.contains("unreadable"));
  EXPECT_EQ(fromSnap["bkfOpens"], true);

  // Neither: a text file is scanned, finds nothing and says so; a FIFO is
  // refused at once.
  const std::string text = dir.File("notes.txt");
  fixtures::WriteBytes(text, Text("root:x:0:0:root:/root:/bin/bash\n"));
  const auto listedText = RunCli({"list", text});
  EXPECT_EQ(listedText.exitCode, 0);
  EXPECT_EQ(listedText.err, kNoBlocks);
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto listedFifo = RunCli({"list", fifo});
  EXPECT_EQ(listedFifo.exitCode, 2);
  EXPECT_NE(listedFifo.err.find("cannot seek in a pipe"), std::string::npos) << listedFifo.err;
}

TEST(Json, EachFileHasItsFolderPathAndWhetherItIsCompressed) {
  TempDir dir;
  const std::string bkf = Backup(dir);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  const json docs = json::array({"Tape", "SET 1 :Set", "C:", "Docs"});
  const json y2009 = json::array({"Tape", "SET 1 :Set", "C:", "Docs", "2009"});
  const std::map<std::string, std::pair<json, bool>> expected = {
      {"notes.txt", {docs, false}}, {"a.doc", {docs, false}}, {"packed.log", {docs, true}}, {"b.xls", {y2009, false}}};
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"scan", bkf, "--json", "--snapshot", snap}, {"scan", bkf, "--json", "-m", "advanced"},
        {"list", snap, "--json"}}) {
    SCOPED_TRACE(Joined(args));
    const auto r = RunCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json doc = json::parse(r.out);
    ASSERT_EQ(doc["files"].size(), expected.size());
    for (const auto& f : doc["files"]) {
      const auto& [path, compressed] = expected.at(f["name"]);
      EXPECT_EQ(f["path"], path) << f;
      EXPECT_EQ(f["compressed"], compressed) << f;
    }
  }
}

// A message about a written file names the path as written, which the user
// can paste, and the name in the backup where that differs.
TEST(Messages, AWrittenFileIsNamedByItsPathOnDisk) {
  TempDir dir;
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.File(u"plain.bin", {Stan(60000, 1)});
  w.File(u"a\x01z.bin", {Stan(20000, 2)});
  // Cut inside the last file's data: both are written, it cut short. (A
  // stream longer than the whole backup would not be catalogued at all.)
  MtfWriter cut = w;
  cut.Bytes().resize(w.Size() - 5000);
  const std::string bkf = dir.Write(cut);
  const struct {
    std::vector<std::string> options;
    std::string written;  // below the destination
  } cases[] = {
      {{}, "Tape/SET 1 :Set/C:/a_z.bin"},
      {{"--flat"}, "a_z.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.options));
    const std::string dest = dir.File("out");
    fs::remove_all(dest);
    std::vector<std::string> args = {"extract", bkf, "--to", dest};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const std::string path = dest + "/" + c.written;
    EXPECT_NE(r.out.find("cut short: " + path + " (a?z.bin in the backup): cut short by the end of the backup: "),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(fs::is_regular_file(path));
  }
}

TEST(NoBlocks, AFileWithoutABlockSaysSoAndStillScans) {
  TempDir dir;
  const std::string text = dir.File("passwd");
  fixtures::WriteBytes(text, Text(std::string(5000, 'x')));
  const std::string bkf = Backup(dir);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    bool note;
  } cases[] = {
      {{"scan", text}, 0, true},
      {{"scan", text, "--json"}, 0, true},
      {{"scan", text, "--mode", "advanced"}, 0, true},
      {{"extract", text, "--to", dir.File("out")}, 0, true},
      {{"scan", bkf}, 0, false},
      // The range holds no block of the file.
      {{"scan", bkf, "--range", "4097", "5000"}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.err, c.note ? kNoBlocks : "");
  }
}

// The input of extract is --from-snapshot; the old --snapshot still works,
// with a note.
TEST(ExtractFromSnapshot, TheOldSpellingWorksWithANote) {
  TempDir dir;
  const std::string bkf = Backup(dir);
  const std::string snap = dir.File("s.KVSNAPSHOT");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", snap}).exitCode, 0);
  for (const std::string spelling : {"--from-snapshot", "--from-snapshot=", "--snapshot"}) {
    SCOPED_TRACE(spelling);
    const std::string dest = dir.File("out");
    fs::remove_all(dest);
    std::vector<std::string> args = {"extract", "-o", dest, "--flat"};
    if (spelling.ends_with("=")) {
      args.push_back(spelling + snap);
    } else {
      args.insert(args.end(), {spelling, snap});
    }
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Names(dest).size(), 4u);
    EXPECT_EQ(r.err, spelling == "--snapshot" ? "ostrel-bkf: note: 'extract --snapshot IN' is now 'extract "
                                                "--from-snapshot IN'; the old spelling will go in a later release\n"
                                              : "");
  }
}

}  // namespace
}  // namespace ostrel
