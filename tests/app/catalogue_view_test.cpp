// The catalogue in the tree pane and the file list: lazy filling, the order
// rules, the three list cases, renames and check marks, on catalogues that
// the core's scanner builds from fixture files.
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "app/catalogue_items.h"
#include "app/file_list_model.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/shell_queries.h"
#include "reader/scanner.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"
#include "widgets/check_tree.h"

using ostrel::app::NodeKind;
using ostrel::app::RefOf;
using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;
using ostrel::widgets::CKorvaneCheckTree;

namespace {

// T \ SET 1 :Daily \ C: with autoexec.bat, Docs (a.txt, b.doc) with 2009
// (report.txt) and 2010 (plan.txt), then Music (song.mp3). autoexec.bat and
// Docs have modification dates.
MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"T");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.SetDate(w.File(u"autoexec.bat", {Stan(10, 3)}), MtfWriter::PackDate(1998, 5, 11, 20, 1, 2));
  w.SetDate(w.Dirb(u"Docs"), MtfWriter::PackDate(2009, 6, 15, 8, 30, 0));
  w.File(u"a.txt", {Stan(11, 3)});
  w.File(u"b.doc", {Stan(12, 3)});
  w.Dirb(u"Docs\\2009");
  w.File(u"report.txt", {Stan(13, 3)});
  w.Dirb(u"Docs\\2010");
  w.File(u"plan.txt", {Stan(14, 3)});
  w.Dirb(u"Music");
  w.File(u"song.mp3", {Stan(15, 3)});
  return w;
}

QStringList Column(const ostrel::app::FileListModel* rows, int column) {
  QStringList out;
  for (int i = 0; i < rows->rowCount(); ++i) out << rows->index(i, column).data().toString();
  return out;
}

QStringList Children(QTreeWidgetItem* item) {
  QStringList out;
  for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
  return out;
}

}  // namespace

class CatalogueViewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }
  void init() {
    fixture_.SetUp();
    Show(Backup());
  }
  void cleanup() { fixture_.TearDown(); }

  void topLevelHasADummyChildAndIsChecked() {
    CKorvaneCheckTree* tree = Frame().CheckTree();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    QCOMPARE(top->text(0), QStringLiteral("T"));
    QCOMPARE(Children(top), QStringList{QStringLiteral("Dummy")});
    QVERIFY(tree->GetCheck(top));
    const auto& node = Cat().Tree().NodeAt(RefOf(top).index);
    QCOMPARE(node.inTree, 1);
    QCOMPARE(node.checkState, 0);  // checked while the flag was set
  }

  void selectingFillsTreeAndListNewestFolderFirst() {
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, /*select=*/true);
    QCOMPARE(Children(volume), (QStringList{"Music", "Docs", "autoexec.bat"}));
    QCOMPARE(Column(Rows(), 0), (QStringList{"Music", "Docs", "autoexec.bat"}));
    QCOMPARE(Column(Rows(), 1),
             (QStringList{"Folder", "Folder", ostrel::app::FileTypeName(QStringLiteral("autoexec.bat"))}));
    const QStringList dates{"", "2009-06-15 08:30:00", "1998-05-11 20:01:02"};
    QCOMPARE(Column(Rows(), 2), dates);
    QCOMPARE(Rows()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Modified"));
    QCOMPARE(Frame().ListSourceItem(), volume);
    QCOMPARE(Children(volume->child(1)), QStringList{QStringLiteral("Dummy")});
    // Selecting it again lists the same children, from the tree.
    Select(volume);
    QCOMPARE(Column(Rows(), 0), (QStringList{"Music", "Docs", "autoexec.bat"}));
    QCOMPARE(Column(Rows(), 2), dates);
    QVERIFY(!fixture_.state().IsProcessRunning());
  }

  void expandButtonFillsInDiscoveryOrderAndLeavesTheList() {
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, /*select=*/false);
    QCOMPARE(Children(volume), (QStringList{"Docs", "Music", "autoexec.bat"}));
    QCOMPARE(Rows()->rowCount(), 0);
    QTreeWidgetItem* docs = volume->child(0);
    emit fixture_.state().messages().treeExpand(docs, ostrel::widgets::kHitButton);
    QCOMPARE(Children(docs), (QStringList{"2009", "2010", "a.txt", "b.doc"}));
  }

  void selectingAFileListsItAlone() {
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, true);
    QTreeWidgetItem* file = volume->child(2);
    QCOMPARE(RefOf(file).kind, NodeKind::File);
    Select(file);
    QCOMPARE(Column(Rows(), 0), QStringList{"autoexec.bat"});
    QCOMPARE(Column(Rows(), 2), QStringList{"1998-05-11 20:01:02"});
  }

  void checkMarksReachTheCatalogue() {
    CKorvaneCheckTree* tree = Frame().CheckTree();
    QTreeWidgetItem* set = Open({"T", "SET 1 :Daily"}, false);
    QTreeWidgetItem* volume = set->child(0);
    // Checked while unpopulated: everything created under it later is checked.
    tree->SetCheck(volume, false);
    tree->SetCheck(volume, true);
    QCOMPARE(Cat().Tree().NodeAt(RefOf(volume).index).checkState, 1);
    emit fixture_.state().messages().treeExpand(volume, ostrel::widgets::kHitButton);
    for (int i = 0; i < volume->childCount(); ++i) {
      QVERIFY(tree->GetCheck(volume->child(i)));
    }
    // Filled by the expand button: the marks reach the nodes.
    QTreeWidgetItem* autoexec = volume->child(2);
    QCOMPARE(Cat().FileAt(RefOf(autoexec).index).checkState, 1);
    QCOMPARE(Cat().Tree().NodeAt(RefOf(volume->child(0)).index).checkState, 1);
    // Unchecking a file is copied; a folder filled by a selection keeps the
    // marks its nodes had.
    tree->SetCheck(autoexec, false);
    QCOMPARE(Cat().FileAt(RefOf(autoexec).index).checkState, 2);
    QTreeWidgetItem* docs = volume->child(0);
    Select(docs);
    QVERIFY(tree->GetCheck(docs->child(2)));
    QCOMPARE(Cat().FileAt(RefOf(docs->child(2)).index).checkState, 0);
    // Ignored while a process runs.
    fixture_.state().SetProcessRunning(true);
    tree->SetCheck(docs->child(2), false);
    fixture_.state().SetProcessRunning(false);
    QCOMPARE(Cat().FileAt(RefOf(docs->child(2)).index).checkState, 0);
  }

  void checkBoxClickLeavesTheHighlightAndTheList() {
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, true);
    CKorvaneCheckTree* tree = Frame().CheckTree();
    tree->setCurrentItem(volume);
    const QStringList listed = Column(Rows(), 0);
    QTreeWidgetItem* music = volume->child(0);
    tree->scrollToItem(music);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->CheckBoxRect(music).center());
    QVERIFY(!tree->GetCheck(music));
    // The highlight stays on the folder that the list shows.
    QCOMPARE(tree->currentItem(), volume);
    QCOMPARE(Frame().ListSourceItem(), volume);
    QCOMPARE(Column(Rows(), 0), listed);
  }

  void anEmptyFolderKeepsItsMarkWhenFilled_data() {
    QTest::addColumn<bool>("select");
    QTest::newRow("selected") << true;
    QTest::newRow("expanded") << false;
  }

  void anEmptyFolderKeepsItsMarkWhenFilled() {
    // An unchecked folder that turns out empty stays unchecked when its
    // placeholder goes, so its parent stays partly checked and Save leaves
    // out what the user excluded.
    QFETCH(bool, select);
    MtfWriter w;
    w.Tape(u"T");
    w.Sset(1, u"Daily");
    w.Volb(u"C:");
    w.File(u"keep.txt", {Stan(10, 3)});
    w.Dirb(u"Empty");
    Frame().ResetCatalogueView();
    Show(w);
    CKorvaneCheckTree* tree = Frame().CheckTree();
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, false);
    QTreeWidgetItem* empty = volume->child(0);
    QCOMPARE(empty->text(0), QStringLiteral("Empty"));
    tree->SetCheck(empty, false);
    QCOMPARE(tree->ShownStateImage(volume), int(ostrel::widgets::kStatePartial));
    if (select) {
      Select(empty);
    } else {
      emit fixture_.state().messages().treeExpand(empty, ostrel::widgets::kHitButton);
    }
    QCOMPARE(empty->childCount(), 0);
    QVERIFY(!tree->GetCheck(empty));
    QCOMPARE(tree->ShownStateImage(volume), int(ostrel::widgets::kStatePartial));
    QVERIFY(!tree->GetCheck(volume));
    QCOMPARE(Cat().Tree().NodeAt(RefOf(empty).index).checkState, 2);
  }

  void renames() {
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, true);
    QTreeWidgetItem* file = volume->child(2);
    QTreeWidgetItem* folder = volume->child(0);
    auto& messages = fixture_.state().messages();
    emit messages.treeRename(file, QStringLiteral("config.sys"));
    QCOMPARE(file->text(0), QStringLiteral("config.sys"));
    QCOMPARE(Cat().FileAt(RefOf(file).index).name, u"config.sys");
    QCOMPARE(Cat().FileAt(RefOf(file).index).nameSize, 24u);
    emit messages.treeRename(folder, QStringLiteral("Songs"));
    QCOMPARE(Cat().Tree().NodeAt(RefOf(folder).index).name, u"Songs");
    // An empty or cancelled edit keeps the old name.
    emit messages.treeRename(folder, QString());
    emit messages.treeRename(folder, QStringLiteral(""));
    QCOMPARE(folder->text(0), QStringLiteral("Songs"));
    // Refused while a process runs.
    fixture_.state().SetProcessRunning(true);
    emit messages.treeRename(folder, QStringLiteral("Late"));
    fixture_.state().SetProcessRunning(false);
    QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{QStringLiteral("Please wait for the running process.")});
    QCOMPARE(folder->text(0), QStringLiteral("Songs"));
  }

  void contextMenu() {
    QTreeWidgetItem* volume = Open({"T", "SET 1 :Daily", "C:"}, true);
    CKorvaneCheckTree* tree = Frame().CheckTree();
    tree->setCurrentItem(volume->child(0));
    fixture_.prompts().AnswerMenu(QStringLiteral("Rename"));
    emit fixture_.state().messages().treeContextMenu(volume->child(0), ostrel::widgets::kHitLabel);
    QCOMPARE(fixture_.prompts().shown().last().menuActions, (QStringList{"Collapse All", "Rename"}));
    auto* editor = tree->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr && editor->isVisible());
    QCOMPARE(editor->text(), QStringLiteral("Music"));
    QTest::keyClick(editor, Qt::Key_Escape);
    fixture_.prompts().AnswerMenu(QStringLiteral("Collapse All"));
    emit fixture_.state().messages().treeContextMenu(nullptr, 0);
    QVERIFY(!tree->topLevelItem(0)->isExpanded());
    QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
  }

  void aClickOnALabelSelectsThroughTheTree() {
    CKorvaneCheckTree* tree = Frame().CheckTree();
    QTreeWidgetItem* top = tree->topLevelItem(0);
    QPoint p = tree->visualItemRect(top).center();
    QTreeWidgetItem* hit = nullptr;
    for (p.setX(0); tree->HitTest(p, &hit) != ostrel::widgets::kHitLabel && p.x() < tree->width(); p.rx() += 2) {
    }
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, p);
    QCOMPARE(Column(Rows(), 0), QStringList{"SET 1 :Daily"});
  }

  void listPreviewsTheRowItMovesTo() {
    Open({"T", "SET 1 :Daily", "C:"}, true);
    auto* list = Frame().List();
    QSignalSpy previews(&fixture_.state().messages(), &ostrel::app::ShellMessages::listPreview);
    list->setFocus();
    list->setCurrentIndex(Rows()->index(0, 0));
    // Rows 0 and 1 are previewed like any other.
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up}) QTest::keyClick(list, key);
    QTest::keyClick(list, Qt::Key_Up);  // already on the first row: no move, no preview
    QList<int> rows;
    for (const auto& args : previews) rows << args.at(0).toInt();
    QCOMPARE(rows, (QList<int>{1, 2, 1, 0}));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(Rows()->index(2, 0)).center());
    QCOMPARE(previews.count(), 5);
    QCOMPARE(previews.at(4).at(0).toInt(), 2);
  }

  void typeNamesAndIconsFromTheNameAlone() {
    using ostrel::app::FileTypeName;
    QCOMPARE(FileTypeName(QStringLiteral("notes.txt")), QStringLiteral("plain text document"));
    QCOMPARE(FileTypeName(QStringLiteral("NOTES.TXT")), QStringLiteral("plain text document"));
    QCOMPARE(FileTypeName(QStringLiteral("data.zzq")), QStringLiteral("ZZQ File"));
    QCOMPARE(FileTypeName(QStringLiteral("Makefile")), QStringLiteral("File"));
    QCOMPARE(FileTypeName(QStringLiteral("trailing.")), QStringLiteral("File"));
    // Icons show without any icon theme.
    QVERIFY(!ostrel::app::FileIcon(QStringLiteral("x.zzq")).pixmap(16).isNull());
    QVERIFY(!ostrel::app::FileIcon(QStringLiteral("x.txt")).pixmap(16).isNull());
    QVERIFY(!ostrel::app::FolderIcon().pixmap(16).isNull());
  }

  void resetEmptiesEverything() {
    Open({"T", "SET 1 :Daily", "C:"}, true);
    Frame().ResetCatalogueView();
    QCOMPARE(Frame().CheckTree()->topLevelItemCount(), 0);
    QCOMPARE(Rows()->rowCount(), 0);
    QVERIFY(!Frame().HasCatalogue());
    QVERIFY(Frame().ListSourceItem() == nullptr);
  }

 private:
  // Scans `backup`, then shows it as the scan job does: the top level is
  // checked while the process-running flag is still set.
  void Show(const MtfWriter& backup) {
    auto& state = fixture_.state();
    state.SetProcessRunning(true);
    auto session = ostrel::fixtures::ScanSession(dir_.Write(backup));
    QVERIFY(session);
    fixture_.frame().SetSession(std::move(session));
    fixture_.frame().ShowCatalogueTopLevel();
    state.SetProcessRunning(false);
  }
  ostrel::app::CMainFrame& Frame() { return fixture_.frame(); }
  ostrel::Catalogue& Cat() { return Frame().Session()->catalogue; }
  ostrel::app::FileListModel* Rows() { return Frame().List()->Rows(); }
  void Select(QTreeWidgetItem* item) {
    emit fixture_.state().messages().treeSelect(item, ostrel::widgets::kHitLabel);
  }
  // Walks down the named path, filling each level by selection or by the
  // expand button; answers the last item.
  QTreeWidgetItem* Open(const QStringList& path, bool select) {
    QTreeWidgetItem* item = nullptr;
    for (const QString& name : path) {
      QTreeWidgetItem* next = nullptr;
      const int count = item ? item->childCount() : Frame().CheckTree()->topLevelItemCount();
      for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* c = item ? item->child(i) : Frame().CheckTree()->topLevelItem(i);
        if (c->text(0) == name) next = c;
      }
      if (next == nullptr) return nullptr;
      item = next;
      if (select) {
        Select(item);
      } else {
        emit fixture_.state().messages().treeExpand(item, ostrel::widgets::kHitButton);
      }
    }
    return item;
  }

  ostrel::testing::PrivateEnvironment env_;
  ostrel::fixtures::TempDir dir_;
  ostrel::testing::FrameFixture fixture_;
};

QTEST_MAIN(CatalogueViewTest)
#include "catalogue_view_test.moc"
