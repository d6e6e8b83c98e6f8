// CKorvaneCheckTree: the tree of the "BKF File" pane. A tree widget that draws
// its own three-state check boxes and keeps them consistent between an item,
// everything below it and everything above it ("smart" checking), reports the
// gestures that matter to the main window through signals, and handles a few
// keys itself.
//
// The check logic lives in per-item records (CHECKTREEDATA) carried by the
// items this control inserts, not in Qt's own check handling: Qt's automatic tristate follows other
// rules (an unchecked item inserted under a fully checked parent must turn the
// parent partly checked, and every item below a checked one gets exactly one
// check signal, children before parents, the starting item last).
#pragma once

#include <QString>
#include <functional>
#include <QPersistentModelIndex>
#include <QTreeWidget>

namespace ostrel::widgets {

struct CHECKTREEDATA {
  bool checked = false;
  bool enabled = true;
  bool separator = false;
  bool expanded = false;
  bool hasBeenExpanded = false;
  int descendantCount = 0;
  int checkedCount = 0;   // checked items below (a parent counts when fully checked)
  int separatorCount = 0;
  QString tipText;
};

// Where a click landed (the hit-test flags of the tree signals).
enum HitFlags : int {
  kHitNowhere = 0,
  kHitIcon = 0x02,
  kHitLabel = 0x04,
  kHitIndent = 0x08,
  kHitButton = 0x10,
  kHitRight = 0x20,
  kHitStateIcon = 0x40,
};

// State images: 1 unchecked, 2 checked, 3 partly checked; +4 disabled, +8
// hover look; 0 none.
enum StateImage : int { kStateNone = 0, kStateUnchecked = 1, kStateChecked = 2, kStatePartial = 3 };
inline constexpr int kStateDisabledBit = 4;
inline constexpr int kStateHoverBit = 8;

// Item labels are limited so that every name fits a snapshot record.
inline constexpr int kMaxLabelLength = 2046;
inline constexpr int kMaxTipLength = 78;

class CKorvaneCheckTree : public QTreeWidget {
  Q_OBJECT

 public:
  enum InsertAfter { kFirst, kLast };

  explicit CKorvaneCheckTree(QWidget* parent = nullptr);
  ~CKorvaneCheckTree() override;

  // Settings (the tree pane uses smart checking; the control's default is off).
  void SetSmartCheck(bool on) { smartCheck_ = on; }
  bool SmartCheck() const { return smartCheck_; }
  void SetCheckBoxes(bool on);
  bool CheckBoxes() const { return checkBoxes_; }
  void SetReadOnly(bool on) { readOnly_ = on; }
  void SetSelectOnCheck(bool on) { selectOnCheck_ = on; }

  // Clears all items and records and resets the settings to their defaults.
  void Initialise();

  QTreeWidgetItem* InsertItem(const QString& text, const QIcon& icon, QTreeWidgetItem* parent,
                              InsertAfter after = kLast);
  QTreeWidgetItem* InsertItem(const QString& text, const QIcon& icon, QTreeWidgetItem* parent,
                              QTreeWidgetItem* afterSibling);
  // Many children at once, appended under `parent` (top level when null),
  // each with the given check flag: one model change for all of them, and
  // treeCheck for each, as SetCheck would send.
  // `prepare(i, item)` runs for each new item before it joins the tree.
  QList<QTreeWidgetItem*> InsertItems(QTreeWidgetItem* parent, const QList<QPair<QString, QIcon>>& labels,
                                      bool checked,
                                      const std::function<void(int, QTreeWidgetItem*)>& prepare = {});
  void DeleteItem(QTreeWidgetItem* item);
  void DeleteAllItems();

  void SetCheck(QTreeWidgetItem* item, bool state);
  bool GetCheck(QTreeWidgetItem* item) const;
  void SetItemText(QTreeWidgetItem* item, const QString& text);

  // The record of an item, or null (none while the busy flag is set).
  const CHECKTREEDATA* Record(QTreeWidgetItem* item) const;
  void SetEnabled(QTreeWidgetItem* item, bool enabled);
  void SetSeparator(QTreeWidgetItem* item, bool separator);
  void SetTipText(QTreeWidgetItem* item, const QString& text);
  int StateImageOf(QTreeWidgetItem* item) const;
  // The state image currently shown for the item.
  int ShownStateImage(QTreeWidgetItem* item) const;

  enum ExpandCode { kCollapse, kExpand, kToggle };
  void ExpandItem(QTreeWidgetItem* item, ExpandCode code);
  void ExpandAll(QTreeWidgetItem* item);
  void CollapseAll();
  void SelectItemNotify(QTreeWidgetItem* item);
  // Sets or clears the item's expanded flag in its record only: the item is
  // neither expanded nor collapsed on the screen.
  void SetExpandedBit(QTreeWidgetItem* item, bool expanded) { SetExpandedState(item, expanded); }
  // Marks an item as the drop target: drawn with the selected look until
  // another item becomes current or is marked (nullptr: none).
  void SetDropHighlight(QTreeWidgetItem* item);
  QTreeWidgetItem* DropHighlight() const;

  // Starts editing an item's label (from the context menu's "Rename").
  void EditLabel(QTreeWidgetItem* item);
  bool Busy() const { return busy_; }

  // Hit test for a point in viewport coordinates.
  int HitTest(const QPoint& pos, QTreeWidgetItem** item) const;
  // The check box's rectangle of an item, in viewport coordinates.
  QRect CheckBoxRect(QTreeWidgetItem* item) const;

 signals:
  void treeSelect(QTreeWidgetItem* item, int hitFlags);
  void treeExpand(QTreeWidgetItem* item, int hitFlags);
  void treeContextMenu(QTreeWidgetItem* item, int hitFlags);
  void treeCheck(QTreeWidgetItem* item, int checked);
  // End of label editing: the new text, or a null string when cancelled. The
  // tree itself keeps the old label: only the main window sets labels.
  void treeRename(QTreeWidgetItem* item, const QString& newText);
  // An item's expanded state changed through this control.
  void itemExpandedChanged(QTreeWidgetItem* item, bool expanded);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void commitData(QWidget* editor) override;

 private:
  class Delegate;
  friend class Delegate;

  CHECKTREEDATA* Rec(QTreeWidgetItem* item);
  void SetStateImage(QTreeWidgetItem* item, int image);
  void SetSubtreeCheck(QTreeWidgetItem* item, bool state);
  void SetOwnCheck(QTreeWidgetItem* item, bool state);
  int RecountAncestor(QTreeWidgetItem* item, int delta);
  // RecountAncestor from `from` up to the top.
  void RecountAncestors(QTreeWidgetItem* from, int delta);
  void AfterInsert(QTreeWidgetItem* item);
  static QTreeWidgetItem* NewItem(const QString& text, const QIcon& icon);
  void SetExpandedState(QTreeWidgetItem* item, bool expanded);
  QTreeWidgetItem* NextEnabledVisible(QTreeWidgetItem* from, bool down) const;
  void SelectLikeClick(QTreeWidgetItem* item);

  QPersistentModelIndex dropHighlight_;
  bool busy_ = false;
  bool smartCheck_ = false;
  bool checkBoxes_ = true;
  bool readOnly_ = false;
  bool selectOnCheck_ = true;
  QTreeWidgetItem* hover_ = nullptr;
  QTreeWidgetItem* editing_ = nullptr;
  QString committedText_;
  bool committed_ = false;
};

}  // namespace ostrel::widgets
