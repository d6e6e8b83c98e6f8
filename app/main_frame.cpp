#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QSettings>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <utility>

#include "app/about_dlg.h"
#include "app/log_file.h"
#include "app/look.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/preview_job.h"
#include "app/ribbon.h"
#include "app/save_dialog.h"
#include "app/open_command.h"
#include "app/scan_job.h"
#include "app/scan_status.h"
#include "app/snapshot_job.h"
#include "app/search_dialog.h"
#include "app/start_up.h"
#include "app/texts.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "reader/scanner.h"
#include "widgets/check_tree.h"

namespace ostrel::app {
namespace {

// The per-user settings store: window geometry, pane state, and the visual
// style's number, which the program writes on every start.
constexpr int kApplicationLook = 216;

std::unique_ptr<QSettings> OpenSettings() {
  return std::make_unique<QSettings>(QStringLiteral("KorvaneHallorBKFRepv1.01"),
                                     QStringLiteral("Ostrel BKF Repair"));
}

QIcon Artwork(const QString& name) { return QIcon(QStringLiteral(":/artwork/%1.png").arg(name)); }

}  // namespace

QKeySequence ShortcutOf(Command command) {
  switch (command) {
    case Command::Open:
      return QKeySequence(Qt::CTRL | Qt::Key_O);
    case Command::Save:
      return QKeySequence(Qt::CTRL | Qt::Key_S);
    case Command::Search:
      return QKeySequence(Qt::CTRL | Qt::Key_F);
    case Command::Help:
      return QKeySequence(Qt::Key_F1);
    case Command::Stop:
      return QKeySequence(Qt::Key_Escape);
    default:
      return {};
  }
}

CMainFrame::CMainFrame(CKorvaneBKFFileRepProjApp& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setObjectName(QStringLiteral("MainFrame"));
  setWindowTitle(kAppCaption);
  setWindowIcon(Artwork(QStringLiteral("app-icon")));

  // The visual style first, then the ribbon, the status bar and the panes.
  OpenSettings()->setValue(QStringLiteral("ApplicationLook"), kApplicationLook);
  setStyleSheet(BlackLookStyleSheet());
  CreateRibbon();
  CreatePanes();
  ConnectMessages();

  // Stop follows the flag: at once when it is set through the application
  // state, and on a short timer for anything that stores it directly.
  connect(&app_, &CKorvaneBKFFileRepProjApp::processRunningChanged, this, &CMainFrame::UpdateCommandState);
  commandStateTimer_ = new QTimer(this);
  commandStateTimer_->setInterval(100);
  connect(commandStateTimer_, &QTimer::timeout, this, &CMainFrame::UpdateCommandState);
  commandStateTimer_->start();
  UpdateCommandState();

  RestoreWindowState();
  // What an earlier run left behind goes now.
  preview::CleanTempFolder();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::AddCommand(Command command, const QString& label, const QString& toolTip,
                                const QString& icon, void (CMainFrame::*handler)()) {
  auto* action = new QAction(label, this);
  action->setObjectName(QStringLiteral("Command%1").arg(static_cast<int>(command)));
  const QKeySequence shortcut = ShortcutOf(command);
  action->setShortcut(shortcut);
  // The window's commands work from anywhere in it, also while the keyboard
  // focus is in a pane.
  action->setShortcutContext(Qt::WindowShortcut);
  action->setToolTip(shortcut.isEmpty()
                         ? toolTip
                         : QStringLiteral("%1 (%2)").arg(toolTip, shortcut.toString(QKeySequence::NativeText)));
  action->setStatusTip(toolTip);
  addAction(action);
  if (!icon.isEmpty()) action->setIcon(Artwork(icon));
  connect(action, &QAction::triggered, this, handler);
  actions_.insert(command, action);
  return action;
}

void CMainFrame::CreateRibbon() {
  ribbon_ = new app::Ribbon(this);
  ribbon_->SetApplicationButton(Artwork(QStringLiteral("app-button")), QStringLiteral("Korvane Ostrel BKF Repair"));
  ribbon_->SetCategory(QStringLiteral("Korvane Ostrel BKF Recovery"));
  connect(ribbon_->ApplicationButton(), &QToolButton::clicked, this, &CMainFrame::OnApplicationButton);

  RibbonPanel* recovery = ribbon_->AddPanel(QStringLiteral("BKF Recovery"), Artwork(QStringLiteral("panel-recovery")));
  recovery->AddLargeButton(AddCommand(Command::Open, QStringLiteral("Open"), QStringLiteral("Open BKF file"),
                                      QStringLiteral("open"), &CMainFrame::OnOpenBkf));
  recovery->AddLargeButton(AddCommand(Command::Stop, QStringLiteral("Stop"),
                                      QStringLiteral("Stop running recovery process"), QStringLiteral("stop"),
                                      &CMainFrame::OnStopProcess));
  recovery->AddLargeButton(AddCommand(Command::Save, QStringLiteral("Save"), QStringLiteral("Save recovered data"),
                                      QStringLiteral("save"), &CMainFrame::OnSaveRecoveredFiles));
  recovery->AddLargeButton(AddCommand(Command::Search, QStringLiteral("Search"),
                                      QStringLiteral("Search file from the list"), QStringLiteral("search"),
                                      &CMainFrame::OnSearchFiles));
  recovery->AddLargeButton(AddCommand(Command::Log, QStringLiteral("Log"), QStringLiteral("Save log for BKF file."),
                                      QStringLiteral("log"), &CMainFrame::OnSaveLog));

  RibbonPanel* snapshots =
      ribbon_->AddPanel(QStringLiteral("BKF File Snapshots"), Artwork(QStringLiteral("panel-snapshots")));
  snapshots->AddLargeButton(AddCommand(Command::LoadSnapshot, QStringLiteral("Load"),
                                       QStringLiteral("Load Ostrel BKF Recovery Snapshot"),
                                       QStringLiteral("snapshot-load"), &CMainFrame::OnLoadSnapshot));
  snapshots->AddLargeButton(AddCommand(Command::SaveSnapshot, QStringLiteral("Save"),
                                       QStringLiteral("Save Ostrel BKF Recovery Snapshot"),
                                       QStringLiteral("snapshot-save"), &CMainFrame::OnSaveSnapshot));

  RibbonPanel* about = ribbon_->AddPanel(QStringLiteral("About BKF Repair"), Artwork(QStringLiteral("panel-recovery")));
  about->AddLargeButton(AddCommand(Command::Help, QStringLiteral("Help"),
                                   QStringLiteral("Help for Korvane Ostrel BKF Repair"), QStringLiteral("help"),
                                   &CMainFrame::OnHelp));
  about->AddLargeButton(AddCommand(Command::About, QStringLiteral("About"),
                                   QStringLiteral("About Korvane Ostrel BKF Repair"), QStringLiteral("about"),
                                   &CMainFrame::OnAbout));
  setMenuWidget(ribbon_);

  QAction* link = AddCommand(Command::MakerLink, kMakerUrl, QString(), QString(), &CMainFrame::OnMakerLink);
  statusBar_ = new CMyRibbonStatusBar(link, this);
  setStatusBar(statusBar_);
}

void CMainFrame::CreatePanes() {
  view_ = new CKorvaneBKFFileRepProjView(this);
  setCentralWidget(view_);

  // The tree pane runs the full height on the left; the status pane sits
  // under the file list.
  setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
  setDockOptions(QMainWindow::AnimatedDocks);

  fileView_ = new CFileView(this);
  auto* tree = new widgets::CKorvaneCheckTree;
  tree->setObjectName(QStringLiteral("CatalogueTree"));
  tree->SetSmartCheck(true);
  // A check-box click marks a row without moving the highlight: the
  // highlighted folder is the one whose contents the file list shows.
  tree->SetSelectOnCheck(false);
  tree->setContextMenuPolicy(Qt::PreventContextMenu);
  fileView_->SetTree(tree);
  addDockWidget(Qt::LeftDockWidgetArea, fileView_);

  output_ = new COutputWnd(this);
  addDockWidget(Qt::BottomDockWidgetArea, output_);

  resizeDocks({fileView_}, {200}, Qt::Horizontal);
  resizeDocks({output_}, {100}, Qt::Vertical);
}

void CMainFrame::ConnectMessages() {
  ShellMessages& messages = app_.messages();
  connect(&messages, &ShellMessages::treeSelect, this, &CMainFrame::OnTreeItemSelected);
  connect(&messages, &ShellMessages::treeExpand, this, &CMainFrame::OnTreeExpandButton);
  connect(&messages, &ShellMessages::treeContextMenu, this, &CMainFrame::OnTreeContextMenu);
  connect(&messages, &ShellMessages::treeCheck, this, &CMainFrame::OnTreeCheckChanged);
  connect(&messages, &ShellMessages::treeRename, this, &CMainFrame::OnTreeLabelEdited);
  connect(&messages, &ShellMessages::listPreview, this, &CMainFrame::OnPreviewFile);
  // The tree pane and the file list speak through the same messages.
  widgets::CKorvaneCheckTree* tree = CheckTree();
  connect(tree, &widgets::CKorvaneCheckTree::treeSelect, &messages, &ShellMessages::treeSelect);
  connect(tree, &widgets::CKorvaneCheckTree::treeExpand, &messages, &ShellMessages::treeExpand);
  connect(tree, &widgets::CKorvaneCheckTree::treeContextMenu, &messages, &ShellMessages::treeContextMenu);
  connect(tree, &widgets::CKorvaneCheckTree::treeCheck, &messages, &ShellMessages::treeCheck);
  connect(tree, &widgets::CKorvaneCheckTree::treeRename, &messages, &ShellMessages::treeRename);
  connect(List(), &CKorvaneRightViewListCtrl::listPreview, &messages, &ShellMessages::listPreview);
}

QTreeWidget* CMainFrame::Tree() const { return fileView_->Tree(); }
widgets::CKorvaneCheckTree* CMainFrame::CheckTree() const {
  return static_cast<widgets::CKorvaneCheckTree*>(fileView_->Tree());
}

preview::CKorvaneStaticFileViewer* CMainFrame::FileViewer() const { return output_->FileViewer(); }

CKorvaneRightViewListCtrl* CMainFrame::List() const { return view_->List(); }

void CMainFrame::SetSession(std::unique_ptr<ostrel::RecoverySession> session) {
  session_ = std::move(session);
  // Stop also ends a copy's work around a failing disk's bad pieces.
  if (session_) session_->file.SetStopToken(&app_.StopRequest());
}

void CMainFrame::FreeSession() { session_.reset(); }

bool CMainFrame::RefuseWhileRunning(const QString& text) {
  if (!app_.IsProcessRunning()) return false;
  Tell(app_.prompts(), this, text);
  return true;
}

void CMainFrame::UpdateCommandState() {
  if (QAction* stop = CommandAction(Command::Stop)) stop->setEnabled(app_.IsProcessRunning());
}

void CMainFrame::OnSaveRecoveredFiles() {
  if (RefuseWhileRunning(QStringLiteral("Please stop the running process to save the recovered files."))) return;
  if (!HasCatalogue() || Tree()->topLevelItemCount() == 0) {
    Tell(app_.prompts(), this, kSelectBkfFirst);
    return;
  }
  CKorvaneDlgSaveRecoveredFiles dialog(*this);
  dialog.exec();
}

void CMainFrame::OnSearchFiles() {
  if (RefuseWhileRunning(QStringLiteral("Please stop the running process to search the files."))) return;
  if (!HasCatalogue() || Tree()->topLevelItemCount() == 0) {
    Tell(app_.prompts(), this, kSelectBkfFirst);
    return;
  }
  FileViewer()->DestroyCurrentView();
  output_->ShowLogTab();
  CKorvaneDlgSearchBkfFiles dialog(*this);
  dialog.exec();
}

void CMainFrame::OnSaveLog() {
  if (RefuseWhileRunning(QStringLiteral("Please stop the running process to save the log file."))) return;
  if (Tree()->topLevelItemCount() == 0) {
    Tell(app_.prompts(), this, QStringLiteral("Please start the recovery process of BKF file to save the log file."));
    return;
  }

  FileDialogRequest request;
  request.owner = this;
  request.filters = QStringList{QStringLiteral("Text Files (*.TXT)")};
  request.defaultSuffix = QStringLiteral("txt");
  request.initialName = QStringLiteral("Untitled");
  request.overwritePrompt = true;
  const QString path = app_.prompts().GetSaveFileName(request);
  if (path.isEmpty()) return;

  const LogFileResult result = WriteLogFile(path, output_->Lines());
  switch (result.outcome) {
    case LogFileResult::Outcome::Saved:
      break;
    case LogFileResult::Outcome::CannotCreate:
      Tell(app_.prompts(), this, FileErrorText(result.error, path));
      break;
    case LogFileResult::Outcome::WriteFailed:
      Tell(app_.prompts(), this, QStringLiteral("Disk full while accessing %1.").arg(path),
           MessageIcon::Exclamation);
      break;
  }
}

// Help and About are never refused.
void CMainFrame::OnHelp() { ShowHelp(app_.prompts(), this, QCoreApplication::applicationDirPath()); }

void CMainFrame::OnAbout() {
  CKorvaneAboutDlg dialog(this);
  app_.prompts().RunDialog(dialog);
}

void CMainFrame::OnMakerLink() { app_.prompts().OpenUrl(QUrl(kMakerUrl)); }

void CMainFrame::OnApplicationButton() {
  // The menu has entries of its own, named like the ribbon's buttons; the
  // chosen one runs its command, which refuses as it does from the ribbon.
  static const std::pair<Command, const char*> kEntries[] = {
      {Command::Open, "Open BKF file"},
      {Command::Save, "Save recovered data"},
      {Command::Search, "Search file from the list"},
      {Command::Log, "Save log for BKF file."},
      {Command::LoadSnapshot, "Load Ostrel BKF Recovery Snapshot"},
      {Command::SaveSnapshot, "Save Ostrel BKF Recovery Snapshot"},
      {Command::Help, "Help for Korvane Ostrel BKF Repair"},
      {Command::About, "About Korvane Ostrel BKF Repair"},
  };
  if (applicationMenu_ == nullptr) {
    applicationMenu_ = new QMenu(this);
    for (const auto& [command, text] : kEntries) {
      if (command == Command::LoadSnapshot || command == Command::Help) applicationMenu_->addSeparator();
      QAction* entry = applicationMenu_->addAction(CommandAction(command)->icon(), QString::fromLatin1(text));
      entry->setData(static_cast<int>(command));
    }
  }
  QToolButton* button = ribbon_->ApplicationButton();
  QAction* chosen = app_.prompts().ChooseFromMenu(applicationMenu_, button->mapToGlobal(button->rect().bottomLeft()));
  if (chosen != nullptr) CommandAction(static_cast<Command>(chosen->data().toInt()))->trigger();
}






void CMainFrame::closeEvent(QCloseEvent* event) {
  // Also refused after Stop until a worker has ended: a snapshot save may
  // still be reading the catalogue.
  if (RefuseWhileScanning(*this, QStringLiteral("Please stop the running process to close the application."))) {
    event->ignore();
    return;
  }
  if (Tell(app_.prompts(), this, QStringLiteral("Are you sure to close the application?"), MessageIcon::Information,
           MessageButtons::YesNo) != MessageAnswer::Yes) {
    event->ignore();
    return;
  }
  FreeSession();
  preview::CleanTempFolder();
  app_.prompts().OpenUrl(QUrl(kMakerUrl));
  SaveWindowState();
  commandStateTimer_->stop();
  event->accept();
}

void CMainFrame::KeepRibbonWhole() {
  if (ribbon_ != nullptr) setMinimumWidth(ribbon_->minimumSizeHint().width());
}

void CMainFrame::showEvent(QShowEvent* event) {
  KeepRibbonWhole();
  QMainWindow::showEvent(event);
}

void CMainFrame::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) KeepRibbonWhole();
  QMainWindow::changeEvent(event);
}

void CMainFrame::RestoreWindowState() {
  const auto settings = OpenSettings();
  restoreGeometry(settings->value(QStringLiteral("MainFrame/Geometry")).toByteArray());
  restoreState(settings->value(QStringLiteral("MainFrame/State")).toByteArray());
}

void CMainFrame::SaveWindowState() {
  const auto settings = OpenSettings();
  settings->setValue(QStringLiteral("MainFrame/Geometry"), saveGeometry());
  settings->setValue(QStringLiteral("MainFrame/State"), saveState());
}

}  // namespace ostrel::app
