// ostrel-bkf extract run as a process: files in their hierarchy or flat,
// selections, hostile names that must stay inside the destination, outcomes
// that leave no file behind, and the exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/sha256.h"
#include "tests/fixtures/snapshot_image.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::FilesBelow;
using fixtures::MtfWriter;
using fixtures::ReadText;
using fixtures::RunCli;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;
using fixtures::Text;
using Bytes = std::vector<std::uint8_t>;

const fs::path kConformance = fs::path(OSTREL_TEST_DATA_DIR) / "conformance";

// The names in a folder, sorted.
std::vector<std::string> EntryNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The folder path of a file of an example, from its "folders" (their names
// are safe as they are).
std::string ExpectedFolder(const nlohmann::json& example, std::int64_t folder) {
  std::string path;
  for (std::size_t guard = 0; folder > 0 && guard < example["folders"].size(); ++guard) {
    const auto& f = example["folders"][static_cast<std::size_t>(folder)];
    path = f["name"].get<std::string>() + "/" + path;
    folder = f["parent"].get<std::int64_t>();
  }
  return path;
}

TEST(ExtractCommand, WritesTheConformanceFilesInTheirHierarchy) {
  std::size_t examples = 0;
  for (const auto& entry : fs::directory_iterator(kConformance)) {
    if (!entry.path().string().ends_with(".expected.json")) continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path());
    const auto example = nlohmann::json::parse(in);
    const auto& options = example["options"];
    TempDir dir;
    std::vector<std::string> args = {
        "extract", (kConformance / example["bkf"].get<std::string>()).string(),
        "--to",    dir.File("out"),
        "--mode",  options["mode"]};
    if (options.value("heuristic", false)) args.push_back("--heuristic");
    if (options.contains("range")) {
      args.insert(args.end(), {"--range", std::to_string(options["range"][0].get<std::uint64_t>()),
                               std::to_string(options["range"][1].get<std::uint64_t>())});
    }
    const auto r = RunCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;  // no progress bar when stderr is no terminal

    std::map<std::string, std::string> expected;  // path -> SHA-256
    for (const auto& e : example["extract"]) {
      const auto& file = example["files"][e["index"].get<std::size_t>()];
      expected[ExpectedFolder(example, file["parent"].get<std::int64_t>()) +
               file["name"].get<std::string>()] = e["sha256"];
    }
    std::map<std::string, std::string> got;
    for (const auto& [path, content] : FilesBelow(dir.File("out"))) {
      got[path] = fixtures::Sha256Hex(
          {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
    }
    EXPECT_EQ(got, expected);
    ++examples;
  }
  EXPECT_GT(examples, 0u);
}

// Two folders holding files of the same names.
std::string TwinFolders(const TempDir& dir) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.Dirb(u"One");
  w.File(u"report.txt", {Stan(Text("one"))});
  w.File(u"notes.doc", {Stan(Text("notes"))});
  w.Dirb(u"Two");
  w.File(u"report.txt", {Stan(Text("two"))});
  w.File(u"big.log", {Stan(fixtures::CompressFrames(Text(std::string(100000, 'z'))))});
  w.Bare("ESET");
  return dir.Write(w);
}

TEST(ExtractCommand, SelectionsAndFlatNames) {
  TempDir dir;
  const std::string bkf = TwinFolders(dir);
  const std::string z(100000, 'z');
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::map<std::string, std::string> files;
  } cases[] = {
      {"hierarchy",
       {},
       {{"Tape/SET 1 :Set/C:/One/report.txt", "one"},
        {"Tape/SET 1 :Set/C:/One/notes.doc", "notes"},
        {"Tape/SET 1 :Set/C:/Two/report.txt", "two"},
        {"Tape/SET 1 :Set/C:/Two/big.log", z}}},
      {"flat: the second report is numbered",
       {"--flat"},
       {{"report.txt", "one"}, {"notes.doc", "notes"}, {"report (2).txt", "two"}, {"big.log", z}}},
      {"indices",
       {"--flat", "--index", "3", "--index", "1"},
       {{"notes.doc", "notes"}, {"big.log", z}}},
      {"pattern",
       {"--pattern", "*.txt", "--flat"},
       {{"report.txt", "one"}, {"report (2).txt", "two"}}},
      {"several patterns: either matches",
       {"--pattern", "*.doc", "--pattern", "*.log", "--flat"},
       {{"notes.doc", "notes"}, {"big.log", z}}},
      {"pattern and index together: either selects",
       {"--pattern", "*.doc", "--index", "2"},
       {{"Tape/SET 1 :Set/C:/One/notes.doc", "notes"}, {"Tape/SET 1 :Set/C:/Two/report.txt", "two"}}},
      {"an index the pattern also selects is extracted once",
       {"--pattern", "report.*", "--index", "2", "--flat"},
       {{"report.txt", "one"}, {"report (2).txt", "two"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dest = dir.File("out");
    fs::remove_all(dest);
    std::vector<std::string> args = {"extract", bkf, "--to", dest};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(FilesBelow(dest), c.files);
  }
}

TEST(ExtractCommand, HostileNamesStayInsideTheDestination) {
  TempDir dir;
  MtfWriter w;
  w.Tape(u"..");
  w.Sset(1, u"/etc");
  w.Volb(u"C:");
  w.Dirb(u"..\\..\\..\\etc");
  w.File(u"..\\..\\etc\\passwd", {Stan(Text("1"))});
  w.File(u"/abs", {Stan(Text("2"))});
  w.File(u"..", {Stan(Text("3"))});
  w.File(u"a/b", {Stan(Text("4"))});
  w.File(std::u16string(120, u'\u6587') + u".txt", {Stan(Text("5"))});  // 3 bytes each in UTF-8
  w.File(std::u16string(u"x") + char16_t(0xDC00) + u".txt", {Stan(Text("6"))});
  w.Bare("ESET");
  const std::string bkf = dir.Write(w);
  const std::string dest = dir.File("dest");

  const auto r = RunCli({"extract", bkf, "--to", dest});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  // Nothing but the BKF file and the destination in the test's folder.
  EXPECT_EQ(EntryNames(dir.Path()), (std::vector<std::string>{"dest", "test.bkf"}));

  std::string cut;
  for (int i = 0; i < 83; ++i) cut += "\xE6\x96\x87";  // 249 bytes, then ".txt"
  const std::string folder = "_/SET 1 :_etc/C:/_/_/_/etc/";
  const std::map<std::string, std::string> expected = {
      {folder + "..\\..\\etc\\passwd", "1"},
      {folder + "_abs", "2"},
      {folder + "_", "3"},
      {folder + "a_b", "4"},
      {folder + cut + ".txt", "5"},
      {folder + "x\xEF\xBF\xBD.txt", "6"},
  };
  EXPECT_EQ(FilesBelow(dest), expected);
}

// Names a FILE block cannot carry (an inner NUL unit, 300 characters) reach
// extraction through a snapshot; they too become safe names inside the
// destination. A stored name ends at its first NUL unit.
TEST(ExtractCommand, SnapshotNamesStayInsideTheDestination) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  const std::uint64_t block = w.File(u"data.txt", {Stan(Text("secret"))});
  w.Bare("ESET");
  const std::string bkf = dir.Write(w);
  // The file's data follows its 22-byte STAN stream header.
  const std::uint64_t data = block + MtfWriter::FirstEventFor(16) + 22;

  fixtures::SnapshotImage image;
  image.bkfPath = std::u16string(bkf.begin(), bkf.end());
  image.folders = {{u"ROOT", kNone, 1, kNone, 0},
                   {u"..", 0, 2, kNone, 1},
                   {std::u16string{u'a', u'\0', u'b'}, 1, 3, kNone, 2},
                   {u"/etc", 2, kNone, kNone, 3, 0, 3}};
  const std::u16string longName = std::u16string(300, u'n') + u".txt";
  const std::u16string withNul{u'x', u'\0', u'.', u't', u'x', u't'};
  for (const std::u16string& name : {withNul, longName, std::u16string(u".."), std::u16string(u"/abs")}) {
    image.files.emplace_back(name, 16, 3, 'F', image.files.size(), data, 6);
  }
  const std::string snap = dir.File("names.KVSNAPSHOT");
  ASSERT_TRUE(fixtures::WriteBytes(snap, image.Bytes()));

  const std::string dest = dir.File("dest");
  const auto r = RunCli({"extract", "--from-snapshot", snap, "--to", dest});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(EntryNames(dir.Path()), (std::vector<std::string>{"dest", "names.KVSNAPSHOT", "test.bkf"}));

  const std::string folder = "_/a/_etc/";
  EXPECT_EQ(FilesBelow(dest), (std::map<std::string, std::string>{
                             {folder + "x", "secret"},
                             {folder + std::string(251, 'n') + ".txt", "secret"},
                             {folder + "_", "secret"},
                             {folder + "_abs", "secret"},
                         }));
}

TEST(ExtractCommand, SymbolicLinksInTheDestinationAreNotFollowed) {
  TempDir dir;
  const std::string bkf = TwinFolders(dir);
  const std::string dest = dir.File("dest");
  const std::string outside = dir.File("outside");
  fs::create_directories(dest);
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, dest + "/Tape");

  // A link where a folder goes is never entered: the folder takes the next
  // number, and a line says so.
  const auto r = RunCli({"extract", bkf, "--to", dest});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_TRUE(fs::is_symlink(dest + "/Tape"));
  EXPECT_NE(r.out.find("Tape exists and is not a folder; saved as Tape (2)\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadText(dest + "/Tape (2)/SET 1 :Set/C:/One/report.txt"), "one");

  // A link planted at a file's own path is not followed either.
  fs::remove_all(dest);
  fs::create_directories(dest);
  fs::create_symlink(outside + "/planted", dest + "/notes.doc");
  const auto flat = RunCli({"extract", bkf, "--to", dest, "--flat"});
  EXPECT_EQ(flat.exitCode, 0) << flat.out << flat.err;
  EXPECT_NE(flat.out.find("notes.doc exists; saved as notes (2).doc\n"), std::string::npos) << flat.out;
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_TRUE(fs::is_symlink(dest + "/notes.doc"));
  EXPECT_EQ(ReadText(dest + "/notes (2).doc"), "notes");
  EXPECT_EQ(ReadText(dest + "/report.txt"), "one");
}

// The user extracts, edits a recovered file, and extracts again into the
// same folder.
TEST(ExtractCommand, ASecondRunNeverReplacesTheUsersFilesUnlessAskedTo) {
  TempDir dir;
  const std::string bkf = (fs::path(OSTREL_TEST_DATA_DIR) / "samples/ntbackup51_MailG-block-walker_Backup.bkf").string();
  const std::string dest = dir.File("dest");
  ASSERT_EQ(RunCli({"extract", bkf, "--to", dest, "--flat"}).exitCode, 0);
  const std::string recovered = ReadText(dest + "/boot.ini");
  ASSERT_EQ(recovered.size(), 210u);
  std::ofstream(dest + "/boot.ini", std::ios::binary) << "[boot loader]\ntimeout=5\n";

  const auto again = RunCli({"extract", bkf, "--to", dest, "--flat"});
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("boot.ini exists; saved as boot (2).ini\n"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("Existing files kept (saved under a new name): 1\n"), std::string::npos) << again.out;
  EXPECT_EQ(FilesBelow(dest), (std::map<std::string, std::string>{{"boot.ini", "[boot loader]\ntimeout=5\n"},
                                                                    {"boot (2).ini", recovered}}));

  const auto replace = RunCli({"extract", bkf, "--to", dest, "--flat", "--overwrite"});
  EXPECT_EQ(replace.exitCode, 0) << replace.out << replace.err;
  EXPECT_NE(replace.out.find("boot.ini exists; replaced\n"), std::string::npos) << replace.out;
  EXPECT_NE(replace.out.find("Existing files replaced: 1\n"), std::string::npos) << replace.out;
  EXPECT_EQ(FilesBelow(dest), (std::map<std::string, std::string>{{"boot.ini", recovered}, {"boot (2).ini", recovered}}));
}

// --overwrite never replaces the backup being read, nor the snapshot the
// catalogue comes from, when the backup holds a file of that name in the
// same place: that one file is refused with a line, the others are written.
TEST(ExtractCommand, OverwriteNeverReplacesTheBackupOrTheSnapshotBeingRead) {
  TempDir dir;
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.File(u"x.bkf", {Stan("a backup inside the backup")});
  w.File(u"x.snap", {Stan("an old snapshot")});
  w.File(u"a.txt", {Stan("a")});
  w.Bare("ESET");
  const std::string bkf = dir.Write(w, "x.bkf");
  const std::string snap = dir.File("x.snap");
  ASSERT_EQ(RunCli({"scan", bkf, "--snapshot", snap}).exitCode, 0);
  const std::string backup = ReadText(bkf), snapshot = ReadText(snap);
  const std::string folder = dir.Path().string();

  // From the snapshot first: from the backup, x.snap is just a file and is
  // replaced.
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> refused;
    std::string snapAfter;
  } cases[] = {
      {"from the snapshot",
       {"extract", "--from-snapshot", snap, "--to", folder, "--flat", "--overwrite"},
       {"x.bkf", "x.snap"},
       snapshot},
      {"from the backup", {"extract", bkf, "--to", folder, "--flat", "--overwrite"}, {"x.bkf"}, "an old snapshot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir.File("a.txt")) << "the user's";
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    for (const std::string& name : c.refused) {
      EXPECT_NE(r.out.find("not extracted: Tape\\SET 1 :Set\\C:\\" + name + ": " + name +
                           " is the backup being read; not replaced\n"),
                std::string::npos)
          << r.out;
    }
    EXPECT_NE(r.out.find("Files with problems: " + std::to_string(c.refused.size()) + "\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(ReadText(bkf), backup);
    EXPECT_EQ(ReadText(snap), c.snapAfter);
    EXPECT_EQ(ReadText(dir.File("a.txt")), "a");
  }
}

TEST(ExtractCommand, PortableNamesAreUsedWhenAskedForAndSaid) {
  TempDir dir;
  const std::string bkf = TwinFolders(dir);
  const std::string dest = dir.File("dest");
  const auto r = RunCli({"extract", bkf, "--to", dest, "--portable-names"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(FilesBelow(dest).count("Tape/SET 1 _Set/C_/One/report.txt"), 1u);
  // One line per folder renamed, none for the files below it.
  EXPECT_NE(r.out.find("saved 'Tape/SET 1 :Set' as 'Tape/SET 1 _Set' (portable names avoid ':')\n"
                       "saved 'Tape/SET 1 _Set/C:' as 'Tape/SET 1 _Set/C_' (portable names avoid ':')\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("report.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Names changed for the destination: 2\n"), std::string::npos) << r.out;
}

// A backup whose every file's data runs on to its end (kept in the
// regression fixtures): the run stops at four times the backup's size and
// says why on stderr; --no-read-limit reads on.
TEST(ExtractCommand, TheReadLimitStopsARunAndCanBeLifted) {
  TempDir dir;
  const std::string bkf = (fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "regress" /
                           "bkf-second-stan-past-end").string();
  const auto limited = RunCli({"extract", bkf, "--to", dir.File("limited")});
  EXPECT_EQ(limited.exitCode, 1);
  const std::string message =
      "ostrel-bkf: the catalogue would read this backup's data more than 4 times over (hostile or looping "
      "records); stopped after ";
  const std::size_t at = limited.err.find(message);
  ASSERT_NE(at, std::string::npos) << limited.err;
  const std::uint64_t files = std::stoull(limited.err.substr(at + message.size()));
  EXPECT_EQ(limited.err.find(" files\n", at), at + message.size() + std::to_string(files).size());
  EXPECT_EQ(FilesBelow(dir.File("limited")).size(), files);  // nothing of the file it stopped in

  const auto lifted = RunCli({"extract", bkf, "--to", dir.File("lifted"), "--no-read-limit"});
  EXPECT_EQ(lifted.err.find("4 times over"), std::string::npos) << lifted.err;
  EXPECT_GT(FilesBelow(dir.File("lifted")).size(), files);
}

TEST(ExtractCommand, FilesNotRecoveredAreReportedAndLeaveNothingBehind) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"good.txt", {Stan(Text("good"))});
  w.File(u"later.txt", {Stan(Text("rest of a file"), /*continuation*/ 1)});
  w.File(u"empty.txt", {Stan(Bytes{})});
  const std::uint64_t split = w.File(u"split.txt", {Stan(Text("12345678"))});
  // Where the stream after split.txt's data should start: a soft filemark.
  w.Bare("SFMB", split + MtfWriter::FirstEventFor(18) + 32);
  w.Bare("ESET");
  const std::string dest = dir.File("dest");

  const auto r = RunCli({"extract", dir.Write(w), "--to", dest, "--flat"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_EQ(FilesBelow(dest),
            (std::map<std::string, std::string>{{"good.txt", "good"}, {"empty.txt", ""}}));
  EXPECT_NE(r.out.find(
                "not extracted: TAPE CREATED \\SET CREATED \\C:\\later.txt: its data begins on an"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("[Continuation]"), std::string::npos);
  EXPECT_NE(r.out.find("not extracted: TAPE CREATED \\SET CREATED \\C:\\split.txt:"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("[Split]"), std::string::npos);
  // A complete empty file is no problem: listed only with --verbose.
  EXPECT_EQ(r.out.find("empty:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files written: 2 (1 empty)\nBytes written: 4\nFiles with problems: 2\n"),
            std::string::npos)
      << r.out;
}

// A backup cut off inside its largest file: the standard mode cannot
// catalogue it, but says so and fails the run; the advanced mode recovers
// what is there.
TEST(ExtractCommand, AFileCutOffByTheEndOfTheBackupIsNeverLostInSilence) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"notes.txt", {Stan(20000)});
  const std::uint64_t big = w.File(u"database.mdb", {Stan(500000)});
  w.Bytes().resize(300000);
  const std::string bkf = dir.Write(w);
  const std::string line = "left out: database.mdb (500,000 bytes at offset " + std::to_string(big) +
                           ") runs past the end of the backup; the advanced mode recovers what is there\n";

  const auto extract = RunCli({"extract", bkf, "--to", dir.File("std"), "--flat"});
  EXPECT_EQ(extract.exitCode, 1) << extract.out << extract.err;
  EXPECT_NE(extract.err.find(line), std::string::npos) << extract.err;
  EXPECT_NE(extract.out.find("Files with problems: 1\n"), std::string::npos) << extract.out;
  EXPECT_EQ(EntryNames(dir.File("std")), std::vector<std::string>{"notes.txt"});

  // A selection that could not have held it does not count it.
  const auto other = RunCli({"extract", bkf, "--to", dir.File("sel"), "--pattern", "*.txt"});
  EXPECT_EQ(other.exitCode, 0) << other.out << other.err;
  EXPECT_EQ(other.err.find("left out"), std::string::npos) << other.err;

  const auto scan = RunCli({"scan", bkf});
  EXPECT_EQ(scan.exitCode, 1) << scan.err;
  EXPECT_NE(scan.err.find(line), std::string::npos) << scan.err;
  const auto json = RunCli({"scan", bkf, "--json"});
  EXPECT_EQ(json.exitCode, 1);
  const auto doc = nlohmann::json::parse(json.out);
  ASSERT_EQ(doc["leftOut"].size(), 1u) << json.out;
  EXPECT_EQ(doc["leftOut"][0]["name"], "database.mdb");
  EXPECT_EQ(doc["leftOut"][0]["offset"], big);
  EXPECT_EQ(doc["leftOut"][0]["length"], 500000);

  const auto advanced = RunCli({"extract", bkf, "--to", dir.File("adv"), "--flat", "--mode", "advanced"});
  EXPECT_EQ(advanced.exitCode, 1);
  EXPECT_EQ(advanced.err.find("left out"), std::string::npos) << advanced.err;
  EXPECT_NE(advanced.out.find("cut short:"), std::string::npos) << advanced.out;
  EXPECT_EQ(EntryNames(dir.File("adv")), (std::vector<std::string>{"database.mdb", "notes.txt"}));
}

TEST(ExtractCommand, ErrorsAndUsage) {
  TempDir dir;
  const std::string bkf = TwinFolders(dir);
  std::ofstream(dir.File("a-file")) << "x";
  fs::create_symlink(dir.File("nowhere/at/all"), dir.File("dangling"));
  const struct {
    std::vector<std::string> args;
    std::string err;  // a part of stderr
  } cases[] = {
      {{"extract"}, "no BKF file given"},
      {{"extract", bkf}, "no destination given"},
      {{"extract", bkf, "--to"}, "--to needs a folder"},
      {{"extract", bkf, "--to", dir.File("o"), "--index", "x"}, "--index takes an unsigned"},
      {{"extract", bkf, "--to", dir.File("o"), "--index", "4"},
       "no file with index 4 (the catalogue holds 4 files;"},
      {{"extract", bkf, "--to", dir.File("o"), "--pattern"}, "--pattern needs a wildcard"},
      // An empty selection is refused alike, from the patterns or an index.
      {{"extract", bkf, "--to", dir.File("o"), "--pattern", "*.TXT", "--pattern", "*.DOC"},
       "no file matches --pattern '*.TXT' or '*.DOC'"},
      {{"extract", bkf, "--to", dir.File("o"), "--pattern", "*.TXT", "--index", "7"},
       "no file with index 7"},
      {{"extract", bkf, "--to", dir.File("o"), "--range", "1"}, "--range needs START and END"},
      {{"extract", bkf, "--to", dir.File("o"), "--bogus"}, "unknown option '--bogus'"},
      {{"extract", dir.File("missing.bkf"), "--to", dir.File("o")}, "cannot open"},
      {{"extract", bkf, "--to", dir.File("a-file")}, "cannot use"},
      {{"extract", bkf, "--to", dir.File("dangling")},
       "cannot use '" + dir.File("dangling") + "' as the destination folder: it is a symbolic link to something "
       "that does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir.File("o")));  // nothing is created before the arguments are good

  const auto help = RunCli({"extract", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: ostrel-bkf extract BKF --to DIR"), std::string::npos);
  EXPECT_NE(RunCli({"--help"}).out.find("extract BKF"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
