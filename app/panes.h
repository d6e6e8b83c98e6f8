// The window parts around the catalogue: the "BKF File" pane on the left that
// holds the catalogue tree, the status bar, and the central view with the file
// list.
#pragma once

#include <QDockWidget>
#include <QPixmap>
#include <QStatusBar>
#include <QTableView>

#include "app/file_list_model.h"

class QAction;
class QLabel;
class QToolButton;
class QTreeWidget;

namespace ostrel::app {

// CFileView: the tree pane. It draws a one-pixel frame around the tree and
// passes the keyboard focus on to it.
class CFileView : public QDockWidget {
  Q_OBJECT

 public:
  explicit CFileView(QWidget* parent = nullptr);

  // Puts `tree` into the pane, which takes it over; a tree shown before is
  // destroyed.
  void SetTree(QTreeWidget* tree);
  QTreeWidget* Tree() const { return tree_; }

 private:
  QWidget* frame_ = nullptr;
  QTreeWidget* tree_ = nullptr;
};

// CMyRibbonStatusBar: the program's name on the left, the maker's link on the
// right. The scan adds its progress elements in between while it runs.
class CMyRibbonStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  CMyRibbonStatusBar(QAction* linkAction, QWidget* parent = nullptr);

  // Progress elements go in before the link, in the order they are added.
  // They are permanent elements: a status tip shown while the pointer rests
  // on a button hides the bar's ordinary elements, and progress must stay
  // in sight for the whole of a long run.
  void AddProgressElement(QWidget* element, int stretch = 0);
  void RemoveProgressElement(QWidget* element);

  QLabel* StaticPane() const { return static_; }
  QToolButton* Link() const { return link_; }

 private:
  QLabel* static_ = nullptr;
  QToolButton* link_ = nullptr;
  int progressElements_ = 0;
};

// CKorvaneRightViewListCtrl: the file list, in the columns "File Name",
// "File Type" and "Modified", with grid lines and whole-row selection. A picture is stretched
// behind the rows; the last column always reaches the right edge.
class CKorvaneRightViewListCtrl : public QTableView {
  Q_OBJECT

 public:
  explicit CKorvaneRightViewListCtrl(QWidget* parent = nullptr);

  FileListModel* Rows() const { return rows_; }

 signals:
  // A row was clicked, or reached with Up or Down.
  void listPreview(int row);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  FileListModel* rows_ = nullptr;
  QPixmap background_;
  QPixmap scaled_;
};

// CKorvaneBKFFileRepProjView: the centre of the main window; the file list
// fills it.
class CKorvaneBKFFileRepProjView : public QWidget {
  Q_OBJECT

 public:
  explicit CKorvaneBKFFileRepProjView(QWidget* parent = nullptr);
  CKorvaneRightViewListCtrl* List() const { return list_; }

 private:
  CKorvaneRightViewListCtrl* list_ = nullptr;
};

}  // namespace ostrel::app
