// The main window itself: its close box, the settings it keeps, its panes'
// menus and focus; every prompt answered by the scripted fake.
#include <QContextMenuEvent>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

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
using ostrel::app::MessageAnswer;
using ostrel::app::MessageButtons;
using ostrel::app::MessageIcon;
using ostrel::testing::ScriptedPrompts;

namespace {

const QString kCaption = QStringLiteral("Korvane Ostrel BKF Repair v1.0");
const QUrl kMakerPage(QStringLiteral("https://ostrel-bkf-repair.example.org/"));

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }
  void init();
  void cleanup();

  void closeAnsweredNoKeepsEverything();
  void closeAnsweredYesFreesCleansOpensThePageAndCloses();
  void settingsKeepTheLookAndTheWindow();
  void panesOfferNoContextMenu();
  void treePaneHandsTheFocusToItsTree();

 private:
  ostrel::testing::PrivateEnvironment env_;
  ostrel::testing::FrameFixture fixture_;
  ScriptedPrompts* prompts_ = nullptr;
  CKorvaneBKFFileRepProjApp* state_ = nullptr;
  CMainFrame* frame_ = nullptr;
};

void WindowTest::init() {
  fixture_.SetUp();
  prompts_ = &fixture_.prompts();
  state_ = &fixture_.state();
  frame_ = &fixture_.frame();
}

void WindowTest::cleanup() { fixture_.TearDown(); }

void WindowTest::closeAnsweredNoKeepsEverything() {
  frame_->SetSession(std::make_unique<ostrel::RecoverySession>());
  const QString temp = ostrel::preview::GetTempFolderPath();
  QVERIFY(QDir().mkpath(temp));
  prompts_->AnswerMessage(MessageAnswer::No);

  QVERIFY(!frame_->close());

  QCOMPARE(prompts_->shown().size(), 1);
  const auto question = prompts_->Messages().value(0).message;
  QCOMPARE(question.text, QStringLiteral("Are you sure to close the application?"));
  QCOMPARE(question.caption, kCaption);
  QCOMPARE(question.icon, MessageIcon::Information);
  QCOMPARE(question.buttons, MessageButtons::YesNo);
  QVERIFY(frame_->isVisible());
  QVERIFY(frame_->HasCatalogue());
  QVERIFY(QFileInfo::exists(temp));
}

void WindowTest::closeAnsweredYesFreesCleansOpensThePageAndCloses() {
  frame_->SetSession(std::make_unique<ostrel::RecoverySession>());
  const QString temp = ostrel::preview::GetTempFolderPath();
  QVERIFY(QDir().mkpath(temp + QStringLiteral("/sub")));
  QFile copy(temp + QStringLiteral("/sub/preview.txt"));
  QVERIFY(copy.open(QIODevice::WriteOnly));
  copy.close();
  // The page opens last: by then the catalogue is gone and the folder too.
  bool scannerGoneFirst = false;
  bool folderGoneFirst = false;
  prompts_->onOpenUrl = [&](const QUrl&) {
    scannerGoneFirst = !frame_->HasCatalogue();
    folderGoneFirst = !QFileInfo::exists(temp);
  };
  prompts_->AnswerMessage(MessageAnswer::Yes);

  QVERIFY(frame_->close());

  QCOMPARE(prompts_->MessageTexts(), QStringList{QStringLiteral("Are you sure to close the application?")});
  QCOMPARE(prompts_->OpenedUrls(), QList<QUrl>{kMakerPage});
  QVERIFY(scannerGoneFirst);
  QVERIFY(folderGoneFirst);
  QVERIFY(!frame_->HasCatalogue());
  QVERIFY(!frame_->isVisible());
}

void WindowTest::settingsKeepTheLookAndTheWindow() {
  QSettings store(QStringLiteral("KorvaneHallorBKFRepv1.01"), QStringLiteral("Ostrel BKF Repair"));
  store.setValue(QStringLiteral("ApplicationLook"), 0);
  store.sync();
  frame_->resize(900, 640);
  prompts_->AnswerMessage(MessageAnswer::Yes);
  QVERIFY(frame_->close());

  fixture_.Restart();
  frame_ = &fixture_.frame();
  store.sync();
  QCOMPARE(store.value(QStringLiteral("ApplicationLook")).toInt(), 216);
  QCOMPARE(frame_->size(), QSize(900, 640));
}

void WindowTest::panesOfferNoContextMenu() {
  const QList<QWidget*> targets = {frame_,
                                   frame_->FileView(),
                                   frame_->OutputWnd(),
                                   frame_->OutputWnd()->LogList(),
                                   frame_->OutputWnd()->LogList()->viewport(),
                                   frame_->OutputWnd()->Tabs()->tabBar(),
                                   frame_->Ribbon(),
                                   frame_->StatusBar()};
  for (QWidget* target : targets) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), target->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(target, &event);
    QCoreApplication::processEvents();
    QVERIFY2(QApplication::activePopupWidget() == nullptr, qPrintable(target->objectName()));
  }
  QCOMPARE(frame_->FileView()->features(), QDockWidget::NoDockWidgetFeatures);
  QCOMPARE(frame_->OutputWnd()->features(), QDockWidget::NoDockWidgetFeatures);
}

void WindowTest::treePaneHandsTheFocusToItsTree() {
  frame_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(frame_));
  frame_->List()->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(frame_->List()));
  frame_->FileView()->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(frame_->Tree()));
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
