// Saving recovered files from the desktop program: which files the check marks
// select, where they are written, what each outcome looks like in the dialog
// and the log, Stop, refused destinations and failing writes, on catalogues
// scanned from fixture files.
#include <signal.h>
#include <sys/resource.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "app/catalogue_items.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/save_dialog.h"
#include "reader/extract.h"
#include "reader/scanner.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/app/scanned_catalogue.h"
#include "tests/fixtures/failing_disk.h"
#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/ntfs_image.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"
#include "widgets/check_tree.h"

namespace fs = std::filesystem;
using ostrel::app::CKorvaneDlgSaveRecoveredFiles;
using ostrel::app::MessageAnswer;
using ostrel::app::RefOf;
using ostrel::fixtures::FilesBelow;
using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;
using ostrel::fixtures::Stream;
using ostrel::fixtures::Text;

namespace {

using Bytes = std::vector<std::uint8_t>;
using FileMap = std::map<std::string, std::string>;

std::string Str(const Bytes& b) { return {b.begin(), b.end()}; }

// Text that compresses: repeated phrases with a counter.
Bytes Compressible(std::size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i % 97) + " of the recovered report\n";
  s.resize(n);
  return Text(s);
}

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i)
    if (parent->child(i)->text(0) == text) return parent->child(i);
  return nullptr;
}

const Bytes kSong = Compressible(150000);  // three frames, LZS-compressed in the backup

// T \ SET 1 :Daily \ C: with autoexec.bat, Docs (a.txt, b.doc) with 2009
// (report.txt) and 2010 (report.txt), and Music (song.mp3, compressed).
MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"T");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.File(u"autoexec.bat", {Stan(Text("@echo off"))});
  w.Dirb(u"Docs");
  w.File(u"a.txt", {Stan(Text("alpha"))});
  w.File(u"b.doc", {Stan(Text("bravo"))});
  w.Dirb(u"Docs\\2009");
  w.File(u"report.txt", {Stan(Text("report of 2009"))});
  w.Dirb(u"Docs\\2010");
  w.File(u"report.txt", {Stan(Text("report of 2010"))});
  w.Dirb(u"Music");
  w.File(u"song.mp3", {Stan(ostrel::fixtures::CompressFrames(kSong))});
  w.Bare("ESET");
  return w;
}

const std::string kVolume = "T/SET 1 :Daily/C:/";

}  // namespace

class SaveDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }
  void init() {
    fixture_.SetUp();
    dir_ = std::make_unique<ostrel::fixtures::TempDir>();
  }
  void cleanup() {
    fixture_.TearDown();
    dir_.reset();
  }

  void checkMarksChooseTheFiles() {
    Load(Backup());
    auto* tree = Frame().CheckTree();
    auto saved = [&] {
      QStringList names;
      const auto& cat = Frame().Session()->catalogue;
      for (std::uint64_t i : ostrel::app::CheckedFilesToSave(*tree, cat)) {
        const std::u16string path = ostrel::CataloguePath(cat, i);
        names << QString::fromStdU16String(path).section(QLatin1Char('\\'), 3);
      }
      return names;
    };
    // The top level is checked and nothing was expanded: everything.
    QCOMPARE(saved(), (QStringList{"autoexec.bat", "Docs\\a.txt", "Docs\\b.doc", "Docs\\2009\\report.txt",
                                   "Docs\\2010\\report.txt", "Music\\song.mp3"}));

    QTreeWidgetItem* volume = Expand({"T", "SET 1 :Daily", "C:"});
    // An unchecked file in a checked folder.
    tree->SetCheck(Child(volume, "autoexec.bat"), false);
    QCOMPARE(saved(), (QStringList{"Docs\\a.txt", "Docs\\b.doc", "Docs\\2009\\report.txt", "Docs\\2010\\report.txt",
                                   "Music\\song.mp3"}));
    // A partly checked folder: its checked, never expanded subfolder still counts.
    QTreeWidgetItem* docs = Child(volume, "Docs");
    emit fixture_.state().messages().treeExpand(docs, ostrel::widgets::kHitButton);
    tree->SetCheck(Child(docs, "a.txt"), false);
    tree->SetCheck(Child(docs, "2010"), false);
    QVERIFY(!tree->GetCheck(docs));
    QCOMPARE(saved(), (QStringList{"Docs\\b.doc", "Docs\\2009\\report.txt", "Music\\song.mp3"}));
    // Everything unchecked, then one never expanded folder checked.
    tree->SetCheck(tree->topLevelItem(0), true);
    tree->SetCheck(tree->topLevelItem(0), false);
    QCOMPARE(saved(), QStringList{});
    tree->SetCheck(Child(volume, "Music"), true);
    QCOMPARE(saved(), QStringList{"Music\\song.mp3"});
  }

  void savesInHierarchyOrFlatWithTheExactBytes() {
    Load(Backup());
    const FileMap expectedTree = {
        {kVolume + "autoexec.bat", "@echo off"},
        {kVolume + "Docs/a.txt", "alpha"},
        {kVolume + "Docs/b.doc", "bravo"},
        {kVolume + "Docs/2009/report.txt", "report of 2009"},
        {kVolume + "Docs/2010/report.txt", "report of 2010"},
        {kVolume + "Music/song.mp3", Str(kSong)},
    };
    const FileMap expectedFlat = {
        {"autoexec.bat", "@echo off"},         {"a.txt", "alpha"},
        {"b.doc", "bravo"},                    {"report.txt", "report of 2009"},
        {"report (2).txt", "report of 2010"},  {"song.mp3", Str(kSong)},
    };
    const struct {
      const char* name;
      bool hierarchy;
      const FileMap& files;
    } cases[] = {{"hierarchy", true, expectedTree}, {"flat", false, expectedFlat}};
    for (const auto& c : cases) {
      const std::string dest = dir_->File(std::string("out-") + c.name + "/new/folder");
      CKorvaneDlgSaveRecoveredFiles dialog(Frame());
      dialog.show();
      QVERIFY(dialog.HierarchyBox()->isChecked());  // the starting state
      QVERIFY(dialog.CloseButton()->isVisible());
      QVERIFY(!dialog.StopButton()->isVisible());
      dialog.SetHierarchy(c.hierarchy);
      dialog.SetDestination(QString::fromStdString(dest));
      QVERIFY(RunToEnd(dialog));
      QCOMPARE(FilesBelow(dest), c.files);
      QCOMPARE(dialog.SavedCount(), 6);
      QCOMPARE(dialog.CountLabel()->text(), QStringLiteral("6"));
      QCOMPARE(dialog.List()->topLevelItemCount(), 6);
      QVERIFY(dialog.CountLabel()->isVisible());
      QVERIFY(dialog.CloseButton()->isVisible());
      QVERIFY(!dialog.StopButton()->isVisible());
      QVERIFY(!dialog.Progress()->isVisible());
      QVERIFY(dialog.SaveButton()->isEnabled());
      QVERIFY(!fixture_.state().IsProcessRunning());
      // Each row: the saved path, its size, its status.
      QTreeWidgetItem* song = dialog.List()->topLevelItem(5);
      QVERIFY(song->text(0).endsWith(c.hierarchy ? "/Music/song.mp3" : "/folder/song.mp3"));
      QCOMPARE(song->text(1), QString::number(kSong.size()));
      QCOMPARE(song->text(2), QStringLiteral("Saved"));
      QCOMPARE(fixture_.prompts().MessageTexts().last(),
               QStringLiteral("Saving of recovered files is complete.\nFiles saved: 6, files not recovered: 0."));
      fixture_.prompts().Clear();
    }
  }

  void everyOutcomeIsListedAndTheRunGoesOn() {
    MtfWriter w;
    w.Tape(u"T");
    w.Sset(1, u"S");
    w.Volb(u"C:");
    w.File(u"nodata.txt", {Stan(Text("lost"))});
    w.File(u"later.txt", {Stan(Text("rest of a file"), /*continuation*/ 1)});
    w.File(u"empty.txt", {Stan(Bytes{})});
    const std::uint64_t split = w.File(u"split.txt", {Stan(Text("12345678"))});
    w.Bare("SFMB", split + MtfWriter::FirstEventFor(18) + 32);
    w.File(u"good.txt", {Stan(Text("good"))});
    w.Bare("ESET");
    Load(w);
    Frame().Session()->catalogue.FileAt(0).dataPosition = 0;  // as a snapshot may hold it
    const std::string dest = dir_->File("out");
    fs::create_directories(dest + "/T/S/C:");
    // A folder in the way of a file: it cannot be created.
    fs::create_directories(dest + "/blocked.txt");

    auto owned = Dialog(dest, false);

    CKorvaneDlgSaveRecoveredFiles& dialog = *owned;
    QVERIFY(RunToEnd(dialog));
    QCOMPARE(FilesBelow(dest), (FileMap{{"empty.txt", ""}, {"good.txt", "good"}}));
    QStringList statuses;
    for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) statuses << dialog.List()->topLevelItem(i)->text(2);
    auto reason = [](ostrel::ExtractOutcome o) { return QString::fromUtf8(ostrel::OutcomeReason(o).data()); };
    QCOMPARE(statuses, (QStringList{"Not recovered: " + reason(ostrel::ExtractOutcome::NoData),
                                    "Not recovered: " + reason(ostrel::ExtractOutcome::Continuation),
                                    "Saved: " + reason(ostrel::ExtractOutcome::Empty),
                                    "Not recovered: " + reason(ostrel::ExtractOutcome::Split), "Saved"}));
    QCOMPARE(dialog.SavedCount(), 2);
    // The log: the start, one line per file not recovered, the totals.
    const QStringList log = Frame().OutputWnd()->Lines();
    const int start = static_cast<int>(log.indexOf(QRegularExpression("^Saving 5 file\\(s\\) to \".*/out\" starts\\.  \\w.*")));
    QVERIFY2(start >= 0, qPrintable(log.join('\n')));
    QCOMPARE(log.mid(start + 1, 3),
             (QStringList{"File could not be recovered: T\\SET 1 :S\\C:\\nodata.txt (" + reason(ostrel::ExtractOutcome::NoData) + ")",
                          "File could not be recovered: T\\SET 1 :S\\C:\\later.txt (" + reason(ostrel::ExtractOutcome::Continuation) + ")",
                          "File could not be recovered: T\\SET 1 :S\\C:\\split.txt (" + reason(ostrel::ExtractOutcome::Split) + ")"}));
    QVERIFY(log.at(start + 4).startsWith("Saving of recovered files is complete. Files saved: 2, files not recovered: 3.  "));

    // A folder in the way of a file: the file takes the next number, and the
    // list and the log say so.
    Frame().Session()->catalogue.FileAt(0).dataPosition = Frame().Session()->catalogue.FileAt(4).dataPosition;
    ostrel::Catalogue& cat = Frame().Session()->catalogue;
    QVERIFY(cat.RenameFileNode(0, u"blocked.txt"));
    fs::remove_all(dest + "/good.txt");
    fixture_.prompts().Clear();
    fixture_.prompts().AnswerMessage(MessageAnswer::No);  // empty.txt exists: keep both
    QVERIFY(RunToEnd(dialog));
    QCOMPARE(dialog.List()->topLevelItem(0)->text(2), QStringLiteral("Saved: blocked.txt exists; saved as blocked (2).txt"));
    QCOMPARE(dialog.List()->topLevelItem(2)->text(2),
             "Saved: " + reason(ostrel::ExtractOutcome::Empty) + "; empty.txt exists; saved as empty (2).txt");
    QVERIFY(Frame().OutputWnd()->Lines().contains("blocked.txt exists; saved as blocked (2).txt"));
    QCOMPARE(FilesBelow(dest).at("blocked (2).txt"), std::string("good"));
    QCOMPARE(FilesBelow(dest).at("good.txt"), std::string("good"));
  }

  void damagedAndCutShortFilesAreListedApart() {
    MtfWriter w;
    w.Tape(u"T");
    w.Sset(1, u"S");
    w.Volb(u"C:");
    w.File(u"good.txt", {Stan(Text("good"))});
    const Bytes noise = ostrel::fixtures::Noise(20000, 3);
    const std::uint64_t badData = w.File(u"bad.bin", {Stan(noise)}) + MtfWriter::FirstEventFor(14) + 22;
    const std::uint64_t cutData = w.File(u"cut.bin", {Stan(Bytes(30000, 'c'))}) + MtfWriter::FirstEventFor(14) + 22;
    w.Bytes().resize(cutData + 10000);  // the backup ends inside cut.bin's data
    Load(w);
    const std::uint64_t piece = (badData + 8192) / 4096 * 4096;
    const ostrel::fixtures::FailingDisk disk({{piece, 4096}});
    Frame().Session()->file.SetReader(disk.Reader());
    const std::string dest = dir_->File("out");

    auto dialog = Dialog(dest, false);
    QVERIFY(RunToEnd(*dialog));
    // Both incomplete files are written as far as the backup gives them.
    std::string damaged(noise.begin(), noise.end());
    std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(piece - badData), 4096, '\0');
    QCOMPARE(FilesBelow(dest), (FileMap{{"good.txt", "good"}, {"bad.bin", damaged}, {"cut.bin", std::string(10000 - 1024, 'c')}}));
    const QString unreadable = QStringLiteral("4,096 bytes unreadable at offset %1 in the backup; written with zeros there").arg(piece);
    const QString cut = QStringLiteral("cut short by the end of the backup: 8,976 of 30,000 bytes");
    QStringList statuses;
    for (int i = 0; i < dialog->List()->topLevelItemCount(); ++i) statuses << dialog->List()->topLevelItem(i)->text(2);
    QCOMPARE(statuses, (QStringList{"Saved", "Saved with damage: " + unreadable, "Saved cut short: " + cut}));
    QCOMPARE(dialog->SavedCount(), 3);
    const QStringList log = Frame().OutputWnd()->Lines();
    QVERIFY2(log.contains("File saved incomplete: T\\SET 1 :S\\C:\\bad.bin (" + unreadable + ")"), qPrintable(log.join('\n')));
    QVERIFY2(log.contains("File saved incomplete: T\\SET 1 :S\\C:\\cut.bin (" + cut + ")"), qPrintable(log.join('\n')));
    QVERIFY(std::any_of(log.begin(), log.end(), [](const QString& line) {
      return line.startsWith("Saving of recovered files is complete. Files saved: 3 (1 with damage, 1 cut short), "
                             "files not recovered: 0.  ");
    }));
  }

  // Each written file says what the checksum after its data says of it,
  // and the totals count them.
  void checksumsAreShownForEachFile() {
    const Bytes text = Text("the data as it was backed up");
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < text.size(); ++i) sum ^= static_cast<std::uint32_t>(text[i]) << (8 * (i % 4));
    auto csum = [](std::uint32_t v) {
      return ostrel::fixtures::Stream{"CSUM",
                                      {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)},
                                      {},
                                      0};
    };
    MtfWriter w;
    w.Tape(u"T");
    w.Sset(1, u"S");
    w.Volb(u"C:");
    w.File(u"good.txt", {Stan(text), csum(sum)});
    w.File(u"changed.txt", {Stan(text), csum(sum ^ 0x10000)});
    w.File(u"plain.txt", {Stan(text)});
    Load(w);
    auto dialog = Dialog(dir_->File("out"), false);
    QVERIFY(RunToEnd(*dialog));
    QStringList statuses;
    for (int i = 0; i < dialog->List()->topLevelItemCount(); ++i) statuses << dialog->List()->topLevelItem(i)->text(2);
    QCOMPARE(statuses, (QStringList{"Saved, verified", "Saved, checksum mismatch: the data differs from what was backed up",
                                    "Saved"}));
    const QStringList log = Frame().OutputWnd()->Lines();
    QVERIFY2(log.contains("File saved, checksum mismatch: T\\SET 1 :S\\C:\\changed.txt (the data differs from what "
                          "was backed up)"),
             qPrintable(log.join('\n')));
    QVERIFY(std::any_of(log.begin(), log.end(), [](const QString& line) {
      return line.startsWith("Saving of recovered files is complete. Files saved: 3, verified by checksum: 1, "
                             "checksum mismatch: 1, files not recovered: 0.  ");
    }));
  }

  void hostileNamesStayInsideTheDestination() {
    MtfWriter w;
    w.Tape(u"..");
    w.Sset(1, u"/etc");
    w.Volb(u"C:");
    w.Dirb(u"..\\..\\..\\etc");
    w.File(u"..\\..\\etc\\passwd", {Stan(Text("1"))});
    w.File(u"/abs", {Stan(Text("2"))});
    w.File(u"..", {Stan(Text("3"))});
    w.File(std::u16string(u"nul") + char16_t(0) + u"x", {Stan(Text("4"))});
    w.File(u"long.txt", {Stan(Text("5"))});
    w.Bare("ESET");
    Load(w);
    // Longer than any file system takes, as a renamed entry or a snapshot may hold it.
    QVERIFY(Frame().Session()->catalogue.RenameFileNode(4, std::u16string(300, u'n') + u".txt"));
    const std::string dest = dir_->File("inside/dest");
    for (bool hierarchy : {true, false}) {
      fs::remove_all(dir_->File("inside"));
      auto owned = Dialog(dest, hierarchy);
      CKorvaneDlgSaveRecoveredFiles& dialog = *owned;
      QVERIFY(RunToEnd(dialog));
      QStringList rows;
      for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
        rows << dialog.List()->topLevelItem(i)->text(0) + " " + dialog.List()->topLevelItem(i)->text(2);
      QVERIFY2(dialog.SavedCount() == 5, qPrintable(rows.join('\n')));
      // Nothing but the destination in its parent, every file below it.
      QCOMPARE(std::distance(fs::directory_iterator(dir_->File("inside")), fs::directory_iterator()), 1);
      const FileMap files = FilesBelow(dest);
      QCOMPARE(files.size(), std::size_t{5});
      for (const auto& [path, content] : files) {
        for (const auto& part : fs::path(path)) {
          QVERIFY2(part != ".." && part != "." && part.string().size() <= 255, path.c_str());
        }
      }
      const std::string folder = hierarchy ? "_/SET 1 :_etc/C:/_/_/_/etc/" : "";
      QCOMPARE(files.at(folder + "..\\..\\etc\\passwd"), std::string("1"));
      QCOMPARE(files.at(folder + "_abs"), std::string("2"));
      QCOMPARE(files.at(folder + "_"), std::string("3"));
      QCOMPARE(files.count(folder + std::string(251, 'n') + ".txt"), std::size_t{1});
      fixture_.prompts().Clear();
    }
  }

  void refusesBeforeWritingAnything() {
    Load(Backup());
    std::ofstream(dir_->File("a-file")) << "x";
    const struct {
      const char* name;
      std::string destination;
      bool uncheckAll;
      QString message;  // start of the message
    } cases[] = {
        {"no destination", "  ", false, "Please select destination path to save files."},
        {"a destination below a file", dir_->File("a-file/sub"), false,
         "Cannot save files to \"" + QString::fromStdString(dir_->File("a-file/sub")) + "\": it cannot be created: "},
        {"a file as the destination", dir_->File("a-file"), false, "Cannot save files to \""},
        {"nothing checked", dir_->File("unused"), true, "No file(s) selected to save."},
    };
    for (const auto& c : cases) {
      CKorvaneDlgSaveRecoveredFiles dialog(Frame());
      dialog.show();
      if (c.uncheckAll) Frame().CheckTree()->SetCheck(Frame().CheckTree()->topLevelItem(0), false);
      dialog.SetDestination(QString::fromStdString(c.destination));
      QVERIFY2(!dialog.StartSaving(), c.name);
      QVERIFY2(fixture_.prompts().MessageTexts().value(0).startsWith(c.message),
               qPrintable(fixture_.prompts().MessageTexts().join('|')));
      QVERIFY(!fixture_.state().IsProcessRunning());
      QVERIFY(!dialog.IsSaving());
      QVERIFY(dialog.SaveButton()->isEnabled());
      fixture_.prompts().Clear();
    }
    QVERIFY(!fs::exists(dir_->File("unused")));
    QVERIFY(!fs::exists(dir_->File("a-file/sub")));
  }

  void stopEndsTheRunAfterTheCurrentFile() {
    MtfWriter w;
    w.Tape(u"T");
    w.Sset(1, u"S");
    w.Volb(u"C:");
    std::map<std::string, std::string> contents;
    for (int i = 0; i < 1500; ++i) {
      const std::string name = "f" + std::to_string(i) + ".txt";
      contents[name] = "file number " + std::to_string(i);
      w.File(std::u16string(name.begin(), name.end()), {Stan(Text(contents[name]))});
    }
    w.Bare("ESET");
    Load(w);
    const std::string dest = dir_->File("out");
    auto owned = Dialog(dest, false);
    CKorvaneDlgSaveRecoveredFiles& dialog = *owned;
    QVERIFY(dialog.StartSaving());
    QVERIFY(dialog.StopButton()->isVisible());
    QVERIFY(!dialog.CloseButton()->isVisible());
    QVERIFY(!dialog.SaveButton()->isEnabled());
    QVERIFY(!dialog.DestinationEdit()->isEnabled());
    QVERIFY(!dialog.HierarchyBox()->isEnabled());
    QVERIFY(dialog.WaitNotice()->isVisible());
    QVERIFY(fixture_.state().IsProcessRunning());
    // While saving the dialog cannot be closed; No keeps the run going.
    dialog.reject();
    QVERIFY(dialog.isVisible());
    fixture_.prompts().AnswerMessage(MessageAnswer::No);
    dialog.OnStop();
    QVERIFY(fixture_.state().IsProcessRunning());
    fixture_.prompts().AnswerMessage(MessageAnswer::Yes);
    dialog.OnStop();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsSaving(), 20000);
    const QStringList texts = fixture_.prompts().MessageTexts();
    QCOMPARE(texts.mid(0, 3), (QStringList{"Please stop the running process to close the application.",
                                           "Are you sure to stop the running process?",
                                           "Are you sure to stop the running process?"}));
    QVERIFY2(texts.value(3).startsWith("Saving of recovered files was stopped.\nFiles saved: "), qPrintable(texts.value(3)));
    const FileMap files = FilesBelow(dest);
    QVERIFY2(files.size() < contents.size(), "the run was not stopped");
    QCOMPARE(dialog.SavedCount(), static_cast<int>(files.size()));
    for (const auto& [name, content] : files) QCOMPARE(content, contents.at(name));
    QVERIFY(dialog.CloseButton()->isVisible());
    QVERIFY(!fixture_.state().IsProcessRunning());
  }

  void aFailedWriteRemovesTheFileAndEndsTheRun() {
    MtfWriter w;
    w.Tape(u"T");
    w.Sset(1, u"S");
    w.Volb(u"C:");
    w.File(u"small.txt", {Stan(Text("small"))});
    w.File(u"big.bin", {Stan(Compressible(3 << 20))});
    w.File(u"after.txt", {Stan(Text("after"))});
    w.Bare("ESET");
    Load(w);
    const std::string dest = dir_->File("out");
    auto owned = Dialog(dest, false);
    CKorvaneDlgSaveRecoveredFiles& dialog = *owned;
    {
      // A full disk, as far as this process can tell: no file grows past 1 MiB.
      FileSizeLimit limit(1 << 20);
      QVERIFY(RunToEnd(dialog));
    }
    QCOMPARE(FilesBelow(dest), (FileMap{{"small.txt", "small"}}));
    QCOMPARE(dialog.List()->topLevelItemCount(), 2);
    const QString status = dialog.List()->topLevelItem(1)->text(2);
    QVERIFY2(status.startsWith("Not saved: writing failed after 1048576 bytes: File too large"), qPrintable(status));
    const QString message = fixture_.prompts().MessageTexts().value(0);
    QVERIFY2(message.startsWith("Saving stopped: \"" + QString::fromStdString(dest) + "/big.bin\" could not be written "
                                "(writing failed after 1048576 bytes: File too large"),
             qPrintable(message));
    QVERIFY(message.endsWith("Files saved: 1, files not recovered: 1, files not saved: 1."));
    QCOMPARE(fixture_.prompts().Messages().value(0).message.icon, ostrel::app::MessageIcon::Exclamation);
  }

  // Records whose data runs on to the end of the backup, file after file: the
  // run stops at its read limit, and the list, the log and the message say why.
  void theReadLimitEndsTheRun() {
    Load((fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "regress" / "bkf-second-stan-past-end")
             .string());
    const std::string dest = dir_->File("out");
    auto owned = Dialog(dest, false);
    CKorvaneDlgSaveRecoveredFiles& dialog = *owned;
    QVERIFY(RunToEnd(dialog));
    const int rows = dialog.List()->topLevelItemCount();
    QVERIFY(rows > 2);
    const QString why = QStringLiteral(
                            "the catalogue would read this backup's data more than 4 times over (hostile or looping "
                            "records); stopped after %1 files")
                            .arg(rows - 1);
    QCOMPARE(dialog.List()->topLevelItem(rows - 1)->text(2), "Not saved: " + why);
    QCOMPARE(static_cast<int>(FilesBelow(dest).size()), rows - 1);  // nothing of the file it stopped in
    QVERIFY(!Frame().OutputWnd()->Lines().filter(why).isEmpty());
    const QString message = fixture_.prompts().MessageTexts().value(0);
    QVERIFY2(message.startsWith("Saving stopped: " + why + "."), qPrintable(message));
    QCOMPARE(fixture_.prompts().Messages().value(0).message.icon, ostrel::app::MessageIcon::Exclamation);
  }

  // A second run into the same folder asks once, at the first file that
  // exists: Keep both (the default), Replace or Stop.
  void existingFilesAreAskedAboutOnce() {
    Load(Backup());
    const std::string dest = dir_->File("out");
    auto owned = Dialog(dest, false);
    CKorvaneDlgSaveRecoveredFiles& dialog = *owned;
    QVERIFY(RunToEnd(dialog));
    QCOMPARE(fixture_.prompts().MessageTexts().size(), 1);  // nothing existed: no question
    std::ofstream(dest + "/a.txt", std::ios::binary) << "edited";
    const struct {
      const char* name;
      MessageAnswer answer;
      FileMap files;     // a part of what is there afterwards
      QString a;         // the status of a.txt's row
      QString headline;  // the start of the last message
    } cases[] = {
        {"keep both", MessageAnswer::No, {{"a.txt", "edited"}, {"a (2).txt", "alpha"}, {"autoexec (2).bat", "@echo off"}},
         // The second report.txt is numbered after the first one's new name,
         // as this run's own: five files kept beside existing ones.
         "Saved: a.txt exists; saved as a (2).txt", "Saving of recovered files is complete.\nFiles saved: 6, "
         "files not recovered: 0, existing files kept: 5."},
        {"replace", MessageAnswer::Yes, {{"a.txt", "alpha"}, {"a (2).txt", "alpha"}},
         "Saved: a.txt exists; replaced", "Saving of recovered files is complete.\nFiles saved: 6, files not "
         "recovered: 0, existing files replaced: 6."},
        {"stop", MessageAnswer::Cancel, {{"a.txt", "alpha"}}, "", "Saving of recovered files was stopped."},
    };
    for (const auto& c : cases) {
      fixture_.prompts().Clear();
      fixture_.prompts().AnswerMessage(c.answer);
      QVERIFY2(RunToEnd(dialog), c.name);
      const auto shown = fixture_.prompts().Messages();
      QVERIFY2(shown.size() == 2, qPrintable(fixture_.prompts().MessageTexts().join('|')));
      const ostrel::app::MessageRequest& question = shown.at(0).message;
      QVERIFY(question.text.startsWith("\"autoexec.bat\" already exists in the destination folder."));
      QCOMPARE(question.buttonTexts, (QStringList{"Replace", "Keep both", "Stop"}));
      QCOMPARE(question.defaultAnswer, MessageAnswer::No);
      QVERIFY2(shown.at(1).message.text.startsWith(c.headline), qPrintable(shown.at(1).message.text));
      const FileMap files = FilesBelow(dest);
      for (const auto& [name, content] : c.files) QCOMPARE(files.at(name), content);
      if (!c.a.isEmpty()) QCOMPARE(dialog.List()->topLevelItem(1)->text(2), c.a);
      QVERIFY(fixture_.prompts().Problems().isEmpty());
    }
    QCOMPARE(dialog.List()->topLevelItemCount(), 1);  // stopped at the first file
    QVERIFY(dialog.List()->topLevelItem(0)->text(2).startsWith("Not saved: saving was stopped at autoexec.bat"));
  }

  // Saving to an external drive formatted NTFS, mounted as Linux desktops
  // mount it: the real backup and a generated one are saved whole, in their
  // hierarchy, under portable names, and the list and the log say so.
  void savesOntoAnNtfsDrive() {
    ostrel::fixtures::NtfsImage ntfs(dir_->Path());
    if (!ntfs.Unavailable().empty()) {
      QSKIP(qPrintable("no NTFS image can be mounted here: " + QString::fromStdString(ntfs.Unavailable())));
    }
    const struct {
      const char* name;
      std::string bkf;
      FileMap files;
      QString change;  // a line of the log
    } cases[] = {
        {"the real backup", std::string(OSTREL_TEST_DATA_DIR) + "/samples/ntbackup51_MailG-block-walker_Backup.bkf",
         {}, "saved 'Backup.bkf created 11_19_2012 at 1:05 PM' as 'Backup.bkf created 11_19_2012 at 1_05 PM' (the "
             "destination refuses ':')"},
        {"a generated backup", dir_->Write(Backup()),
         {{"T/SET 1 _Daily/C_/autoexec.bat", "@echo off"},
          {"T/SET 1 _Daily/C_/Docs/a.txt", "alpha"},
          {"T/SET 1 _Daily/C_/Docs/b.doc", "bravo"},
          {"T/SET 1 _Daily/C_/Docs/2009/report.txt", "report of 2009"},
          {"T/SET 1 _Daily/C_/Docs/2010/report.txt", "report of 2010"},
          {"T/SET 1 _Daily/C_/Music/song.mp3", Str(kSong)}},
         "saved 'T/SET 1 :Daily' as 'T/SET 1 _Daily' (the destination refuses ':')"},
    };
    for (const auto& c : cases) {
      Load(c.bkf);
      const std::string dest = ntfs.MountPoint() + "/" + c.name;
      fixture_.prompts().Clear();
      auto owned = Dialog(dest, true);
      QVERIFY2(RunToEnd(*owned), c.name);
      const FileMap files = FilesBelow(dest);
      if (c.files.empty()) {
        QCOMPARE(files.size(), std::size_t{1});
        QCOMPARE(files.begin()->first, std::string("Backup.bkf created 11_19_2012 at 1_05 PM/SET 1 _Set created "
                                                   "11_19_2012 at 1_05 PM/C_/boot.ini"));
        QCOMPARE(files.begin()->second.size(), std::size_t{210});
      } else {
        QCOMPARE(files, c.files);
      }
      QVERIFY2(Frame().OutputWnd()->Lines().contains(c.change), qPrintable(Frame().OutputWnd()->Lines().join('\n')));
      const QString done = fixture_.prompts().MessageTexts().value(0);
      // The real backup's boot.ini carries its checksum.
      QVERIFY2(done.startsWith("Saving of recovered files is complete.\nFiles saved: " +
                               QString::number(c.files.empty() ? 1 : c.files.size()) +
                               (c.files.empty() ? ", verified by checksum: 1" : "") + ", files not recovered: 0, "
                               "names changed for the destination: "),
               qPrintable(done));
    }
  }

  void saveCommandRefusesOrOpensTheDialog() {
    // No catalogue yet.
    Frame().OnSaveRecoveredFiles();
    QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{"Please select BKF file to recover data."});
    Load(Backup());
    fixture_.prompts().Clear();
    fixture_.state().SetProcessRunning(true);
    Frame().OnSaveRecoveredFiles();
    fixture_.state().SetProcessRunning(false);
    QCOMPARE(fixture_.prompts().MessageTexts(),
             QStringList{"Please stop the running process to save the recovered files."});
    QString title;
    QTimer::singleShot(0, this, [&] {
      if (auto* dialog = qobject_cast<CKorvaneDlgSaveRecoveredFiles*>(QApplication::activeModalWidget())) {
        title = dialog->windowTitle();
        dialog->CloseButton()->click();
      }
    });
    Frame().OnSaveRecoveredFiles();
    QCOMPARE(title, QStringLiteral("Save recovered file(s)"));
  }

 private:
  // Lowers the soft limit on the size of files this process writes.
  class FileSizeLimit {
   public:
    explicit FileSizeLimit(rlim_t bytes) {
      ::signal(SIGXFSZ, SIG_IGN);
      ::getrlimit(RLIMIT_FSIZE, &saved_);
      rlimit lowered = saved_;
      lowered.rlim_cur = bytes;
      ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

   private:
    rlimit saved_{};
  };

  ostrel::app::CMainFrame& Frame() { return fixture_.frame(); }

  void Load(const MtfWriter& w) { Load(dir_->Write(w)); }
  void Load(const std::string& bkf) { QVERIFY(ostrel::testing::ShowScannedCatalogue(fixture_, bkf)); }

  // Expands the items along `path` with their expand buttons.
  QTreeWidgetItem* Expand(const QStringList& path) {
    auto* tree = Frame().CheckTree();
    QTreeWidgetItem* item = nullptr;
    for (const QString& name : path) {
      if (item == nullptr) {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
          if (tree->topLevelItem(i)->text(0) == name) item = tree->topLevelItem(i);
      } else {
        item = Child(item, name);
      }
      if (item == nullptr) return nullptr;
      emit fixture_.state().messages().treeExpand(item, ostrel::widgets::kHitButton);
    }
    return item;
  }

  // A shown save dialog with its destination and hierarchy box set.
  std::unique_ptr<CKorvaneDlgSaveRecoveredFiles> Dialog(const std::string& destination, bool hierarchy) {
    auto dialog = std::make_unique<CKorvaneDlgSaveRecoveredFiles>(Frame());
    dialog->show();
    dialog->SetHierarchy(hierarchy);
    dialog->SetDestination(QString::fromStdString(destination));
    return dialog;
  }

  bool RunToEnd(CKorvaneDlgSaveRecoveredFiles& dialog) {
    QSignalSpy finished(&dialog, &CKorvaneDlgSaveRecoveredFiles::savingFinished);
    if (!dialog.StartSaving()) return false;
    return finished.wait(60000) || finished.count() > 0;
  }

  ostrel::testing::PrivateEnvironment env_;
  ostrel::testing::FrameFixture fixture_;
  std::unique_ptr<ostrel::fixtures::TempDir> dir_;
};

QTEST_MAIN(SaveDialogTest)
#include "save_dialog_test.moc"
