// CMainFrame: the program's only top-level window. It holds the ribbon with
// the commands, the status bar, the "BKF File" tree pane on the left, the
// "BKF File Status" pane (log and preview) along the bottom and the file list
// in the centre; it owns the recovery session (the catalogue); it routes every
// command and every private message to its handler; and it asks before it
// closes.
//
// Every command handler first checks the process-running flag and refuses
// with its own message while a long operation runs. Only Stop is ever
// disabled (it is enabled exactly while a process runs); Help, About and the
// maker's link are never refused.
#pragma once

#include <QKeySequence>
#include <QMainWindow>
#include <QMap>
#include <memory>

#include "app/app_state.h"
#include "app/job.h"

class QAction;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace ostrel {
struct RecoverySession;
}

namespace ostrel::preview {
class CKorvaneStaticFileViewer;
}

namespace ostrel::widgets {
class CKorvaneCheckTree;
}

namespace ostrel::app {

class CFileView;
class CKorvaneBKFFileRepProjView;
class Ribbon;
class CKorvaneRightViewListCtrl;
class CMyRibbonStatusBar;
class COutputWnd;
class PreviewJob;
class ScanJob;
class ScanStatusBar;
class SnapshotStatusBar;
class SnapshotJob;

// The commands, numbered as the program's resources number them.
enum class Command {
  Open = 283,
  Stop = 322,
  Save = 298,
  Search = 297,
  Log = 325,
  LoadSnapshot = 293,
  SaveSnapshot = 294,
  Help = 295,
  About = 296,
  MakerLink = 311,
};

// The keys of the commands that have one: Ctrl+O Open, Ctrl+S Save, Ctrl+F
// Search, F1 Help, and Esc for Stop (which only works while a process runs).
QKeySequence ShortcutOf(Command command);

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(CKorvaneBKFFileRepProjApp& app, QWidget* parent = nullptr);
  ~CMainFrame() override;

  CKorvaneBKFFileRepProjApp& App() const { return app_; }
  QAction* CommandAction(Command command) const { return actions_.value(command); }

  app::Ribbon* Ribbon() const { return ribbon_; }
  CMyRibbonStatusBar* StatusBar() const { return statusBar_; }
  CFileView* FileView() const { return fileView_; }
  QTreeWidget* Tree() const;
  widgets::CKorvaneCheckTree* CheckTree() const;
  COutputWnd* OutputWnd() const { return output_; }
  preview::CKorvaneStaticFileViewer* FileViewer() const;
  CKorvaneBKFFileRepProjView* View() const { return view_; }
  CKorvaneRightViewListCtrl* List() const;

  // The recovery session (the catalogue and its open BKF file): absent until
  // a scan or a snapshot load, replaced by the next one, destroyed when the
  // program closes. Dialogs, saving and search take it by reference.
  bool HasCatalogue() const { return session_ != nullptr; }
  ostrel::RecoverySession* Session() const { return session_.get(); }
  void SetSession(std::unique_ptr<ostrel::RecoverySession> session);
  void FreeSession();

  // Catalogue view. Empties the file list and the tree and destroys the
  // recovery session (the catalogue and its open BKF file).
  void ResetCatalogueView();
  // Puts the root's children into the tree as top-level items, each with a
  // "Dummy" child and a checked box (after a scan or a snapshot load).
  void ShowCatalogueTopLevel();
  // Replaces a folder item's "Dummy" child by the folder's subfolders and
  // files, each given `checked`; with `listToo` also lists them. Subfolders
  // come in the order the scan found them, or newest first for a selection.
  void PopulateFolder(QTreeWidgetItem* item, bool checked, bool listToo, bool forSelection);
  // The tree item whose contents the file list shows.
  QTreeWidgetItem* ListSourceItem() const { return listSource_; }

  // The Open command from its path check on, with `path` as if chosen in its
  // dialog (the program's file argument); the Recovery Selection dialog still
  // asks.
  void OpenBkfPath(const QString& path);
  // The snapshot load with `path` as if chosen in its dialog.
  void LoadSnapshotPath(const QString& path);
  // The scan job (made on first use, its signals connected to the window).
  ScanJob& Job();
  // The scan's progress elements in the status bar.
  ScanStatusBar& ScanStatus();
  // The snapshot commands' job, and their progress in the status bar.
  SnapshotJob& SnapshotWork();
  SnapshotStatusBar& SnapshotStatus();
  // The preview's copy job (made on first use).
  PreviewJob& PreviewWork();

 public slots:
  // Ribbon commands.
  void OnOpenBkf();
  void OnStopProcess();
  // The end of a scan: the session, the tree, the message and the log.
  void OnScanFinished(ostrel::app::JobOutcome outcome);
  void OnSaveRecoveredFiles();
  void OnSearchFiles();
  void OnSaveLog();
  void OnLoadSnapshot();
  void OnSaveSnapshot();
  void OnHelp();
  void OnAbout();
  void OnMakerLink();
  // The round application button: a menu of the window's commands.
  void OnApplicationButton();

  // Private messages from the tree pane and the file list.
  void OnTreeItemSelected(QTreeWidgetItem* item, int hitFlags);
  void OnTreeExpandButton(QTreeWidgetItem* item, int hitFlags);
  void OnTreeContextMenu(QTreeWidgetItem* item, int hitFlags);
  void OnTreeCheckChanged(QTreeWidgetItem* item, int checked);
  void OnTreeLabelEdited(QTreeWidgetItem* item, const QString& newText);
  // The preview request of a file list row.
  void OnPreviewFile(int row);
  // The end of a preview's copy: the messages, the log and the view.
  void OnPreviewCopied(ostrel::app::JobOutcome outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  // No menu for showing and hiding the panes: they are always there.
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  // Shows `text` and answers true while a process runs; answers false otherwise.
  bool RefuseWhileRunning(const QString& text);
  QAction* AddCommand(Command command, const QString& label, const QString& toolTip, const QString& icon,
                      void (CMainFrame::*handler)());
  void CreateRibbon();
  void CreatePanes();
  void ConnectMessages();
  void UpdateCommandState();
  void RestoreWindowState();
  // The window never gets narrower than the ribbon's buttons with their
  // labels need (the main window does not ask its ribbon on its own).
  void KeepRibbonWhole();
  void SaveWindowState();

  CKorvaneBKFFileRepProjApp& app_;
  QMap<Command, QAction*> actions_;
  app::Ribbon* ribbon_ = nullptr;
  CMyRibbonStatusBar* statusBar_ = nullptr;
  CFileView* fileView_ = nullptr;
  COutputWnd* output_ = nullptr;
  CKorvaneBKFFileRepProjView* view_ = nullptr;
  QTimer* commandStateTimer_ = nullptr;
  std::unique_ptr<ostrel::RecoverySession> session_;
  QTreeWidgetItem* listSource_ = nullptr;
  // The preview whose copy is being made: the temporary folder, the copy's
  // name there, the extension and the name as the backup has it.
  struct PendingPreview {
    QString folder;
    QString copyName;
    QString extension;
    QString nodeName;
  };
  PendingPreview pendingPreview_;
  // From the start of a preview's copy until its end is handled.
  bool previewCopying_ = false;
  QMenu* treeMenu_ = nullptr;
  QMenu* applicationMenu_ = nullptr;
  std::unique_ptr<ScanStatusBar> scanStatus_;
  std::unique_ptr<SnapshotStatusBar> snapshotStatus_;
  // Last, so that a worker still running is stopped before anything else goes.
  std::unique_ptr<ScanJob> scanJob_;
  std::unique_ptr<SnapshotJob> snapshotJob_;
  std::unique_ptr<PreviewJob> previewJob_;
};

}  // namespace ostrel::app
