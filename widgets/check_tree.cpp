#include "widgets/check_tree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeWidgetItemIterator>
#include <utility>
#include <vector>

namespace ostrel::widgets {
namespace {

constexpr int kStateRole = Qt::UserRole + 100;

// An item of this control carries its record, so that walking a deep chain
// of ancestors costs no look-ups.
constexpr int kCheckItemType = QTreeWidgetItem::UserType + 17;
struct CheckItem : QTreeWidgetItem {
  CheckItem() : QTreeWidgetItem(kCheckItemType) {}
  CHECKTREEDATA record;
};

Qt::CheckState CheckStateOf(int image) {
  switch (image & 3) {
    case kStateChecked: return Qt::Checked;
    case kStatePartial: return Qt::PartiallyChecked;
    default: return Qt::Unchecked;
  }
}

}  // namespace

// Draws separators as a line, sizes the label editor to the right edge of the
// tree and limits its length. The tree refuses edited text itself.
class CKorvaneCheckTree::Delegate : public QStyledItemDelegate {
 public:
  explicit Delegate(CKorvaneCheckTree* tree) : QStyledItemDelegate(tree), tree_(tree) {}

  void Options(QStyleOptionViewItem* option, const QModelIndex& index) const {
    initStyleOption(option, index);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QTreeWidgetItem* item = tree_->itemFromIndex(index);
    const CHECKTREEDATA* rec = tree_->Record(item);
    if (rec != nullptr && rec->separator) {
      painter->save();
      painter->setPen(option.palette.color(QPalette::Mid));
      const int y = option.rect.center().y();
      painter->drawLine(option.rect.left() + 2, y, option.rect.right() - 2, y);
      painter->restore();
      return;
    }
    if (index == tree_->dropHighlight_) {
      QStyleOptionViewItem marked = option;
      marked.state |= QStyle::State_Selected;
      QStyledItemDelegate::paint(painter, marked, index);
      return;
    }
    QStyledItemDelegate::paint(painter, option, index);
  }

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setMaxLength(kMaxLabelLength);
    return editor;
  }

  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QRect text = tree_->style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, tree_);
    // From the label's left edge to one pixel before the right edge of the
    // client area, so that long labels can be edited.
    const int right = tree_->viewport()->width() - 2;
    editor->setGeometry(QRect(QPoint(text.left(), option.rect.top()), QPoint(std::max(right, text.left() + 20), option.rect.bottom())));
  }

  void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

 private:
  CKorvaneCheckTree* tree_;
};

CKorvaneCheckTree::CKorvaneCheckTree(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setItemDelegate(new Delegate(this));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setMouseTracking(true);
  setDragDropMode(QAbstractItemView::NoDragDrop);
  setExpandsOnDoubleClick(false);
  setUniformRowHeights(true);
  // Keep the records in step with every expansion, wherever it comes from.
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { SetExpandedState(item, true); });
  connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) { SetExpandedState(item, false); });
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (dropHighlight_.isValid() && indexFromItem(current) != dropHighlight_) SetDropHighlight(nullptr);
  });
}

CKorvaneCheckTree::~CKorvaneCheckTree() {
  busy_ = true;  // the base class deletes the items; no record is looked up meanwhile
}

void CKorvaneCheckTree::Initialise() {
  DeleteAllItems();
  smartCheck_ = false;
  checkBoxes_ = true;
  readOnly_ = false;
  selectOnCheck_ = true;
}

void CKorvaneCheckTree::SetCheckBoxes(bool on) {
  checkBoxes_ = on;
  for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it) {
    const int image = ShownStateImage(*it);
    (*it)->setData(0, Qt::CheckStateRole, on && (image & 3) != 0 ? QVariant(CheckStateOf(image)) : QVariant());
  }
}

CHECKTREEDATA* CKorvaneCheckTree::Rec(QTreeWidgetItem* item) {
  if (busy_ || item == nullptr || item->type() != kCheckItemType) return nullptr;
  return &static_cast<CheckItem*>(item)->record;
}

const CHECKTREEDATA* CKorvaneCheckTree::Record(QTreeWidgetItem* item) const {
  return const_cast<CKorvaneCheckTree*>(this)->Rec(item);
}

int CKorvaneCheckTree::StateImageOf(QTreeWidgetItem* item) const {
  const CHECKTREEDATA* r = Record(item);
  if (r == nullptr) return kStateNone;
  int image;
  if (smartCheck_ && r->descendantCount - r->separatorCount > 0) {
    if (r->checkedCount == 0) {
      image = kStateUnchecked;
    } else if (r->checkedCount == r->descendantCount - r->separatorCount) {
      image = kStateChecked;
    } else {
      image = kStatePartial;
    }
  } else {
    image = r->checked ? kStateChecked : kStateUnchecked;
  }
  if (!r->enabled) image += kStateDisabledBit;
  return image;
}

int CKorvaneCheckTree::ShownStateImage(QTreeWidgetItem* item) const {
  return item == nullptr ? 0 : item->data(0, kStateRole).toInt();
}

void CKorvaneCheckTree::SetStateImage(QTreeWidgetItem* item, int image) {
  // Each change is a model notification: skip the ones that change nothing
  // (recounting a deep chain of ancestors would otherwise cost dearly).
  const QVariant shown = item->data(0, kStateRole);
  if (shown.isValid() && shown.toInt() == image) return;
  item->setData(0, kStateRole, image);
  if (!checkBoxes_ || (image & 3) == 0) {
    item->setData(0, Qt::CheckStateRole, QVariant());
  } else {
    item->setData(0, Qt::CheckStateRole, CheckStateOf(image));
  }
}

QTreeWidgetItem* CKorvaneCheckTree::NewItem(const QString& text, const QIcon& icon) {
  auto* item = new CheckItem;
  item->setText(0, text);
  item->setIcon(0, icon);
  // Qt must not toggle the check box itself: clicks go through SetCheck.
  item->setFlags((item->flags() | Qt::ItemIsEditable) & ~Qt::ItemIsUserCheckable & ~Qt::ItemIsAutoTristate &
                 ~Qt::ItemIsDragEnabled & ~Qt::ItemIsDropEnabled);
  return item;
}

QList<QTreeWidgetItem*> CKorvaneCheckTree::InsertItems(QTreeWidgetItem* parent,
                                                       const QList<QPair<QString, QIcon>>& labels, bool checked,
                                                       const std::function<void(int, QTreeWidgetItem*)>& prepare) {
  QList<QTreeWidgetItem*> items;
  items.reserve(labels.size());
  for (const auto& [text, icon] : labels) {
    QTreeWidgetItem* item = NewItem(text, icon);
    static_cast<CheckItem*>(item)->record.checked = checked;
    SetStateImage(item, checked ? kStateChecked : kStateUnchecked);
    // Prepared before it joins the tree, so that nothing is reported twice.
    if (prepare) prepare(static_cast<int>(items.size()), item);
    items.append(item);
  }
  if (parent != nullptr) {
    parent->addChildren(items);
  } else {
    addTopLevelItems(items);
  }
  if (smartCheck_ && !items.isEmpty()) {
    const int n = static_cast<int>(items.size());
    for (QTreeWidgetItem* a = parent; a != nullptr; a = a->parent()) {
      if (CHECKTREEDATA* r = Rec(a)) r->descendantCount += n;
    }
    RecountAncestors(parent, checked ? n : 0);
  }
  for (QTreeWidgetItem* item : items) emit treeCheck(item, checked ? 1 : 0);
  return items;
}

QTreeWidgetItem* CKorvaneCheckTree::InsertItem(const QString& text, const QIcon& icon, QTreeWidgetItem* parent,
                                               InsertAfter after) {
  QTreeWidgetItem* item = NewItem(text, icon);
  const int index = after == kFirst ? 0 : (parent ? parent->childCount() : topLevelItemCount());
  if (parent != nullptr) {
    parent->insertChild(index, item);
  } else {
    insertTopLevelItem(index, item);
  }
  AfterInsert(item);
  return item;
}

QTreeWidgetItem* CKorvaneCheckTree::InsertItem(const QString& text, const QIcon& icon, QTreeWidgetItem* parent,
                                               QTreeWidgetItem* afterSibling) {
  QTreeWidgetItem* item = InsertItem(text, icon, parent, kLast);
  if (afterSibling == nullptr || afterSibling->parent() != parent) return item;
  // Move it right behind the sibling; the counts do not change.
  if (parent != nullptr) {
    parent->removeChild(item);
    parent->insertChild(parent->indexOfChild(afterSibling) + 1, item);
  } else {
    takeTopLevelItem(indexOfTopLevelItem(item));
    insertTopLevelItem(indexOfTopLevelItem(afterSibling) + 1, item);
  }
  return item;
}

void CKorvaneCheckTree::AfterInsert(QTreeWidgetItem* item) {
  SetStateImage(item, kStateUnchecked);
  if (!smartCheck_) return;
  for (QTreeWidgetItem* a = item->parent(); a != nullptr; a = a->parent()) {
    if (CHECKTREEDATA* r = Rec(a)) ++r->descendantCount;
  }
  RecountAncestors(item->parent(), Rec(item)->checked ? 1 : 0);
}

void CKorvaneCheckTree::RecountAncestors(QTreeWidgetItem* from, int delta) {
  for (QTreeWidgetItem* a = from; a != nullptr; a = a->parent()) {
    const CHECKTREEDATA* r = Record(a);
    const bool was = r != nullptr && r->checked;
    delta = RecountAncestor(a, delta);
    // Nothing changes further up once an ancestor keeps its flag and no
    // count moves: an item above one that is not fully checked is not
    // fully checked either.
    if (delta == 0 && r != nullptr && r->checked == was) break;
  }
}

void CKorvaneCheckTree::DeleteItem(QTreeWidgetItem* item) {
  if (item == nullptr || busy_) return;
  // What the subtree takes from its ancestors' counts: its items, its
  // separators and its checked items (the item itself when fully checked).
  const CHECKTREEDATA* r = Record(item);
  int items = 0, separators = 0, checkedItems = 0;
  if (r != nullptr) {
    items = 1 + r->descendantCount;
    separators = r->separatorCount + (r->separator ? 1 : 0);
    checkedItems = r->checkedCount + (r->checked && !r->separator ? 1 : 0);
  }
  QTreeWidgetItem* parent = item->parent();

  // Children first, each as a leaf, without recursion.
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* node = stack.back();
    if (node->childCount() > 0) {
      stack.push_back(node->child(node->childCount() - 1));
      continue;
    }
    stack.pop_back();
    if (hover_ == node) hover_ = nullptr;
    if (editing_ == node) editing_ = nullptr;
    delete node;
  }
  if (!smartCheck_ || items == 0) return;
  for (QTreeWidgetItem* a = parent; a != nullptr; a = a->parent()) {
    if (CHECKTREEDATA* ar = Rec(a)) {
      ar->descendantCount = std::max(0, ar->descendantCount - items);
      ar->separatorCount = std::max(0, ar->separatorCount - separators);
    }
  }
  // Recount in every case: removing unchecked items can leave an ancestor
  // fully checked, and its flag and image must follow.
  RecountAncestors(parent, -checkedItems);
}

void CKorvaneCheckTree::DeleteAllItems() {
  QTreeWidgetItem* current = currentItem();
  if (current != nullptr) setCurrentItem(current);
  CollapseAll();
  busy_ = true;
  clear();  // the records go with their items
  hover_ = editing_ = nullptr;
  busy_ = false;
}

void CKorvaneCheckTree::SetCheck(QTreeWidgetItem* item, bool state) {
  CHECKTREEDATA* r = Rec(item);
  if (item == nullptr || !checkBoxes_ || r == nullptr || !r->enabled || r->separator) return;
  const bool old = r->checked;
  r->checked = state;
  SetStateImage(item, StateImageOf(item) | (ShownStateImage(item) & kStateHoverBit));
  if (smartCheck_ && old != state) {
    int delta = state ? r->descendantCount - r->checkedCount + 1 : -(r->checkedCount + 1);
    SetSubtreeCheck(item, state);
    RecountAncestors(item->parent(), delta);
  }
  emit treeCheck(item, state ? 1 : 0);
}

void CKorvaneCheckTree::SetSubtreeCheck(QTreeWidgetItem* item, bool state) {
  // Every item below `item` gets exactly one signal, children before their
  // parents; iterative, as trees from damaged files can be very deep.
  SetOwnCheck(item, state);
  std::vector<std::pair<QTreeWidgetItem*, int>> stack{{item, 0}};
  while (!stack.empty()) {
    QTreeWidgetItem* node = stack.back().first;
    const int i = stack.back().second;
    if (i < node->childCount()) {
      ++stack.back().second;
      QTreeWidgetItem* child = node->child(i);
      SetOwnCheck(child, state);
      if (child->childCount() > 0) {
        stack.emplace_back(child, 0);
      } else {
        emit treeCheck(child, state ? 1 : 0);
      }
      continue;
    }
    stack.pop_back();
    if (node != item) {
      SetOwnCheck(node, state);
      emit treeCheck(node, state ? 1 : 0);
    }
  }
}

void CKorvaneCheckTree::SetOwnCheck(QTreeWidgetItem* item, bool state) {
  CHECKTREEDATA* r = Rec(item);
  if (r == nullptr || !r->enabled) return;
  if (r->separator) {
    SetStateImage(item, kStateNone);
    return;
  }
  r->checked = state;
  r->checkedCount = state ? std::max(0, r->descendantCount - r->separatorCount) : 0;
  const int keep = ShownStateImage(item) & (kStateDisabledBit | kStateHoverBit);
  SetStateImage(item, (state ? kStateChecked : kStateUnchecked) | keep);
}

int CKorvaneCheckTree::RecountAncestor(QTreeWidgetItem* item, int delta) {
  CHECKTREEDATA* r = Rec(item);
  if (r == nullptr) return delta;
  r->checkedCount = std::max(0, r->checkedCount + delta);
  const bool was = r->checked;
  // An item left with nothing below it that can be checked (its last child
  // deleted, as when a folder's placeholder goes and the folder turns out
  // empty) keeps its own mark: zero checked of zero is no reason to check it.
  const int checkable = r->descendantCount - r->separatorCount;
  if (checkable > 0) r->checked = r->checkedCount == checkable;
  SetStateImage(item, StateImageOf(item) | (ShownStateImage(item) & kStateHoverBit));
  if (was == r->checked) return delta;
  return r->checked ? delta + 1 : delta - 1;
}

bool CKorvaneCheckTree::GetCheck(QTreeWidgetItem* item) const {
  const CHECKTREEDATA* r = Record(item);
  if (!checkBoxes_ || r == nullptr) return false;
  if (!smartCheck_ || r->descendantCount - r->separatorCount <= 0) return r->checked;
  // A partly checked item counts as not checked.
  return r->checkedCount != 0 && r->checkedCount == r->descendantCount - r->separatorCount;
}

void CKorvaneCheckTree::SetItemText(QTreeWidgetItem* item, const QString& text) {
  const CHECKTREEDATA* r = Record(item);
  if (item == nullptr || (r != nullptr && r->separator)) return;
  item->setText(0, text);
}

void CKorvaneCheckTree::SetEnabled(QTreeWidgetItem* item, bool enabled) {
  CHECKTREEDATA* r = Rec(item);
  if (r == nullptr) return;
  r->enabled = enabled;
  item->setFlags(enabled ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
  SetStateImage(item, StateImageOf(item));
}

void CKorvaneCheckTree::SetSeparator(QTreeWidgetItem* item, bool separator) {
  CHECKTREEDATA* r = Rec(item);
  if (r == nullptr || r->separator == separator) return;
  r->separator = separator;
  if (separator) r->checked = false;
  if (smartCheck_) {
    for (QTreeWidgetItem* a = item->parent(); a != nullptr; a = a->parent()) {
      if (CHECKTREEDATA* ar = Rec(a)) ar->separatorCount += separator ? 1 : -1;
    }
    RecountAncestors(item->parent(), 0);
  }
  SetStateImage(item, separator ? kStateNone : StateImageOf(item));
}

void CKorvaneCheckTree::SetTipText(QTreeWidgetItem* item, const QString& text) {
  if (CHECKTREEDATA* r = Rec(item)) r->tipText = text;
}

// ------------------------------------------------------------------ expanding

void CKorvaneCheckTree::SetExpandedState(QTreeWidgetItem* item, bool expanded) {
  CHECKTREEDATA* r = Rec(item);
  if (r == nullptr || r->expanded == expanded) return;
  r->expanded = expanded;
  if (expanded) r->hasBeenExpanded = true;
  emit itemExpandedChanged(item, expanded);
}

void CKorvaneCheckTree::ExpandItem(QTreeWidgetItem* item, ExpandCode code) {
  const CHECKTREEDATA* r = Record(item);
  if (r == nullptr || !r->enabled || item->childCount() == 0) return;
  const bool expand = code == kToggle ? !item->isExpanded() : code == kExpand;
  SetExpandedState(item, expand);
  item->setExpanded(expand);
}

void CKorvaneCheckTree::ExpandAll(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* node = stack.back();
    stack.pop_back();
    if (node->childCount() == 0) continue;
    SetExpandedState(node, true);
    node->setExpanded(true);
    for (int i = node->childCount() - 1; i >= 0; --i) stack.push_back(node->child(i));
  }
}

void CKorvaneCheckTree::CollapseAll() {
  std::vector<QTreeWidgetItem*> stack;
  for (int i = 0; i < topLevelItemCount(); ++i) stack.push_back(topLevelItem(i));
  while (!stack.empty()) {
    QTreeWidgetItem* node = stack.back();
    stack.pop_back();
    if (node->childCount() == 0) continue;
    node->setExpanded(false);
    for (int i = 0; i < node->childCount(); ++i) stack.push_back(node->child(i));
  }
  if (topLevelItemCount() > 0) SelectItemNotify(topLevelItem(0));
  horizontalScrollBar()->setValue(0);
  viewport()->update();
}

void CKorvaneCheckTree::SelectItemNotify(QTreeWidgetItem* item) {
  if (item == nullptr || (item == currentItem() && item->isSelected())) return;
  const CHECKTREEDATA* r = Record(item);
  if (r != nullptr && r->enabled) {
    setCurrentItem(item);
  } else if (currentItem() != nullptr) {
    currentItem()->setSelected(true);
  }
}

void CKorvaneCheckTree::SetDropHighlight(QTreeWidgetItem* item) {
  const QModelIndex before = dropHighlight_;
  dropHighlight_ = item != nullptr ? QPersistentModelIndex(indexFromItem(item)) : QPersistentModelIndex();
  if (before.isValid()) viewport()->update(visualRect(before));
  if (dropHighlight_.isValid()) viewport()->update(visualRect(dropHighlight_));
}

QTreeWidgetItem* CKorvaneCheckTree::DropHighlight() const {
  return dropHighlight_.isValid() ? itemFromIndex(dropHighlight_) : nullptr;
}

void CKorvaneCheckTree::SelectLikeClick(QTreeWidgetItem* item) {
  setCurrentItem(item);
  scrollToItem(item);
}

// --------------------------------------------------------------- hit testing

QRect CKorvaneCheckTree::CheckBoxRect(QTreeWidgetItem* item) const {
  if (item == nullptr) return {};
  const QModelIndex index = indexFromItem(item);
  QStyleOptionViewItem opt;
  initViewItemOption(&opt);
  opt.rect = visualRect(index);
  static_cast<Delegate*>(itemDelegate())->Options(&opt, index);
  if (!(opt.features & QStyleOptionViewItem::HasCheckIndicator)) return {};
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
}

int CKorvaneCheckTree::HitTest(const QPoint& pos, QTreeWidgetItem** hit) const {
  QTreeWidgetItem* item = itemAt(pos);
  if (hit != nullptr) *hit = item;
  if (item == nullptr) return kHitNowhere;
  const QModelIndex index = indexFromItem(item);
  const QRect rect = visualRect(index);
  if (pos.x() < rect.left()) {
    const bool hasButton = item->childCount() > 0 ||
                           item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
    return pos.x() >= rect.left() - indentation() && hasButton ? kHitButton : kHitIndent;
  }
  QStyleOptionViewItem opt;
  initViewItemOption(&opt);
  opt.rect = rect;
  static_cast<Delegate*>(itemDelegate())->Options(&opt, index);
  if (opt.features & QStyleOptionViewItem::HasCheckIndicator) {
    if (style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this).contains(pos)) return kHitStateIcon;
  }
  if ((opt.features & QStyleOptionViewItem::HasDecoration) &&
      style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, this).contains(pos)) {
    return kHitIcon;
  }
  const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, this);
  const int textRight = text.left() + fontMetrics().horizontalAdvance(item->text(0)) + 4;
  if (pos.x() >= text.left() && pos.x() <= textRight) return kHitLabel;
  return kHitRight;
}

// ------------------------------------------------------------------- mouse

void CKorvaneCheckTree::mousePressEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = nullptr;
  const int hit = HitTest(event->position().toPoint(), &item);
  if (event->button() == Qt::LeftButton) {
    if (hit == kHitStateIcon) {
      const CHECKTREEDATA* r = Record(item);
      if (r != nullptr && r->enabled && !r->separator && !readOnly_) {
        SetCheck(item, !r->checked);
        if (selectOnCheck_) SelectItemNotify(item);
        SetStateImage(item, ShownStateImage(item) | kStateHoverBit);
        hover_ = item;
      }
      return;
    }
    QTreeWidget::mousePressEvent(event);
    const CHECKTREEDATA* r = Record(item);
    if (item == nullptr || r == nullptr || !r->enabled) return;
    SelectLikeClick(item);
    if (hit == kHitButton) {
      emit treeExpand(item, hit);
      return;
    }
    if (hit == kHitLabel || hit == kHitIcon) emit treeSelect(item, hit);
    return;
  }
  if (event->button() == Qt::RightButton) {
    if (topLevelItemCount() == 0) return;
    QTreeWidget::mousePressEvent(event);
    const CHECKTREEDATA* r = Record(item);
    if (item != nullptr && r != nullptr && r->enabled) SelectLikeClick(item);
    emit treeContextMenu(item, hit);
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void CKorvaneCheckTree::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  const CHECKTREEDATA* r = Record(item);
  if (item == nullptr || r == nullptr || !r->enabled) return;  // a disabled item refuses it
  if (item->childCount() > 0) ExpandItem(item, kToggle);
}

void CKorvaneCheckTree::mouseMoveEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (hover_ != nullptr && hover_ != item) {
    SetStateImage(hover_, ShownStateImage(hover_) & ~kStateHoverBit);
    hover_ = nullptr;
  }
  QTreeWidget::mouseMoveEvent(event);
}

// ---------------------------------------------------------------- keyboard

QTreeWidgetItem* CKorvaneCheckTree::NextEnabledVisible(QTreeWidgetItem* from, bool down) const {
  for (QTreeWidgetItem* it = down ? itemBelow(from) : itemAbove(from); it != nullptr;
       it = down ? itemBelow(it) : itemAbove(it)) {
    const CHECKTREEDATA* r = Record(it);
    if (r != nullptr && r->enabled) return it;
  }
  return nullptr;
}

void CKorvaneCheckTree::keyPressEvent(QKeyEvent* event) {
  if (state() == QAbstractItemView::EditingState || (event->modifiers() & Qt::ControlModifier)) {
    QTreeWidget::keyPressEvent(event);
    return;
  }
  QTreeWidgetItem* item = currentItem();
  const CHECKTREEDATA* r = Record(item);
  const bool keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
  switch (event->key()) {
    case Qt::Key_Space:
      if (checkBoxes_ && !readOnly_ && r != nullptr && !r->separator) SetCheck(item, !r->checked);
      return;
    case Qt::Key_Right:
      if (r != nullptr && r->enabled && item->childCount() > 0 && !item->isExpanded()) {
        ExpandItem(item, kExpand);
        return;
      }
      break;
    case Qt::Key_Left:
      if (r != nullptr && r->enabled && item->childCount() > 0 && item->isExpanded()) {
        ExpandItem(item, kCollapse);
        return;
      }
      break;
    case Qt::Key_Up:
    case Qt::Key_Down:
      if (item != nullptr) {
        if (QTreeWidgetItem* next = NextEnabledVisible(item, event->key() == Qt::Key_Down)) {
          SelectLikeClick(next);
          emit treeSelect(next, 0);
          return;
        }
      }
      break;
    case Qt::Key_Asterisk:
      if (keypad && item != nullptr) {
        ExpandAll(item);
        scrollToItem(item);
        horizontalScrollBar()->setValue(0);
        return;
      }
      break;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
      if (keypad) {
        if (item != nullptr) ExpandItem(item, event->key() == Qt::Key_Plus ? kExpand : kCollapse);
        return;
      }
      break;
    default:
      break;
  }
  QTreeWidget::keyPressEvent(event);
}

// --------------------------------------------------------- label editing

void CKorvaneCheckTree::EditLabel(QTreeWidgetItem* item) {
  const CHECKTREEDATA* r = Record(item);
  if (r == nullptr || r->separator) return;
  editing_ = item;
  committed_ = false;
  committedText_.clear();
  editItem(item, 0);
}

void CKorvaneCheckTree::commitData(QWidget* editor) {
  // The new text is only reported: the main window decides the label.
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    committedText_ = line->text();
    if (committedText_.isNull()) committedText_ = QStringLiteral("");
    committed_ = true;
  }
}

void CKorvaneCheckTree::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTreeWidgetItem* item = editing_;
  const QString text = committed_ ? committedText_ : QString();
  editing_ = nullptr;
  committed_ = false;
  QTreeWidget::closeEditor(editor, hint);
  if (item != nullptr) emit treeRename(item, text);
}

// ---------------------------------------------------------------- tooltips

bool CKorvaneCheckTree::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    QTreeWidgetItem* item = nullptr;
    const int hit = HitTest(help->pos(), &item);
    const CHECKTREEDATA* r = Record(item);
    QString tip;
    if (r != nullptr && (hit == kHitIcon || hit == kHitLabel || hit == kHitStateIcon)) {
      if (!r->tipText.isEmpty()) {
        tip = r->tipText;
      } else {
        QStyleOptionViewItem opt;
        initViewItemOption(&opt);
        opt.rect = visualItemRect(item);
        static_cast<Delegate*>(itemDelegate())->Options(&opt, indexFromItem(item));
        const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, this);
        if (text.left() + fontMetrics().horizontalAdvance(item->text(0)) > viewport()->width() - 3) tip = item->text(0);
      }
    }
    if (tip.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(help->globalPos(), tip.left(kMaxTipLength), viewport());
    }
    return true;
  }
  return QTreeWidget::viewportEvent(event);
}

}  // namespace ostrel::widgets
