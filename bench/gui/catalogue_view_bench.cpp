// Catalogue view speed, offscreen: a folder of 100,000 files selected in the
// tree (tree and list filled), the check of the item above them, and a chain
// of 2,000 folders opened level by level, checked and cleared.
//
//   catalogue_view_bench [FILES] [DEPTH]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "app/app_state.h"
#include "app/catalogue_items.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/prompts.h"
#include "reader/recovery_session.h"
#include "widgets/check_tree.h"

using namespace ostrel;

namespace {

Catalogue Build(int files, int depth, std::uint64_t* big) {
  Catalogue cat;
  auto& tree = cat.Tree();
  const auto tape = tree.AddNode(u"Bench tape", 0);
  const auto set = tree.AddNode(u"SET 1 :Bench", tape);
  const auto volume = tree.AddNode(u"C:", set);
  *big = tree.AddNode(u"Big", volume);
  for (int i = 0; i < files; ++i) {
    FileNode f;
    f.parent = *big;
    f.index = cat.FileCount();
    f.dataPosition = 1;
    const std::u16string name = u"file" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                (i % 3 == 0 ? u".txt" : i % 3 == 1 ? u".jpg" : u".bin");
    const auto index = cat.AppendFile(f, name);
    if (i == 0) tree.NodeAt(*big).firstFile = index;
    tree.NodeAt(*big).lastFile = index;
  }
  std::uint64_t node = tree.AddNode(u"Deep", volume);
  for (int i = 1; i < depth; ++i) node = tree.AddNode(u"d", node);
  return cat;
}

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* item, const QString& name) {
  for (int i = 0; i < item->childCount(); ++i) {
    if (item->child(i)->text(0) == name) return item->child(i);
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int depth = argc > 2 ? std::atoi(argv[2]) : 2000;
  QTemporaryDir dir;
  const QString bkfPath = dir.filePath(QStringLiteral("empty.bkf"));
  QFile(bkfPath).open(QIODevice::WriteOnly);

  app::QtPrompts prompts;
  app::CKorvaneBKFFileRepProjApp state(prompts);
  app::CMainFrame frame(state);
  frame.resize(1280, 800);
  frame.show();
  std::uint64_t big = 0;
  auto session = std::make_unique<RecoverySession>();
  session->catalogue = Build(files, depth, &big);
  session->file.Open(bkfPath.toStdString());
  frame.SetSession(std::move(session));
  state.SetProcessRunning(true);
  frame.ShowCatalogueTopLevel();
  state.SetProcessRunning(false);

  auto& messages = state.messages();
  widgets::CKorvaneCheckTree* tree = frame.CheckTree();
  QTreeWidgetItem* item = tree->topLevelItem(0);
  for (const char* name : {"SET 1 :Bench", "C:"}) {
    emit messages.treeSelect(item, widgets::kHitLabel);
    item = ChildNamed(item, QString::fromLatin1(name));
  }
  emit messages.treeSelect(item, widgets::kHitLabel);
  QTreeWidgetItem* volume = item;
  QTreeWidgetItem* bigItem = ChildNamed(volume, QStringLiteral("Big"));

  QElapsedTimer timer;
  timer.start();
  emit messages.treeSelect(bigItem, widgets::kHitLabel);
  application.processEvents();
  const qint64 selectMs = timer.elapsed();
  const int rows = frame.List()->Rows()->rowCount();

  tree->SetCheck(bigItem, false);
  application.processEvents();
  timer.restart();
  tree->SetCheck(bigItem, true);
  application.processEvents();
  const qint64 checkMs = timer.elapsed();
  const bool allChecked = tree->GetCheck(bigItem->child(bigItem->childCount() - 1));

  // The chain: each level opened by its expand button, then the whole chain
  // checked from its top, collapsed and removed.
  timer.restart();
  QTreeWidgetItem* deep = ChildNamed(volume, QStringLiteral("Deep"));
  QTreeWidgetItem* level = deep;
  int levels = 1;
  while (level != nullptr) {
    emit messages.treeExpand(level, widgets::kHitButton);
    QTreeWidgetItem* next = level->childCount() > 0 ? level->child(0) : nullptr;
    if (next == nullptr || app::RefOf(next).kind == app::NodeKind::None) break;
    level = next;
    ++levels;
  }
  const qint64 openMs = timer.restart();
  tree->SetCheck(deep, false);
  tree->SetCheck(deep, true);
  const qint64 deepCheckMs = timer.restart();
  tree->CollapseAll();
  frame.ResetCatalogueView();
  application.processEvents();
  const qint64 clearMs = timer.elapsed();

  std::printf("select a folder of %d files: %lld ms (%d list rows; goal < 1000 ms)\n", files,
              static_cast<long long>(selectMs), rows);
  std::printf("check its %d items:           %lld ms (all checked: %s; goal < 1000 ms)\n", files,
              static_cast<long long>(checkMs), allChecked ? "yes" : "no");
  std::printf("a chain of %d folders: opened level by level %lld ms, unchecked and checked %lld ms, "
              "collapsed and cleared %lld ms\n",
              levels, static_cast<long long>(openMs), static_cast<long long>(deepCheckMs),
              static_cast<long long>(clearMs));
  return rows == files && allChecked && levels == depth ? 0 : 1;
}
