#include "widgets/check_tree.h"

#include <QSignalSpy>
#include <QTest>
#include <QLineEdit>

using ostrel::widgets::CKorvaneCheckTree;

namespace {

// Root
//   Docs      (folder of three files)
//     a b c
//   Music
//     song
struct Fixture {
  CKorvaneCheckTree tree;
  QTreeWidgetItem *root, *docs, *a, *b, *c, *music, *song;
  QSignalSpy checks{&tree, &CKorvaneCheckTree::treeCheck};

  Fixture() {
    tree.SetSmartCheck(true);
    tree.resize(300, 400);
    root = tree.InsertItem("Root", {}, nullptr);
    docs = tree.InsertItem("Docs", {}, root);
    a = tree.InsertItem("a", {}, docs);
    b = tree.InsertItem("b", {}, docs);
    c = tree.InsertItem("c", {}, docs);
    music = tree.InsertItem("Music", {}, root);
    song = tree.InsertItem("song", {}, music);
  }
  QList<QTreeWidgetItem*> CheckedItemsInSignalOrder() const {
    QList<QTreeWidgetItem*> out;
    for (const auto& args : checks) out << args.at(0).value<QTreeWidgetItem*>();
    return out;
  }
};

}  // namespace

class CheckTreeTest : public QObject {
  Q_OBJECT

 private slots:
  void checkingAFolderChecksItsFilesAndTheParentFollows() {
    Fixture f;
    f.tree.SetCheck(f.docs, true);
    for (auto* item : {f.docs, f.a, f.b, f.c}) QVERIFY(f.tree.GetCheck(item));
    // Music is unchecked: the root is partly checked, which counts as unchecked.
    QCOMPARE(f.tree.ShownStateImage(f.root), 3);
    QVERIFY(!f.tree.GetCheck(f.root));
    f.tree.SetCheck(f.music, true);
    QCOMPARE(f.tree.ShownStateImage(f.root), 2);
    QVERIFY(f.tree.GetCheck(f.root));
  }

  void uncheckingAndRecheckingOneFile() {
    Fixture f;
    f.tree.SetCheck(f.root, true);
    f.tree.SetCheck(f.b, false);
    QCOMPARE(f.tree.ShownStateImage(f.docs), 3);
    QVERIFY(!f.tree.GetCheck(f.docs));
    QCOMPARE(f.tree.ShownStateImage(f.root), 3);
    QVERIFY(f.tree.GetCheck(f.a));
    f.tree.SetCheck(f.b, true);
    QCOMPARE(f.tree.ShownStateImage(f.docs), 2);
    QCOMPARE(f.tree.ShownStateImage(f.root), 2);
    QVERIFY(f.tree.GetCheck(f.root));
  }

  void everyItemBelowGetsOneSignalChildrenFirstStartLast() {
    Fixture f;
    f.tree.SetCheck(f.root, true);
    const QList<QTreeWidgetItem*> order = f.CheckedItemsInSignalOrder();
    QCOMPARE(order, (QList<QTreeWidgetItem*>{f.a, f.b, f.c, f.docs, f.song, f.music, f.root}));
    for (const auto& args : f.checks) QCOMPARE(args.at(1).toInt(), 1);
    f.checks.clear();
    f.tree.SetCheck(f.root, true);  // no change below: only the item itself
    QCOMPARE(f.CheckedItemsInSignalOrder(), QList<QTreeWidgetItem*>{f.root});
  }

  void insertingAndDeletingUpdateTheAncestors() {
    Fixture f;
    f.tree.SetCheck(f.root, true);
    QTreeWidgetItem* d = f.tree.InsertItem("d", {}, f.docs);
    QCOMPARE(f.tree.ShownStateImage(f.docs), 3);  // unchecked newcomer under a checked folder
    QCOMPARE(f.tree.ShownStateImage(f.root), 3);
    QVERIFY(!f.tree.GetCheck(f.docs));
    // Deleting the unchecked newcomer leaves the folder fully checked again.
    f.tree.DeleteItem(d);
    QCOMPARE(f.tree.ShownStateImage(f.docs), 2);
    QCOMPARE(f.tree.ShownStateImage(f.root), 2);
    QVERIFY(f.tree.GetCheck(f.root));
    // Deleting a checked leaf keeps the rest checked.
    f.tree.DeleteItem(f.c);
    QVERIFY(f.tree.GetCheck(f.docs));
    QCOMPARE(f.tree.Record(f.docs)->descendantCount, 2);
    QCOMPARE(f.tree.Record(f.root)->descendantCount, 5);
    // Deleting a whole folder.
    f.tree.SetCheck(f.song, false);
    f.tree.DeleteItem(f.music);
    QCOMPARE(f.tree.Record(f.root)->descendantCount, 3);
    QVERIFY(f.tree.GetCheck(f.root));
  }

  // A folder whose only child (the placeholder of a lazily filled folder)
  // goes keeps the mark it had: an unchecked one must not turn checked and
  // pull its parent along, or Save would write what the user excluded.
  void aFolderLeftWithoutChildrenKeepsItsMark() {
    for (const bool mark : {false, true}) {
      Fixture f;
      f.tree.SetCheck(f.root, true);
      QTreeWidgetItem* empty = f.tree.InsertItem("Empty", {}, f.root);
      QTreeWidgetItem* placeholder = f.tree.InsertItem("Dummy", {}, empty);
      f.tree.SetCheck(empty, mark);
      f.tree.DeleteItem(placeholder);
      QCOMPARE(f.tree.GetCheck(empty), mark);
      QCOMPARE(f.tree.ShownStateImage(empty), mark ? 2 : 1);
      QCOMPARE(f.tree.ShownStateImage(f.root), mark ? 2 : 3);
      QCOMPARE(f.tree.GetCheck(f.root), mark);
      // Its own check box still works.
      f.tree.SetCheck(empty, !mark);
      QCOMPARE(f.tree.GetCheck(empty), !mark);
      QCOMPARE(f.tree.ShownStateImage(f.root), mark ? 3 : 2);
    }
  }

  void separatorsAndDisabledItemsRefuseChecks() {
    Fixture f;
    f.tree.SetSeparator(f.c, true);
    f.tree.SetEnabled(f.song, false);
    f.checks.clear();
    f.tree.SetCheck(f.c, true);
    f.tree.SetCheck(f.song, true);
    QVERIFY(f.checks.isEmpty());
    QCOMPARE(f.tree.ShownStateImage(f.c), 0);
    QCOMPARE(f.tree.ShownStateImage(f.song), 1 + 4);
    // A folder whose only other children are checked counts as fully checked
    // without its separator.
    f.tree.SetCheck(f.a, true);
    f.tree.SetCheck(f.b, true);
    QCOMPARE(f.tree.ShownStateImage(f.docs), 2);
    QVERIFY(f.tree.GetCheck(f.docs));
    // Space on the separator changes nothing and sends nothing.
    f.tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.tree));
    f.tree.setCurrentItem(f.c);
    f.checks.clear();
    QTest::keyClick(&f.tree, Qt::Key_Space);
    QVERIFY(f.checks.isEmpty());
  }

  void mouseClicks() {
    Fixture f;
    f.tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.tree));
    f.tree.expandAll();
    QSignalSpy selects(&f.tree, &CKorvaneCheckTree::treeSelect);
    QSignalSpy expands(&f.tree, &CKorvaneCheckTree::treeExpand);
    QSignalSpy menus(&f.tree, &CKorvaneCheckTree::treeContextMenu);

    // A click on the check box toggles it and selects the item, but is no
    // selection click.
    const QRect box = f.tree.CheckBoxRect(f.a);
    QVERIFY(box.isValid());
    QTest::mouseClick(f.tree.viewport(), Qt::LeftButton, {}, box.center());
    QVERIFY(f.tree.GetCheck(f.a));
    QCOMPARE(f.tree.currentItem(), f.a);
    QCOMPARE(selects.count(), 0);
    QCOMPARE(f.tree.ShownStateImage(f.a), 2 + 8);  // with the hover look

    // A click on the label.
    QTreeWidgetItem* hit = nullptr;
    const QRect row = f.tree.visualItemRect(f.b);
    QPoint label(row.left(), row.center().y());
    while (f.tree.HitTest(label, &hit) != ostrel::widgets::kHitLabel && label.x() < row.right()) label.rx() += 2;
    QTest::mouseClick(f.tree.viewport(), Qt::LeftButton, {}, label);
    QCOMPARE(selects.count(), 1);
    QCOMPARE(selects.at(0).at(0).value<QTreeWidgetItem*>(), f.b);
    QCOMPARE(selects.at(0).at(1).toInt(), int(ostrel::widgets::kHitLabel));

    // A click on the expand button of Music.
    const QRect musicRow = f.tree.visualItemRect(f.music);
    const QPoint button(musicRow.left() - f.tree.indentation() / 2, musicRow.center().y());
    QCOMPARE(f.tree.HitTest(button, &hit), int(ostrel::widgets::kHitButton));
    QTest::mouseClick(f.tree.viewport(), Qt::LeftButton, {}, button);
    QCOMPARE(expands.count(), 1);
    QCOMPARE(expands.at(0).at(0).value<QTreeWidgetItem*>(), f.music);

    // The right button.
    QTest::mouseClick(f.tree.viewport(), Qt::RightButton, {}, f.tree.visualItemRect(f.docs).center());
    QCOMPARE(menus.count(), 1);
    QCOMPARE(menus.at(0).at(0).value<QTreeWidgetItem*>(), f.docs);

    // A disabled item refuses a check-box click.
    f.tree.SetEnabled(f.c, false);
    f.checks.clear();
    QTest::mouseClick(f.tree.viewport(), Qt::LeftButton, {}, f.tree.CheckBoxRect(f.c).center());
    QVERIFY(f.checks.isEmpty());
    QVERIFY(!f.tree.GetCheck(f.c));
  }

  void keyboard() {
    Fixture f;
    f.tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.tree));
    QSignalSpy selects(&f.tree, &CKorvaneCheckTree::treeSelect);
    QSignalSpy expands(&f.tree, &CKorvaneCheckTree::treeExpand);
    f.tree.setCurrentItem(f.root);

    // Right and Left expand and collapse, keypad * expands everything below;
    // none of them is an expand-button click.
    QTest::keyClick(&f.tree, Qt::Key_Right);
    QVERIFY(f.root->isExpanded());
    QVERIFY(f.tree.Record(f.root)->hasBeenExpanded);
    QTest::keyClick(&f.tree, Qt::Key_Left);
    QVERIFY(!f.root->isExpanded());
    QTest::keyClick(&f.tree, Qt::Key_Asterisk, Qt::KeypadModifier);
    QVERIFY(f.docs->isExpanded() && f.music->isExpanded());
    QTest::keyClick(&f.tree, Qt::Key_Minus, Qt::KeypadModifier);
    QVERIFY(!f.root->isExpanded());
    QTest::keyClick(&f.tree, Qt::Key_Plus, Qt::KeypadModifier);
    QVERIFY(f.root->isExpanded());
    QCOMPARE(expands.count(), 0);

    // Down skips a disabled item and reports the selection with flags 0.
    f.tree.SetEnabled(f.a, false);
    f.tree.setCurrentItem(f.docs);
    QTest::keyClick(&f.tree, Qt::Key_Down);
    QCOMPARE(f.tree.currentItem(), f.b);
    QCOMPARE(selects.count(), 1);
    QCOMPARE(selects.at(0).at(1).toInt(), 0);
    QTest::keyClick(&f.tree, Qt::Key_Up);
    QCOMPARE(f.tree.currentItem(), f.docs);

    // Space toggles the check of the current item; a disabled item below it
    // keeps its own check.
    QTest::keyClick(&f.tree, Qt::Key_Space);
    QVERIFY(f.tree.GetCheck(f.b));
    QVERIFY(f.tree.GetCheck(f.c));
    QVERIFY(!f.tree.Record(f.a)->checked);
  }

  void renamingReportsTheTextButKeepsTheLabel() {
    Fixture f;
    f.tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.tree));
    QSignalSpy renames(&f.tree, &CKorvaneCheckTree::treeRename);
    f.tree.EditLabel(f.root);
    auto* editor = f.tree.viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->maxLength(), ostrel::widgets::kMaxLabelLength);
    // The editor reaches to the right edge of the tree.
    QVERIFY(editor->geometry().right() >= f.tree.viewport()->width() - 3);
    editor->setText("New name");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(renames.count(), 1);
    QCOMPARE(renames.at(0).at(1).toString(), QString("New name"));
    QCOMPARE(f.root->text(0), QString("Root"));

    f.tree.EditLabel(f.docs);
    editor = f.tree.viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_COMPARE(renames.count(), 2);
    QVERIFY(renames.at(1).at(1).toString().isNull());  // cancelled
  }

  void deepTreesNeedNoRecursion() {
    CKorvaneCheckTree tree;
    tree.SetSmartCheck(true);
    QTreeWidgetItem* top = tree.InsertItem("0", {}, nullptr);
    QTreeWidgetItem* node = top;
    for (int i = 1; i < 3000; ++i) node = tree.InsertItem(QString::number(i), {}, node);
    QSignalSpy checks(&tree, &CKorvaneCheckTree::treeCheck);
    tree.SetCheck(top, true);
    QCOMPARE(checks.count(), 3000);
    QCOMPARE(checks.first().at(0).value<QTreeWidgetItem*>(), node);  // the deepest first
    QVERIFY(tree.GetCheck(top));
    // In a chain no folder stays fully checked once the deepest item is
    // unchecked, so none counts as checked below the top.
    tree.SetCheck(node, false);
    QVERIFY(!tree.GetCheck(top));
    QCOMPARE(tree.Record(top)->checkedCount, 0);
    QCOMPARE(tree.ShownStateImage(top), 1);
    tree.DeleteItem(top);
    QCOMPARE(tree.topLevelItemCount(), 0);
  }

  void manyItemsAtOnceCountAsIfInsertedOneByOne() {
    Fixture f;
    f.tree.SetCheck(f.root, true);
    f.checks.clear();
    const auto added = f.tree.InsertItems(f.music, {{"x", {}}, {"y", {}}}, false);
    QCOMPARE(added.size(), 2);
    QCOMPARE(f.tree.Record(f.root)->descendantCount, 8);
    QCOMPARE(f.tree.ShownStateImage(f.music), 3);  // unchecked newcomers
    QCOMPARE(f.CheckedItemsInSignalOrder(), added);
    f.tree.InsertItems(f.docs, {{"z", {}}}, true);
    QVERIFY(f.tree.GetCheck(f.docs));
    f.tree.SetCheck(added[0], true);
    f.tree.SetCheck(added[1], true);
    QVERIFY(f.tree.GetCheck(f.root));
  }

  void deleteAllItemsClearsTheRecords() {
    Fixture f;
    f.tree.SetCheck(f.docs, true);
    f.tree.DeleteAllItems();
    QCOMPARE(f.tree.topLevelItemCount(), 0);
    QTreeWidgetItem* fresh = f.tree.InsertItem("x", {}, nullptr);
    QVERIFY(!f.tree.GetCheck(fresh));
    QCOMPARE(f.tree.Record(fresh)->descendantCount, 0);
  }
};

QTEST_MAIN(CheckTreeTest)
#include "check_tree_test.moc"
