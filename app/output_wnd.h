// COutputWnd: the "BKF File Status" pane along the bottom of the main window.
// Its tab strip (tabs at the bottom) holds the log ("Log Window") and the
// preview pane ("File Viewer").
//
// The log is write-only for the rest of the program: operations append lines,
// the Open command clears it, and only Save log reads it back. The append and
// scroll calls may come from any thread; they are carried out on the
// user-interface thread, in the order they were made, before the call returns.
#pragma once

#include <QDockWidget>
#include <QListWidget>
#include <QStringList>

class QTabWidget;

namespace ostrel::preview {
class CKorvaneStaticFileViewer;
}

namespace ostrel::app {

// The log list: one line per entry, no header, no context menu, long lines
// reached with the horizontal scroll bar.
class CCustomListCtrl : public QListWidget {
  Q_OBJECT

 public:
  explicit CCustomListCtrl(QWidget* parent = nullptr);
};

class COutputWnd : public QDockWidget {
  Q_OBJECT

 public:
  explicit COutputWnd(QWidget* parent = nullptr);

  void AppendLine(const QString& text);
  void AppendBlankLine();
  // Brings the last entry fully into view, if there is one.
  void ScrollToLastLine();
  void ClearLog();

  int LineCount() const;
  QString LineText(int index) const;
  QStringList Lines() const;

  void ShowLogTab();
  void ShowFileViewerTab();

  CCustomListCtrl* LogList() const { return log_; }
  preview::CKorvaneStaticFileViewer* FileViewer() const { return viewer_; }
  QTabWidget* Tabs() const { return tabs_; }

 private:
  QTabWidget* tabs_ = nullptr;
  CCustomListCtrl* log_ = nullptr;
  preview::CKorvaneStaticFileViewer* viewer_ = nullptr;
};

}  // namespace ostrel::app
