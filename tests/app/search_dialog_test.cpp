// The Search dialog: the pattern rules, the controls while a search runs,
// Stop keeping the rows found so far, Remove and its messages, closing while
// searching, and saving the result list.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/main_frame.h"
#include "app/save_dialog.h"
#include "app/search_dialog.h"
#include "app/shell_queries.h"
#include "reader/scanner.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/app/scanned_catalogue.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/temp_dir.h"

namespace fs = std::filesystem;
using ostrel::app::CKorvaneDlgSearchBkfFiles;
using ostrel::app::MessageAnswer;
using ostrel::fixtures::MtfWriter;

namespace {

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"T");
  w.Sset(1, u"S");
  w.Volb(u"C:");
  w.File(u"report.doc", {{"STAN", Text("report"), {}, 0}});
  w.Dirb(u"v4.0.30319");  // dots in a folder name say nothing of its files
  w.File(u"mydocs.txt", {{"STAN", Text("my docs"), {}, 0}});
  w.File(u"abc.txt", {{"STAN", Text("abc!"), {}, 0}});
  w.File(u"ac.txt", {{"STAN", Text("ac"), {}, 0}});
  w.File(u"README", {{"STAN", Text("read me first"), {}, 0}});
  w.Bare("ESET");
  return w;
}

QStringList Column(const ostrel::app::SearchResultModel* model, int column) {
  QStringList out;
  for (int i = 0; i < model->rowCount(); ++i) out << model->index(i, column).data().toString();
  return out;
}

}  // namespace

class SearchDialogTest : public QObject {
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

  void startsIdleWithItsPattern() {
    Load(Backup());
    CKorvaneDlgSearchBkfFiles dialog(Frame());
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Search file(s)"));
    QCOMPARE(dialog.PatternEdit()->text(), QStringLiteral("*.*"));
    QVERIFY(dialog.HierarchyBox()->isChecked());
    QVERIFY(dialog.OkButton()->isVisible());
    for (QWidget* hidden : std::initializer_list<QWidget*>{dialog.StopButton(), dialog.Progress(), dialog.TotalCaption(),
                                                            dialog.TotalLabel(), dialog.FoundCaption(), dialog.FoundLabel(),
                                                            dialog.WaitNotice()}) {
      QVERIFY(!hidden->isVisible());
    }
    QCOMPARE(dialog.SearchButton()->toolTip(), QStringLiteral("Search file(s)..."));
  }

  void patterns() {
    Load(Backup());
    const QString volume = QStringLiteral("T\\SET 1 :S\\C:\\");
    const struct {
      QString pattern;
      QStringList found;
    } cases[] = {
        {"*.*", {volume + "report.doc", volume + "v4.0.30319\\mydocs.txt", volume + "v4.0.30319\\abc.txt", volume + "v4.0.30319\\ac.txt"}},
        {"doc", {volume + "report.doc", volume + "v4.0.30319\\mydocs.txt"}},
        {"  doc ", {volume + "report.doc", volume + "v4.0.30319\\mydocs.txt"}},
        {"*.DOC", {}},
        {"a?c.txt", {volume + "v4.0.30319\\abc.txt"}},
        {"*", {volume + "report.doc", volume + "v4.0.30319\\mydocs.txt", volume + "v4.0.30319\\abc.txt", volume + "v4.0.30319\\ac.txt",
               volume + "v4.0.30319\\README"}},
        {"READ", {volume + "v4.0.30319\\README"}},
    };
    CKorvaneDlgSearchBkfFiles dialog(Frame());
    dialog.show();
    for (const auto& c : cases) {
      dialog.PatternEdit()->setText(c.pattern);
      QVERIFY(Search(dialog));
      QCOMPARE(Column(dialog.Results(), 0), c.found);
      QCOMPARE(dialog.TotalLabel()->text(), QString::number(c.found.size()));
      QVERIFY(dialog.TotalLabel()->isVisible());
      QVERIFY(dialog.OkButton()->isVisible());
      QVERIFY(!dialog.StopButton()->isVisible());
      QVERIFY(dialog.PatternEdit()->isEnabled());
      QVERIFY(!fixture_.state().IsProcessRunning());
    }
    // The rows: path, type name of the file's name (not of its folders'), size.
    dialog.PatternEdit()->setText("README");
    QVERIFY(Search(dialog));
    QCOMPARE(dialog.Results()->index(0, 1).data().toString(), QStringLiteral("File"));
    QCOMPARE(dialog.Results()->index(0, 1).data().toString(), ostrel::app::FileTypeName("README"));
    QCOMPARE(dialog.Results()->index(0, 2).data().toString(), QStringLiteral("13"));
    QVERIFY(fixture_.prompts().MessageTexts().isEmpty());

    // Blanks only: refused, the list stays as it was.
    dialog.PatternEdit()->setText("   ");
    dialog.OnSearch();
    QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{"Enter text pattern to search files."});
    QCOMPARE(dialog.Results()->rowCount(), 1);
    QVERIFY(!dialog.IsSearching());
  }

  void stopKeepsTheRowsFoundSoFar() {
    LoadMany(400000);
    CKorvaneDlgSearchBkfFiles dialog(Frame());
    dialog.show();
    dialog.PatternEdit()->setText("*");
    QSignalSpy finished(&dialog, &CKorvaneDlgSearchBkfFiles::searchFinished);
    dialog.OnSearch();
    QVERIFY(dialog.IsSearching());
    QVERIFY(fixture_.state().IsProcessRunning());
    for (QWidget* off : std::initializer_list<QWidget*>{dialog.OkButton(), dialog.SearchButton(), dialog.PatternEdit(),
                                                         dialog.DestinationEdit(), dialog.SaveButton(),
                                                         dialog.RemoveButton(), dialog.HierarchyBox()}) {
      QVERIFY(!off->isEnabled());
    }
    QVERIFY(dialog.StopButton()->isVisible() && dialog.Progress()->isVisible() && dialog.FoundCaption()->isVisible());
    QVERIFY(!dialog.OkButton()->isVisible());
    // Closing is refused while it runs.
    dialog.reject();
    QVERIFY(dialog.isVisible());
    fixture_.prompts().AnswerMessage(MessageAnswer::Yes);
    dialog.OnStop();
    QVERIFY(finished.wait(20000) || finished.count() == 1);
    QCOMPARE(fixture_.prompts().MessageTexts(), (QStringList{"Please stop the running process to close the application.",
                                                             "Are you sure to stop the running process?"}));
    const int rows = dialog.Results()->rowCount();
    QVERIFY2(rows < 400000, "the search was not stopped");
    // The rows kept are the first files, in order.
    for (int i = 0; i < rows; ++i) QCOMPARE(dialog.Results()->Files()[static_cast<std::size_t>(i)], std::uint64_t(i));
    QCOMPARE(dialog.TotalLabel()->text(), QString::number(rows));
    QVERIFY(dialog.TotalLabel()->isVisible());
    QVERIFY(!fixture_.state().IsProcessRunning());

    // Run to the end: every file, in batches.
    QVERIFY(Search(dialog));
    QCOMPARE(dialog.Results()->rowCount(), 400000);
    QCOMPARE(dialog.TotalLabel()->text(), QStringLiteral("400000"));
  }

  void removeAndItsMessages() {
    Load(Backup());
    CKorvaneDlgSearchBkfFiles dialog(Frame());
    dialog.show();
    // Nothing selected, even on an empty list.
    dialog.OnRemove();
    dialog.PatternEdit()->setText("*.txt");
    QVERIFY(Search(dialog));
    QCOMPARE(dialog.Results()->rowCount(), 3);
    dialog.OnRemove();
    QCOMPARE(fixture_.prompts().MessageTexts(),
             (QStringList{"No file(s) selected to remove.", "No file(s) selected to remove."}));
    fixture_.prompts().Clear();

    auto select = [&](std::initializer_list<int> rows) {
      dialog.ResultList()->clearSelection();
      for (int r : rows)
        dialog.ResultList()->selectionModel()->select(dialog.Results()->index(r, 0),
                                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select({0, 2});
    dialog.OnRemove();
    QCOMPARE(Column(dialog.Results(), 0), QStringList{"T\\SET 1 :S\\C:\\v4.0.30319\\abc.txt"});
    QCOMPARE(dialog.TotalLabel()->text(), QStringLiteral("1"));
    QVERIFY(fixture_.prompts().MessageTexts().isEmpty());
    select({0});
    dialog.OnRemove();
    QCOMPARE(dialog.Results()->rowCount(), 0);
    QVERIFY(!dialog.TotalLabel()->isVisible() && !dialog.TotalCaption()->isVisible());
    dialog.OnRemove();
    QCOMPARE(fixture_.prompts().MessageTexts(),
             (QStringList{"No file(s) is present in the list to remove.", "No file(s) selected to remove."}));
  }

  void savesTheResultList() {
    Load(Backup());
    CKorvaneDlgSearchBkfFiles dialog(Frame());
    dialog.show();
    dialog.PatternEdit()->setText("*.txt");
    QVERIFY(Search(dialog));
    dialog.ResultList()->selectionModel()->select(dialog.Results()->index(1, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    dialog.OnRemove();  // abc.txt is pruned
    const std::string dest = dir_->File("saved");
    dialog.DestinationEdit()->setText(QString::fromStdString(dest));
    const struct {
      bool hierarchy;
      std::vector<std::string> files;
    } cases[] = {
        {true, {"T/SET 1 :S/C:/v4.0.30319/ac.txt", "T/SET 1 :S/C:/v4.0.30319/mydocs.txt"}},
        {false, {"ac.txt", "mydocs.txt"}},
    };
    for (const auto& c : cases) {
      fs::remove_all(dest);
      dialog.HierarchyBox()->setChecked(c.hierarchy);
      int saved = -1;
      // The save dialog runs modally on top; close it when it is done.
      QTimer poll;
      connect(&poll, &QTimer::timeout, this, [&] {
        auto* save = qobject_cast<ostrel::app::CKorvaneDlgSaveRecoveredFiles*>(QApplication::activeModalWidget());
        if (save != nullptr && !save->IsSaving() && save->List()->topLevelItemCount() > 0) {
          saved = save->SavedCount();
          save->CloseButton()->click();
        }
      });
      poll.start(10);
      dialog.OnSaveFiles();
      poll.stop();
      QCOMPARE(saved, 2);
      std::vector<std::string> files;
      for (const auto& e : fs::recursive_directory_iterator(dest))
        if (e.is_regular_file()) files.push_back(fs::relative(e.path(), dest).string());
      std::sort(files.begin(), files.end());
      QCOMPARE(files, c.files);
    }
    std::ifstream in(dest + "/mydocs.txt");
    QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), std::string("my docs"));
  }

  void searchCommandRefusesOrOpensTheDialog() {
    Frame().OnSearchFiles();
    QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{"Please select BKF file to recover data."});
    Load(Backup());
    QString title;
    QTimer::singleShot(0, this, [&] {
      if (auto* dialog = qobject_cast<CKorvaneDlgSearchBkfFiles*>(QApplication::activeModalWidget())) {
        title = dialog->windowTitle();
        dialog->OkButton()->click();
      }
    });
    Frame().OnSearchFiles();
    QCOMPARE(title, QStringLiteral("Search file(s)"));
  }

 private:
  ostrel::app::CMainFrame& Frame() { return fixture_.frame(); }

  void Load(const MtfWriter& w) { QVERIFY(ostrel::testing::ShowScannedCatalogue(fixture_, dir_->Write(w))); }

  // A catalogue of `count` files in one folder, built without a scan.
  void LoadMany(std::uint64_t count) {
    auto session = std::make_unique<ostrel::RecoverySession>();
    ostrel::Catalogue& cat = session->catalogue;
    const std::uint64_t folder = cat.Tree().AddNode(u"Tape", 0);
    for (std::uint64_t i = 0; i < count; ++i) {
      ostrel::FileNode node;
      node.parent = folder;
      node.dataLength = i;
      const std::u16string name = u"file" + std::u16string(1, char16_t(u'a' + i % 26)) + u".dat";
      cat.AppendFile(node, name);
    }
    Frame().SetSession(std::move(session));
    Frame().ShowCatalogueTopLevel();
  }

  bool Search(CKorvaneDlgSearchBkfFiles& dialog) {
    QSignalSpy finished(&dialog, &CKorvaneDlgSearchBkfFiles::searchFinished);
    dialog.OnSearch();
    if (!dialog.IsSearching()) return false;
    return finished.wait(60000) || finished.count() > 0;
  }

  ostrel::testing::PrivateEnvironment env_;
  ostrel::testing::FrameFixture fixture_;
  std::unique_ptr<ostrel::fixtures::TempDir> dir_;
};

QTEST_MAIN(SearchDialogTest)
#include "search_dialog_test.moc"
