#include "app/catalogue_view.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <algorithm>
#include <vector>

#include "app/catalogue_items.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/prompts.h"
#include "app/shell_queries.h"
#include "app/texts.h"
#include "app/wait_cursor.h"
#include "reader/recovery_session.h"
#include "widgets/check_tree.h"

namespace ostrel::app {
namespace {

// The file list's "Modified" text of a node: its date, in UTC as the backup
// stores it, or nothing when the backup stores none.
QString ModifiedText(const Catalogue& catalogue, NodeRef ref) {
  std::optional<std::int64_t> date;
  if (ref.kind == NodeKind::File) date = catalogue.Dates().File(ref.index);
  if (ref.kind == NodeKind::Folder) date = catalogue.Dates().Folder(ref.index);
  return date ? QString::fromStdString(ShortDate(*date)) : QString();
}

}  // namespace

void CMainFrame::ResetCatalogueView() {
  List()->Rows()->Clear();
  listSource_ = nullptr;
  CheckTree()->DeleteAllItems();
  FreeSession();
}

void CMainFrame::ShowCatalogueTopLevel() {
  if (!HasCatalogue()) return;
  const auto& tree = session_->catalogue.Tree();
  widgets::CKorvaneCheckTree* view = CheckTree();
  std::uint64_t visits = 0;
  for (std::uint64_t i = tree.FirstChild(0); i != kNotFound && i < tree.Count() && ++visits <= tree.Count();
       i = tree.NextSibling(i)) {
    FolderNode& node = session_->catalogue.Tree().NodeAt(i);
    QTreeWidgetItem* item = view->InsertItem(NameText(node.name), FolderIcon(), nullptr);
    node.inTree = 1;
    Attach(item, {NodeKind::Folder, i});
    view->InsertItem(kDummyText, QIcon(), item);
    view->SetCheck(item, true);
  }
}

void CMainFrame::PopulateFolder(QTreeWidgetItem* item, bool checked, bool listToo, bool forSelection) {
  const NodeRef ref = RefOf(item);
  if (!HasCatalogue() || ref.kind != NodeKind::Folder) return;
  auto& catalogue = session_->catalogue;
  if (!catalogue.Tree().IsNode(ref.index)) return;
  widgets::CKorvaneCheckTree* view = CheckTree();
  if (item->childCount() > 0 && item->child(0)->text(0) == kDummyText && RefOf(item->child(0)).kind == NodeKind::None) {
    view->DeleteItem(item->child(0));
  }
  if (item->childCount() > 0) return;

  std::vector<FileListRow> rows;
  // Subfolders: the catalogue chains them newest first. For the expand
  // button they go in the order of discovery (as if the first were appended
  // and each further one put in front); a selection keeps the chain's order.
  // Each item is inserted with its mark already set, so that a deep chain of
  // checked ancestors does not flip to partly checked and back.
  const auto& tree = catalogue.Tree();
  std::vector<std::uint64_t> subfolders;
  for (std::uint64_t s = tree.FirstChild(ref.index); s != kNotFound && subfolders.size() < tree.Count();
       s = tree.NextSibling(s)) {
    subfolders.push_back(s);
  }
  if (!forSelection) std::reverse(subfolders.begin(), subfolders.end());
  if (!subfolders.empty()) {
    QList<QPair<QString, QIcon>> labels;
    for (std::uint64_t s : subfolders) {
      labels.append({NameText(tree.NodeAt(s).name), FolderIcon()});
      if (listToo) {
        rows.push_back({labels.back().first, FolderIcon(), kFolderTypeName,
                        ModifiedText(catalogue, {NodeKind::Folder, s})});
      }
    }
    const QList<QTreeWidgetItem*> items = view->InsertItems(item, labels, checked, [&](int k, QTreeWidgetItem* sub) {
      const std::uint64_t index = subfolders[static_cast<std::size_t>(k)];
      catalogue.Tree().NodeAt(index).inTree = 1;
      Attach(sub, {NodeKind::Folder, index});
    });
    for (QTreeWidgetItem* sub : items) view->InsertItems(sub, {{kDummyText, QIcon()}}, checked);
  }

  // Files, in index order, after the subfolders; only lastFile decides
  // whether there are any. Inserted together: a folder can hold a hundred
  // thousand of them.
  const FolderNode& folder = tree.NodeAt(ref.index);
  if (folder.lastFile != kNone) {
    QList<QPair<QString, QIcon>> labels;
    std::vector<std::uint64_t> indices;
    for (std::uint64_t i = folder.firstFile; i <= folder.lastFile && catalogue.IsFile(i); ++i) {
      if (listToo && !app_.IsProcessRunning()) break;
      const QString name = NameText(catalogue.FileAt(i).name);
      const QIcon icon = FileIcon(name);
      labels.append({name, icon});
      indices.push_back(i);
      if (listToo) rows.push_back({name, icon, FileTypeName(name), ModifiedText(catalogue, {NodeKind::File, i})});
    }
    if (!labels.isEmpty()) {
      // Each node is attached before its item's check message goes out.
      view->InsertItems(item, labels, checked, [&](int k, QTreeWidgetItem* fileItem) {
        const std::uint64_t index = indices[static_cast<std::size_t>(k)];
        catalogue.FileAt(index).inTree = 1;
        Attach(fileItem, {NodeKind::File, index});
      });
      if (listToo) item->setExpanded(true);
    }
  }
  if (listToo) List()->Rows()->SetRows(std::move(rows));
}

void CMainFrame::OnTreeItemSelected(QTreeWidgetItem* item, int) {
  if (RefuseWhileRunning(kWaitForProcess)) return;
  if (item == nullptr) return;
  WaitCursor wait;
  listSource_ = item;
  const bool mark = CheckTree()->GetCheck(item);
  List()->Rows()->Clear();
  RunningWhileFilling running(app_);
  QTreeWidgetItem* first = item->childCount() > 0 ? item->child(0) : nullptr;
  if (first != nullptr && first->text(0) == kDummyText && RefOf(first).kind == NodeKind::None) {
    PopulateFolder(item, mark, true, true);
    return;
  }
  std::vector<FileListRow> rows;
  if (item->childCount() > 0) {
    rows.reserve(static_cast<std::size_t>(item->childCount()));
    for (int i = 0; i < item->childCount() && app_.IsProcessRunning(); ++i) {
      QTreeWidgetItem* child = item->child(i);
      const QString text = child->text(0);
      const NodeRef ref = RefOf(child);
      rows.push_back({text, child->icon(0), ref.kind == NodeKind::Folder ? kFolderTypeName : FileTypeName(text),
                      HasCatalogue() ? ModifiedText(session_->catalogue, ref) : QString()});
    }
  } else if (const NodeRef ref = RefOf(item); ref.kind != NodeKind::None) {
    rows.push_back({item->text(0), item->icon(0), FileTypeName(item->text(0)),
                    HasCatalogue() ? ModifiedText(session_->catalogue, ref) : QString()});
  }
  List()->Rows()->SetRows(std::move(rows));
}

void CMainFrame::OnTreeExpandButton(QTreeWidgetItem* item, int) {
  if (RefuseWhileRunning(kWaitForProcess)) return;
  if (item == nullptr) return;
  PopulateFolder(item, CheckTree()->GetCheck(item), false, false);
}

void CMainFrame::OnTreeContextMenu(QTreeWidgetItem*, int) {
  if (RefuseWhileRunning(kWaitForProcess)) return;
  if (treeMenu_ == nullptr) {
    treeMenu_ = new QMenu(QStringLiteral("Tree Click"), this);
    treeMenu_->addAction(QStringLiteral("Collapse All"));
    QAction* rename = treeMenu_->addAction(QStringLiteral("Rename"));
    rename->setStatusTip(QStringLiteral("Rename selected file"));
  }
  QAction* chosen = app_.prompts().ChooseFromMenu(treeMenu_, QCursor::pos());
  if (chosen == nullptr) return;
  if (RefuseWhileRunning(kWaitForProcess)) return;  // a process started meanwhile
  if (chosen->text() == QStringLiteral("Collapse All")) {
    CheckTree()->CollapseAll();
  } else if (QTreeWidgetItem* selected = CheckTree()->currentItem()) {
    CheckTree()->EditLabel(selected);
  }
}

void CMainFrame::OnTreeLabelEdited(QTreeWidgetItem* item, const QString& newText) {
  if (RefuseWhileRunning(kWaitForProcess)) return;
  if (item == nullptr || newText.isEmpty() || !HasCatalogue()) return;  // keeps the old name
  const NodeRef ref = RefOf(item);
  const std::u16string name(reinterpret_cast<const char16_t*>(newText.utf16()), static_cast<std::size_t>(newText.size()));
  auto& catalogue = session_->catalogue;
  if (ref.kind == NodeKind::File) {
    if (!catalogue.RenameFileNode(ref.index, name)) return;
  } else if (ref.kind == NodeKind::Folder) {
    if (!catalogue.Tree().RenameNode(ref.index, name)) return;
  } else {
    return;
  }
  CheckTree()->SetItemText(item, newText);
}

void CMainFrame::OnTreeCheckChanged(QTreeWidgetItem* item, int checked) {
  // A check mark set while a process runs is not copied to the catalogue,
  // and nobody is told.
  if (app_.IsProcessRunning() || !HasCatalogue()) return;
  const NodeRef ref = RefOf(item);
  const std::uint8_t state = checked == 1 ? kChecked : kUnchecked;
  auto& catalogue = session_->catalogue;
  if (ref.kind == NodeKind::Folder && catalogue.Tree().IsNode(ref.index)) {
    catalogue.Tree().NodeAt(ref.index).checkState = state;
  } else if (ref.kind == NodeKind::File && catalogue.IsFile(ref.index) &&
             catalogue.FileAt(ref.index).parent != kNone) {
    catalogue.FileAt(ref.index).checkState = state;
  }
}

}  // namespace ostrel::app
