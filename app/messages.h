// The private messages of the shell: how the catalogue tree, the file list,
// the scan worker and the search result list talk to the main frame (and the
// result list to the search dialog). Each message is a signal of one object
// living on the user-interface thread; the receivers connect their handlers to
// it once. A sender on another thread goes through Send (waits until handled)
// or Post (queued), so every handler runs on the user-interface thread.
#pragma once

#include <QObject>
#include <QString>

#include "app/ui_thread.h"
#include "reader/scanner.h"

class QTreeWidgetItem;

Q_DECLARE_METATYPE(ostrel::ProgressReport)

namespace ostrel::app {

class ShellMessages : public QObject {
  Q_OBJECT

 public:
  explicit ShellMessages(QObject* parent = nullptr) : QObject(parent) {}

  // Emits on this object's thread and waits, e.g.
  //   messages.Send(&ShellMessages::scanProgress, report);
  template <typename... Params, typename... Args>
  void Send(void (ShellMessages::*signal)(Params...), Args&&... args) {
    SendTo(this, [this, signal, args...] { (this->*signal)(args...); });
  }
  template <typename... Params, typename... Args>
  void Post(void (ShellMessages::*signal)(Params...), Args&&... args) {
    PostTo(this, [this, signal, args...] { (this->*signal)(args...); });
  }

 signals:
  // Tree pane. `hitFlags` tells where a click landed (0 for a key).
  void treeSelect(QTreeWidgetItem* item, int hitFlags);
  void treeContextMenu(QTreeWidgetItem* item, int hitFlags);
  void treeExpand(QTreeWidgetItem* item, int hitFlags);
  // Once for the item and once for every descendant the change reaches;
  // `checked` is 1 for checked.
  void treeCheck(QTreeWidgetItem* item, int checked);
  // End of label editing; a null `newText` means the edit was cancelled.
  void treeRename(QTreeWidgetItem* item, const QString& newText);
  // Scan worker.
  void scanDone(int percent);
  void scanProgress(const ostrel::ProgressReport& report);
  void scanStatusBar(int add);  // 1 adds the progress elements, 0 removes them
  // File list: a row clicked or reached with Up/Down.
  void listPreview(int row);
  // Search dialog's result list: a row clicked.
  void resultClick(int row);
};

}  // namespace ostrel::app
