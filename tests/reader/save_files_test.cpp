// The save routine on a real disk: a destination that already holds files,
// links and FIFOs under the recovered names, a second run and two runs at
// once, a folder swapped for a symbolic link while files are saved, and a
// file system that refuses names.
#include "reader/save_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "reader/scanner.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::ReadText;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;

void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::vector<std::string> Messages(const std::vector<SaveResult>& results) {
  std::vector<std::string> out;
  for (const SaveResult& r : results) {
    for (const NameChange& c : r.changes) out.push_back(c.message);
  }
  return out;
}

// A scanned backup in a temporary folder, saved into `dest` below it.
class SaveTest : public ::testing::Test {
 protected:
  void Scan(const MtfWriter& w) {
    session_ = std::make_unique<RecoverySession>();
    StandardScanner scanner(*session_, stop_);
    ASSERT_EQ(scanner.Scan(dir_.Write(w)), 1);
  }
  // The usual backup: one volume "C:" with a folder of three files.
  void ScanDocs() {
    MtfWriter w;
    w.Tape(u"Tape");
    w.Sset(1, u"Set");
    w.Volb(u"C:");
    w.File(u"boot.ini", {Stan("[boot loader]")});
    w.Dirb(u"Docs");
    w.File(u"thesis.docx", {Stan("chapter one")});
    w.File(u"later.txt", {Stan("rest of a file", /*continuation*/ 1)});
    w.Bare("ESET");
    Scan(w);
  }
  std::vector<SaveResult> Save(bool hierarchy, SaveOptions options = {}) {
    std::string error;
    std::optional<Destination> destination = PrepareDestination(dest_, error);
    EXPECT_TRUE(destination) << error;
    if (!destination) return {};
    SaveRun run(session_->catalogue, session_->file, std::move(*destination), hierarchy, stop_,
                std::move(options));
    std::vector<SaveResult> out;
    for (std::uint64_t i = 0; i < session_->catalogue.FileCount(); ++i) out.push_back(run.SaveFile(i));
    return out;
  }

  TempDir dir_;
  const std::string dest_ = dir_.File("dest");
  StopToken stop_;
  std::unique_ptr<RecoverySession> session_;
};

TEST_F(SaveTest, ASecondRunKeepsWhatIsThereAndTakesTheNextNumber) {
  ScanDocs();
  const auto first = Save(/*hierarchy*/ false);
  EXPECT_EQ(Messages(first), std::vector<std::string>{});
  WriteText(dest_ + "/boot.ini", "edited by the user");

  const auto second = Save(false);
  EXPECT_EQ(second[0].status, SaveStatus::Saved);
  EXPECT_EQ(second[0].path, dest_ + "/boot (2).ini");
  EXPECT_EQ(Messages(second), (std::vector<std::string>{"boot.ini exists; saved as boot (2).ini",
                                                        "thesis.docx exists; saved as thesis (2).docx"}));
  EXPECT_EQ(second[0].changes.at(0).existing, true);
  // The continuation is not recovered: nothing of it is left, and the name
  // it would have taken stays free.
  EXPECT_EQ(second[2].status, SaveStatus::NotRecovered);
  EXPECT_TRUE(second[2].changes.empty());
  EXPECT_EQ(fixtures::FilesBelow(dest_), (std::map<std::string, std::string>{{"boot.ini", "edited by the user"},
                                                                {"boot (2).ini", "[boot loader]"},
                                                                {"thesis.docx", "chapter one"},
                                                                {"thesis (2).docx", "chapter one"}}));

  // In the hierarchy the existing folders are merged into.
  Save(true);
  WriteText(dest_ + "/Tape/SET 1 :Set/C:/Docs/thesis.docx", "my own chapter");
  const auto again = Save(true);
  EXPECT_EQ(Messages(again), (std::vector<std::string>{
                                 "Tape/SET 1 :Set/C:/boot.ini exists; saved as Tape/SET 1 :Set/C:/boot (2).ini",
                                 "Tape/SET 1 :Set/C:/Docs/thesis.docx exists; saved as "
                                 "Tape/SET 1 :Set/C:/Docs/thesis (2).docx"}));
  EXPECT_EQ(ReadText(dest_ + "/Tape/SET 1 :Set/C:/Docs/thesis.docx"), "my own chapter");
}

TEST_F(SaveTest, ReplacingTakesTheOldFilesPlaceOnlyOnceTheNewOneIsComplete) {
  ScanDocs();
  fs::create_directories(dest_);
  WriteText(dest_ + "/boot.ini", "old");
  WriteText(dest_ + "/later.txt", "the user's");
  // A second name for the user's boot.ini outside the destination: replacing
  // changes the name in the destination, never the file behind it.
  const std::string outside = dir_.File("outside.ini");
  fs::create_hard_link(dest_ + "/boot.ini", outside);

  SaveOptions options;
  options.existing = ExistingFiles::Replace;
  const auto results = Save(false, options);
  EXPECT_EQ(results[0].status, SaveStatus::Saved);
  EXPECT_EQ(results[0].path, dest_ + "/boot.ini");
  EXPECT_EQ(Messages(results), std::vector<std::string>{"boot.ini exists; replaced"});
  EXPECT_TRUE(results[0].changes.at(0).replaced);
  EXPECT_EQ(ReadText(dest_ + "/boot.ini"), "[boot loader]");
  EXPECT_EQ(ReadText(outside), "old");
  // Nothing was recovered for later.txt, so the user's file stays.
  EXPECT_EQ(fixtures::FilesBelow(dest_), (std::map<std::string, std::string>{{"boot.ini", "[boot loader]"},
                                                                {"thesis.docx", "chapter one"},
                                                                {"later.txt", "the user's"}}));
}

TEST_F(SaveTest, TheQuestionIsAskedOnceAtTheFirstExistingFile) {
  ScanDocs();
  const struct {
    ExistingFiles answer;
    std::map<std::string, std::string> files;
  } cases[] = {
      {ExistingFiles::KeepBoth,
       {{"boot.ini", "x"}, {"thesis.docx", "y"}, {"boot (2).ini", "[boot loader]"}, {"thesis (2).docx", "chapter one"}}},
      {ExistingFiles::Replace, {{"boot.ini", "[boot loader]"}, {"thesis.docx", "chapter one"}}},
      {ExistingFiles::Stop, {{"boot.ini", "x"}, {"thesis.docx", "y"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    fs::remove_all(dest_);
    fs::create_directories(dest_);
    WriteText(dest_ + "/boot.ini", "x");
    WriteText(dest_ + "/thesis.docx", "y");
    std::vector<std::string> asked;
    SaveOptions options;
    options.askExisting = [&](const std::string& path) {
      asked.push_back(path);
      return c.answer;
    };
    const auto results = Save(false, options);
    EXPECT_EQ(asked, std::vector<std::string>{"boot.ini"});
    EXPECT_EQ(fixtures::FilesBelow(dest_), c.files);
    if (c.answer == ExistingFiles::Stop) {
      EXPECT_EQ(results[0].status, SaveStatus::Stopped);
      EXPECT_EQ(results[0].reason, "saving was stopped at boot.ini, which exists");
    }
  }
}

TEST_F(SaveTest, LinksAndFifosPlantedUnderRecoveredNamesAreNeverWrittenThrough) {
  ScanDocs();
  fs::create_directories(dest_);
  const std::string outside = dir_.File("outside");
  fs::create_directories(outside);
  WriteText(outside + "/precious", "precious");
  fs::create_hard_link(outside + "/precious", dest_ + "/boot.ini");  // a hard link
  fs::create_symlink(outside + "/planted", dest_ + "/thesis.docx");   // a link to nothing yet
  ASSERT_EQ(::mkfifo((dest_ + "/later.txt").c_str(), 0644), 0);       // would block a writer

  for (const ExistingFiles policy : {ExistingFiles::KeepBoth, ExistingFiles::Replace}) {
    SCOPED_TRACE(static_cast<int>(policy));
    SaveOptions options;
    options.existing = policy;
    const auto results = Save(false, options);
    EXPECT_EQ(ReadText(outside + "/precious"), "precious");
    EXPECT_EQ(fs::hard_link_count(outside + "/precious"), policy == ExistingFiles::KeepBoth ? 2u : 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_symlink(dest_ + "/thesis.docx"));
    EXPECT_TRUE(fs::is_fifo(dest_ + "/later.txt"));
    EXPECT_EQ(results[1].path, dest_ + "/thesis (2).docx");
    EXPECT_EQ(results[2].status, SaveStatus::NotRecovered);
  }
  // The link and the FIFO are never replaced; the plain file behind the hard
  // link is replaced by name, and its other name keeps the old content.
  EXPECT_EQ(fixtures::FilesBelow(dest_), (std::map<std::string, std::string>{{"boot.ini", "[boot loader]"},
                                                                {"boot (2).ini", "[boot loader]"},
                                                                {"thesis (2).docx", "chapter one"}}));
  EXPECT_FALSE(fs::exists(outside + "/planted"));
}

TEST_F(SaveTest, AStoppedFileRemovesOnlyWhatThisRunMade) {
  ScanDocs();
  fs::create_directories(dest_);
  WriteText(dest_ + "/thesis.docx", "the user's thesis");
  std::string error;
  std::optional<Destination> destination = PrepareDestination(dest_, error);
  ASSERT_TRUE(destination) << error;
  SaveRun run(session_->catalogue, session_->file, std::move(*destination), false, stop_);
  stop_.RequestStop();  // Stop, before the copy begins
  const SaveResult stopped = run.SaveFile(1);
  EXPECT_EQ(stopped.status, SaveStatus::Stopped);
  EXPECT_TRUE(stopped.changes.empty());
  EXPECT_EQ(fixtures::FilesBelow(dest_), (std::map<std::string, std::string>{{"thesis.docx", "the user's thesis"}}));
}

// The names in a folder, sorted ('.' sorts before letters).
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// While a file is written it is under ".NAME.ostrel-XXXXXX.partial" in its
// own folder; its name shows only once it is complete, whether it takes a
// free name or replaces the user's file.
TEST_F(SaveTest, AFileTakesItsNameOnlyOnceItIsComplete) {
  ScanDocs();
  const struct {
    ExistingFiles policy;
    std::string partial;  // the temporary name without its six random characters
    std::map<std::string, std::string> after;
  } cases[] = {
      {ExistingFiles::KeepBoth, ".boot.ini.ostrel-.partial", {{"boot.ini", "old"}, {"boot (2).ini", "[boot loader]"}}},
      {ExistingFiles::Replace, ".boot.ini.ostrel-.partial", {{"boot.ini", "[boot loader]"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    fs::remove_all(dest_);
    fs::create_directories(dest_);
    WriteText(dest_ + "/boot.ini", "old");
    std::string error;
    std::optional<Destination> destination = PrepareDestination(dest_, error);
    ASSERT_TRUE(destination) << error;
    SaveOptions options;
    options.existing = c.policy;
    SaveRun run(session_->catalogue, session_->file, std::move(*destination), false, stop_, options);
    std::vector<std::string> during;
    std::string oldDuring;
    const SaveResult saved = run.SaveFile(0, [&](std::uint64_t) {
      during = Names(dest_);
      oldDuring = ReadText(dest_ + "/boot.ini");
    });
    EXPECT_EQ(saved.status, SaveStatus::Saved) << saved.reason;
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during[0].size(), c.partial.size() + 6);
    EXPECT_EQ(during[0].substr(0, c.partial.size() - 8) + during[0].substr(during[0].size() - 8), c.partial);
    EXPECT_EQ(during[1], "boot.ini");
    EXPECT_EQ(oldDuring, "old");
    EXPECT_EQ(fixtures::FilesBelow(dest_), c.after);
  }
}

// What gets in the way of the last step, the rename: another program takes
// the name while the file is written, or the file system refuses the name
// only there (the temporary name hides a trailing dot, say).
class InTheWayAtTheEnd : public NameMaker {
 public:
  int MoveInto(int folder, const char* from, const char* to) override {
    if (plant == to) {
      const int fd = ::openat(folder, to, O_WRONLY | O_CREAT | O_EXCL, 0644);
      EXPECT_EQ(::write(fd, "planted", 7), 7);
      ::close(fd);
    }
    if (refuse == to) {
      errno = EINVAL;
      return -1;
    }
    return NameMaker::MoveInto(folder, from, to);
  }
  std::string plant;   // created just before the rename to it
  std::string refuse;  // renames to it are refused
};

TEST_F(SaveTest, TheNameIsSettledWhenTheCompleteFileTakesIt) {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"boot.ini", {Stan("[boot loader]")});
  w.File(u"notes.", {Stan("notes")});
  w.Bare("ESET");
  Scan(w);
  const struct {
    const char* name;
    std::string plant, refuse;
    std::map<std::string, std::string> files;
    std::vector<std::string> messages;
  } cases[] = {
      {"a name taken meanwhile takes the next number",
       "boot.ini",
       "",
       {{"boot.ini", "planted"}, {"boot (2).ini", "[boot loader]"}, {"notes.", "notes"}},
       {"boot.ini exists; saved as boot (2).ini"}},
      {"a name refused at the rename takes its portable form",
       "",
       "notes.",
       {{"boot.ini", "[boot loader]"}, {"notes", "notes"}},
       {"saved 'notes.' as 'notes' (the destination refuses a trailing '.')"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dest_);
    InTheWayAtTheEnd maker;
    maker.plant = c.plant;
    maker.refuse = c.refuse;
    SaveOptions options;
    options.maker = &maker;
    const auto results = Save(false, options);
    for (const SaveResult& r : results) EXPECT_EQ(r.status, SaveStatus::Saved) << r.reason;
    EXPECT_EQ(fixtures::FilesBelow(dest_), c.files);  // no .partial file is left
    EXPECT_EQ(Messages(results), c.messages);
  }
}

// Replacing existing files never replaces the backup being read, nor a file
// the caller says the run reads (a snapshot): that file is not saved, the
// others are.
TEST_F(SaveTest, TheBackupBeingReadIsNeverReplaced) {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"test.bkf", {Stan("a backup inside the backup")});  // Scan writes the backup as test.bkf
  w.File(u"catalogue.snap", {Stan("an old snapshot")});
  w.File(u"a.txt", {Stan("a")});
  w.Bare("ESET");
  Scan(w);
  const std::string folder = dir_.Path().string();
  const std::string backup = ReadText(folder + "/test.bkf");
  WriteText(folder + "/catalogue.snap", "the snapshot being read");
  struct stat snapshot {};
  ASSERT_EQ(::stat((folder + "/catalogue.snap").c_str(), &snapshot), 0);

  std::string error;
  std::optional<Destination> destination = PrepareDestination(folder, error);
  ASSERT_TRUE(destination) << error;
  SaveOptions options;
  options.existing = ExistingFiles::Replace;
  options.readFiles.push_back({static_cast<std::uint64_t>(snapshot.st_dev), static_cast<std::uint64_t>(snapshot.st_ino)});
  SaveRun run(session_->catalogue, session_->file, std::move(*destination), false, stop_, options);
  std::vector<SaveResult> results;
  for (std::uint64_t i = 0; i < 3; ++i) results.push_back(run.SaveFile(i));

  EXPECT_EQ(results[0].status, SaveStatus::NotRecovered);
  EXPECT_EQ(results[0].reason, "test.bkf is the backup being read; not replaced");
  EXPECT_EQ(results[1].status, SaveStatus::NotRecovered);
  EXPECT_EQ(results[1].reason, "catalogue.snap is the backup being read; not replaced");
  EXPECT_EQ(results[2].status, SaveStatus::Saved);
  EXPECT_EQ(fixtures::FilesBelow(folder), (std::map<std::string, std::string>{
                                              {"test.bkf", backup},
                                              {"catalogue.snap", "the snapshot being read"},
                                              {"a.txt", "a"},
                                          }));
}

// Seconds since 1970 of a file's modification time.
std::int64_t ModifiedAt(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec;
}

// Files take their FILE block's date, folders their DIRB's once all their
// files are written; a file without a date, and a folder the destination
// held already, keep their own time.
TEST_F(SaveTest, FilesAndFoldersTakeTheirDatesFromTheBackup) {
  constexpr std::int64_t kRoot = 946684800;   // 2000-01-01 00:00:00
  constexpr std::int64_t kDocs = 1311334360;  // 2011-07-22 11:32:40
  constexpr std::int64_t kFile = 1000000000;  // 2001-09-09 01:46:40
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.SetDate(w.Dirb(u""), MtfWriter::PackDate(2000, 1, 1, 0, 0, 0));
  w.SetDate(w.Dirb(u"Docs"), MtfWriter::PackDate(2011, 7, 22, 11, 32, 40));
  w.SetDate(w.File(u"thesis.docx", {Stan("chapter one")}), MtfWriter::PackDate(2001, 9, 9, 1, 46, 40));
  w.File(u"undated.txt", {Stan("no date")});
  w.Bare("ESET");
  Scan(w);
  const std::string base = dest_ + "/Tape/SET 1 :Set/C:";
  const std::int64_t before = std::time(nullptr);

  for (const SaveResult& r : Save(true)) EXPECT_EQ(r.status, SaveStatus::Saved) << r.path << ": " << r.reason;
  EXPECT_EQ(ModifiedAt(base + "/Docs/thesis.docx"), kFile);
  EXPECT_EQ(ModifiedAt(base + "/Docs"), kDocs);  // set after its two files were written
  EXPECT_EQ(ModifiedAt(base), kRoot);            // the volume root's DIRB
  EXPECT_GE(ModifiedAt(base + "/Docs/undated.txt"), before);

  // A second run merges into the folders the first one made: they are the
  // destination's now, and keep the time its new files give them.
  for (const SaveResult& r : Save(true)) EXPECT_EQ(r.status, SaveStatus::Saved) << r.reason;
  EXPECT_EQ(ModifiedAt(base + "/Docs/thesis (2).docx"), kFile);
  EXPECT_GE(ModifiedAt(base + "/Docs"), before);

  // Without dates every file and folder keeps the time it was written.
  fs::remove_all(dest_);
  SaveOptions noDates;
  noDates.keepDates = false;
  for (const SaveResult& r : Save(true, noDates)) EXPECT_EQ(r.status, SaveStatus::Saved) << r.reason;
  for (const char* path : {"/Docs/thesis.docx", "/Docs", ""}) EXPECT_GE(ModifiedAt(base + path), before) << path;
}

TEST_F(SaveTest, TwoRunsAtOnceIntoOneFolderKeepEveryFile) {
  MtfWriter w;
  w.Volb(u"C:");
  for (int i = 0; i < 200; ++i) w.File(u"file" + std::u16string(1, u'a' + i % 20) + u".txt", {Stan(std::to_string(i))});
  w.Bare("ESET");
  Scan(w);
  std::vector<SaveResult> a, b;
  std::thread other([&] { b = Save(false); });
  a = Save(false);
  other.join();
  std::map<std::string, int> copies;  // content -> files holding it
  for (const auto& [name, content] : fixtures::FilesBelow(dest_)) ++copies[content];
  EXPECT_EQ(copies.size(), 200u);
  for (const auto& [content, n] : copies) EXPECT_EQ(n, 2) << content;
  for (const auto* results : {&a, &b}) {
    for (const SaveResult& r : *results) EXPECT_EQ(r.status, SaveStatus::Saved) << r.reason;
  }
}

// A folder of the destination is swapped for a symbolic link to a folder
// outside, again and again, while many files are saved into it and below it.
TEST_F(SaveTest, AFolderSwappedForALinkNeverLeadsOutside) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  // More folders than the run keeps open, so that it opens some again by name.
  for (int folder = 0; folder < 80; ++folder) {
    w.Dirb(u"Folder" + std::u16string(1, u'A' + folder / 26) + std::u16string(1, u'a' + folder % 26));
    for (int i = 0; i < 10; ++i) w.File(u"f" + std::u16string(1, u'0' + i) + u".txt", {Stan("data")});
  }
  w.Bare("ESET");
  Scan(w);
  const std::string outside = dir_.File("outside");
  fs::create_directories(outside);
  fs::create_directories(dest_);
  fs::create_directory_symlink(outside, dest_ + "/lure");

  std::atomic<bool> done{false};
  std::atomic<int> swaps{0};
  std::thread swapper([&] {
    const std::string tape = dest_ + "/Tape", lure = dest_ + "/lure";
    while (!done) {
      if (::renameat2(AT_FDCWD, tape.c_str(), AT_FDCWD, lure.c_str(), RENAME_EXCHANGE) == 0) ++swaps;
    }
  });
  const auto results = Save(true);
  done = true;
  swapper.join();

  EXPECT_GT(swaps.load(), 0);
  EXPECT_TRUE(fs::is_empty(outside));
  std::size_t saved = 0;
  for (const SaveResult& r : results) {
    if (r.status == SaveStatus::Saved) {
      ++saved;
    } else {
      EXPECT_EQ(r.status, SaveStatus::NotRecovered);
      EXPECT_FALSE(r.reason.empty());
    }
  }
  EXPECT_EQ(fixtures::FilesBelow(dest_).size(), saved);  // every file saved is in the destination
}

// A file system that refuses ':' in a name, as NTFS mounted with
// windows_names does.
class RefusesColons : public NameMaker {
 public:
  int MakeFolder(int folder, const char* name) override {
    if (std::strchr(name, ':') != nullptr) return Refuse();
    return NameMaker::MakeFolder(folder, name);
  }
  int CreateFile(int folder, const char* name) override {
    if (std::strchr(name, ':') != nullptr) return Refuse();
    return NameMaker::CreateFile(folder, name);
  }
  int refused = 0;

 private:
  int Refuse() {
    ++refused;
    errno = EINVAL;
    return -1;
  }
};

TEST_F(SaveTest, NamesTheFileSystemRefusesAreSavedInTheirPortableForm) {
  MtfWriter w;
  w.Tape(u"Backup at 1:05 PM");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.File(u"a:b.txt", {Stan("colon")});
  w.File(u"a_b.txt", {Stan("plain")});
  w.Dirb(u"Docs");
  w.File(u"x.txt", {Stan("x")});
  w.Bare("ESET");
  Scan(w);
  RefusesColons maker;
  SaveOptions options;
  options.maker = &maker;
  const auto results = Save(true, options);
  const std::string set = "Backup at 1_05 PM/SET 1 _Daily/";
  EXPECT_EQ(fixtures::FilesBelow(dest_), (std::map<std::string, std::string>{{set + "C_/a_b.txt", "colon"},
                                                                {set + "C_/a_b (2).txt", "plain"},
                                                                {set + "C_/Docs/x.txt", "x"}}));
  // Each folder is said once, with the file that made it; then the files.
  EXPECT_EQ(Messages(results),
            (std::vector<std::string>{
                "saved 'Backup at 1:05 PM' as 'Backup at 1_05 PM' (the destination refuses ':')",
                "saved 'Backup at 1_05 PM/SET 1 :Daily' as 'Backup at 1_05 PM/SET 1 _Daily' (the "
                "destination refuses ':')",
                "saved '" + set + "C:' as '" + set + "C_' (the destination refuses ':')",
                "saved '" + set + "C_/a:b.txt' as '" + set + "C_/a_b.txt' (the destination refuses ':')"}));
  EXPECT_EQ(maker.refused, 4);  // each name is refused once

  // Asked for from the start, nothing is refused first.
  fs::remove_all(dest_);
  RefusesColons fresh;
  options.maker = &fresh;
  options.portableNames = true;
  const auto portable = Save(true, options);
  EXPECT_EQ(fresh.refused, 0);
  EXPECT_EQ(fixtures::FilesBelow(dest_).size(), 3u);
  EXPECT_EQ(Messages(portable).at(0),
            "saved 'Backup at 1:05 PM' as 'Backup at 1_05 PM' (portable names avoid ':')");
}

TEST(PrepareDestinationTest, OpensTheFolderAndLearnsItsFileSystem) {
  TempDir dir;
  std::string error;
  const auto made = PrepareDestination(dir.File("a/b"), error);
  ASSERT_TRUE(made) << error;
  EXPECT_TRUE(fs::is_directory(dir.File("a/b")));
  EXPECT_TRUE(fs::is_empty(dir.File("a/b")));  // the write test leaves nothing
  EXPECT_GE(made->folder.Get(), 0);
  EXPECT_FALSE(made->fileSystem.empty());
  EXPECT_FALSE(made->windowsNames);  // the temporary folder is a Linux file system

  WriteText(dir.File("file"), "x");
  EXPECT_FALSE(PrepareDestination(dir.File("file"), error));
  EXPECT_FALSE(PrepareDestination("", error));
  EXPECT_EQ(error, "no destination folder was given");
}

}  // namespace
}  // namespace ostrel
