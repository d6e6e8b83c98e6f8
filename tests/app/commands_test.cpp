// The main window's commands: what each does while a process runs, Stop,
// the maker's link, the search command's checks, the keyboard and the
// application button; every prompt answered by the scripted fake.
#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <thread>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/ribbon.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "reader/recovery_session.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/app/scripted_prompts.h"

using ostrel::app::CKorvaneBKFFileRepProjApp;
using ostrel::app::CMainFrame;
using ostrel::app::Command;
using ostrel::app::MessageAnswer;
using ostrel::app::MessageButtons;
using ostrel::app::MessageIcon;
using ostrel::app::ShellMessages;
using ostrel::testing::ScriptedPrompts;

namespace {

const QString kCaption = QStringLiteral("Korvane Ostrel BKF Repair v1.0");
const QUrl kMakerPage(QStringLiteral("https://ostrel-bkf-repair.example.org/"));

const Command kAllCommands[] = {Command::Open, Command::Stop,         Command::Save,         Command::Search,
                                Command::Log,  Command::LoadSnapshot, Command::SaveSnapshot, Command::Help,
                                Command::About, Command::MakerLink};

QToolButton* ButtonOf(CMainFrame& frame, Command command) {
  QAction* action = frame.CommandAction(command);
  for (QToolButton* button : frame.findChildren<QToolButton*>()) {
    if (button->defaultAction() == action) return button;
  }
  return nullptr;
}

void Click(CMainFrame& frame, Command command) {
  QToolButton* button = ButtonOf(frame, command);
  QVERIFY2(button != nullptr, "every command has a button");
  QTest::mouseClick(button, Qt::LeftButton);
}

// What the user does while a process runs, and the answer expected; an empty
// answer means none at all.
struct WhileRunning {
  const char* name;
  std::function<void(CMainFrame&)> act;
  const char* answer;
};

QTreeWidgetItem* AnyItem(CMainFrame& frame) { return frame.Tree()->topLevelItem(0); }

const std::vector<WhileRunning>& WhileRunningCases() {
  static const std::vector<WhileRunning> cases = {
      {"Open", [](CMainFrame& f) { Click(f, Command::Open); }, "Please stop the running process to open the BKF file."},
      {"Save", [](CMainFrame& f) { Click(f, Command::Save); },
       "Please stop the running process to save the recovered files."},
      {"Search", [](CMainFrame& f) { Click(f, Command::Search); },
       "Please stop the running process to search the files."},
      {"Log", [](CMainFrame& f) { Click(f, Command::Log); }, "Please stop the running process to save the log file."},
      {"Load snapshot", [](CMainFrame& f) { Click(f, Command::LoadSnapshot); },
       "Please stop the running process to load recovery snapshot."},
      {"Save snapshot", [](CMainFrame& f) { Click(f, Command::SaveSnapshot); },
       "Please stop the running process to save recovery snapshot."},
      {"close", [](CMainFrame& f) { QVERIFY(!f.close()); },
       "Please stop the running process to close the application."},
      {"tree select", [](CMainFrame& f) { emit f.App().messages().treeSelect(AnyItem(f), 0); },
       "Please wait for the running process."},
      {"tree expand", [](CMainFrame& f) { emit f.App().messages().treeExpand(AnyItem(f), 0); },
       "Please wait for the running process."},
      {"tree context menu", [](CMainFrame& f) { emit f.App().messages().treeContextMenu(AnyItem(f), 0); },
       "Please wait for the running process."},
      {"tree rename", [](CMainFrame& f) { emit f.App().messages().treeRename(AnyItem(f), QStringLiteral("x")); },
       "Please wait for the running process."},
      {"list preview", [](CMainFrame& f) { emit f.App().messages().listPreview(0); },
       "Please wait for the running process."},
      {"tree check", [](CMainFrame& f) { emit f.App().messages().treeCheck(AnyItem(f), 1); }, ""},
  };
  return cases;
}

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }
  void init();
  void cleanup();

  void commandsWhileRunning_data();
  void commandsWhileRunning();
  void makerLinkOpensThePageEvenWhileRunning();
  void onlyStopIsDisabledAndOnlyWhileIdle();
  void stopFollowsTheFlagFromAnyThread();
  void searchNeedsACatalogueWithItems_data();
  void searchNeedsACatalogueWithItems();
  void searchClearsThePreviewAndShowsTheLog();
  void keyboardReachesTheCommands();
  void applicationButtonOffersTheCommands();

 private:
  ostrel::testing::PrivateEnvironment env_;
  ostrel::testing::FrameFixture fixture_;
  ScriptedPrompts* prompts_ = nullptr;
  CKorvaneBKFFileRepProjApp* state_ = nullptr;
  CMainFrame* frame_ = nullptr;
};

void CommandsTest::init() {
  fixture_.SetUp();
  prompts_ = &fixture_.prompts();
  state_ = &fixture_.state();
  frame_ = &fixture_.frame();
}

void CommandsTest::cleanup() { fixture_.TearDown(); }

void CommandsTest::commandsWhileRunning() {
  QFETCH(int, index);
  const WhileRunning& c = WhileRunningCases()[static_cast<std::size_t>(index)];
  // A catalogue and a tree item, so that nothing but the flag can refuse.
  frame_->SetSession(std::make_unique<ostrel::RecoverySession>());
  new QTreeWidgetItem(frame_->Tree(), {QStringLiteral("TAPE CREATED ")});
  state_->SetProcessRunning(true);

  c.act(*frame_);

  const QString answer = QString::fromUtf8(c.answer);
  if (answer.isEmpty()) {
    QCOMPARE(prompts_->shown().size(), 0);
    return;
  }
  QCOMPARE(prompts_->shown().size(), 1);  // the refusal, and no dialog after it
  const auto shown = prompts_->Messages().value(0).message;
  QCOMPARE(shown.text, answer);
  QCOMPARE(shown.caption, kCaption);
  QCOMPARE(shown.icon, MessageIcon::Information);
  QCOMPARE(shown.buttons, MessageButtons::Ok);
  QCOMPARE(shown.owner, frame_);
  QVERIFY(frame_->isVisible());
  QVERIFY(state_->IsProcessRunning());
}

void CommandsTest::makerLinkOpensThePageEvenWhileRunning() {
  for (int running : {0, 1}) {
    prompts_->Clear();
    state_->SetProcessRunning(running);
    Click(*frame_, Command::MakerLink);
    QCOMPARE(prompts_->MessageTexts(), QStringList());
    QCOMPARE(prompts_->OpenedUrls(), QList<QUrl>{kMakerPage});
  }
  QCOMPARE(ButtonOf(*frame_, Command::MakerLink)->text(), kMakerPage.toString());
}

void CommandsTest::onlyStopIsDisabledAndOnlyWhileIdle() {
  for (int running : {0, 1, 0}) {
    state_->SetProcessRunning(running);
    for (Command command : kAllCommands) {
      const bool expected = command != Command::Stop || running == 1;
      QCOMPARE(frame_->CommandAction(command)->isEnabled(), expected);
      QCOMPARE(ButtonOf(*frame_, command)->isEnabled(), expected);
    }
  }
  // The flag stored without telling anyone is noticed all the same.
  state_->SetProcessRunning(true, /*announce=*/false);
  QTRY_VERIFY(frame_->CommandAction(Command::Stop)->isEnabled());
  state_->SetProcessRunning(false, /*announce=*/false);
  QTRY_VERIFY(!frame_->CommandAction(Command::Stop)->isEnabled());
}

void CommandsTest::stopFollowsTheFlagFromAnyThread() {
  std::thread worker([this] { state_->SetProcessRunning(true); });
  worker.join();
  QTRY_VERIFY(ButtonOf(*frame_, Command::Stop)->isEnabled());
  std::thread ender([this] { state_->SetProcessRunning(false); });
  ender.join();
  QTRY_VERIFY(!ButtonOf(*frame_, Command::Stop)->isEnabled());
}

void CommandsTest::searchNeedsACatalogueWithItems() {
  QFETCH(bool, catalogue);
  QFETCH(bool, item);
  if (catalogue) frame_->SetSession(std::make_unique<ostrel::RecoverySession>());
  if (item) new QTreeWidgetItem(frame_->Tree(), {QStringLiteral("TAPE CREATED ")});
  QPointer<QWidget> view = new QLabel(QStringLiteral("preview"));
  frame_->FileViewer()->SetCurrentView(view);

  Click(*frame_, Command::Search);

  QCOMPARE(prompts_->MessageTexts(), QStringList{QStringLiteral("Please select BKF file to recover data.")});
  QCOMPARE(prompts_->Messages().value(0).message.caption, kCaption);
  QVERIFY(view != nullptr);  // a refused search leaves the preview alone
}

void CommandsTest::searchClearsThePreviewAndShowsTheLog() {
  frame_->SetSession(std::make_unique<ostrel::RecoverySession>());
  new QTreeWidgetItem(frame_->Tree(), {QStringLiteral("TAPE CREATED ")});
  QPointer<QWidget> view = new QLabel(QStringLiteral("preview"));
  frame_->FileViewer()->SetCurrentView(view);
  frame_->OutputWnd()->ShowFileViewerTab();
  // The Search dialog then runs modally; this closes it once it is up.
  QString dialogTitle;
  bool viewGoneFirst = false;
  QTimer::singleShot(0, frame_, [&] {
    viewGoneFirst = view == nullptr && frame_->OutputWnd()->Tabs()->currentIndex() == 0;
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      dialogTitle = dialog->windowTitle();
      dialog->close();
    }
  });

  Click(*frame_, Command::Search);

  QCOMPARE(prompts_->shown().size(), 0);
  QVERIFY(viewGoneFirst);
  QCOMPARE(dialogTitle, QStringLiteral("Search file(s)"));
}

// Qt's main window offers a menu for hiding panes on a right click; the panes
// here can never be hidden, and neither pane nor log has a menu of its own.
void CommandsTest::keyboardReachesTheCommands() {
  frame_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(frame_));
  // Each key runs its command from anywhere in the window (here the file
  // list has the focus), and each tooltip names its key. While a process
  // runs, the commands answer with their refusals, and Esc asks to stop.
  const struct {
    Command command;
    QKeySequence key;
    const char* toolTip;
    const char* answer;
  } cases[] = {
      {Command::Open, QKeySequence(Qt::CTRL | Qt::Key_O), "Open BKF file (Ctrl+O)",
       "Please stop the running process to open the BKF file."},
      {Command::Save, QKeySequence(Qt::CTRL | Qt::Key_S), "Save recovered data (Ctrl+S)",
       "Please stop the running process to save the recovered files."},
      {Command::Search, QKeySequence(Qt::CTRL | Qt::Key_F), "Search file from the list (Ctrl+F)",
       "Please stop the running process to search the files."},
      {Command::Stop, QKeySequence(Qt::Key_Escape), "Stop running recovery process (Esc)",
       "Do you want to stop recovering file(s)?"},
  };
  frame_->List()->setFocus();
  state_->SetProcessRunning(true);
  for (const auto& c : cases) {
    prompts_->Clear();
    if (c.command == Command::Stop) prompts_->AnswerMessage(MessageAnswer::No);
    QCOMPARE(frame_->CommandAction(c.command)->toolTip(), QString::fromLatin1(c.toolTip));
    QTest::keySequence(frame_, c.key);
    QCOMPARE(prompts_->MessageTexts(), QStringList{QString::fromLatin1(c.answer)});
  }
  QVERIFY(state_->IsProcessRunning());  // Stop was answered No
  state_->SetProcessRunning(false);
  QCOMPARE(frame_->CommandAction(Command::Help)->shortcut(), QKeySequence(Qt::Key_F1));
  QVERIFY(frame_->CommandAction(Command::Help)->toolTip().endsWith(QStringLiteral("(F1)")));

  // Tab walks through the ribbon's buttons too, and Space runs the one that
  // has the focus.
  QList<QWidget*> reached;
  frame_->Tree()->setFocus();
  for (int i = 0; i < 40; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    reached << QApplication::focusWidget();
  }
  QToolButton* open = ButtonOf(*frame_, Command::Open);
  QVERIFY(reached.contains(open));
  for (Command c : {Command::Save, Command::Search, Command::LoadSnapshot, Command::About}) {
    QVERIFY(reached.contains(ButtonOf(*frame_, c)));
  }
  prompts_->Clear();
  prompts_->AnswerOpenFile(QString());  // the user cancels the file dialog
  open->setFocus();
  QTest::keyClick(open, Qt::Key_Space);
  QCOMPARE(prompts_->shown().size(), 1);
  QCOMPARE(prompts_->shown().first().kind, ScriptedPrompts::Kind::OpenFile);
}

void CommandsTest::applicationButtonOffersTheCommands() {
  QToolButton* button = frame_->Ribbon()->ApplicationButton();
  prompts_->AnswerMenu(QStringLiteral("About Korvane Ostrel BKF Repair"));
  bool aboutShown = false;
  prompts_->AnswerDialog([&](QDialog& d) {
    aboutShown = d.objectName() == QStringLiteral("AboutDialog");
    d.accept();
  });
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(prompts_->shown().first().menuActions,
           (QStringList{"Open BKF file", "Save recovered data", "Search file from the list", "Save log for BKF file.",
                        "Load Ostrel BKF Recovery Snapshot", "Save Ostrel BKF Recovery Snapshot",
                        "Help for Korvane Ostrel BKF Repair", "About Korvane Ostrel BKF Repair"}));
  QVERIFY(aboutShown);
  // A command chosen there refuses while a process runs, as from the ribbon.
  prompts_->Clear();
  state_->SetProcessRunning(true);
  prompts_->AnswerMenu(QStringLiteral("Open BKF file"));
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(prompts_->MessageTexts(), QStringList{"Please stop the running process to open the BKF file."});
  state_->SetProcessRunning(false);
}

void CommandsTest::commandsWhileRunning_data() {
  QTest::addColumn<int>("index");
  for (std::size_t i = 0; i < WhileRunningCases().size(); ++i) {
    QTest::newRow(WhileRunningCases()[i].name) << static_cast<int>(i);
  }
}

void CommandsTest::searchNeedsACatalogueWithItems_data() {
  QTest::addColumn<bool>("catalogue");
  QTest::addColumn<bool>("item");
  QTest::newRow("nothing scanned") << false << false;
  QTest::newRow("catalogue, empty tree") << true << false;
  QTest::newRow("tree item, no catalogue") << false << true;
}

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
