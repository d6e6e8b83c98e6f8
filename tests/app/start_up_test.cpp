// Around the main window's start: one instance per machine, the splash
// window's schedule on a fake clock, the About dialog's keys, and the Help
// command with and without its file.
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLockFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/splash_wnd.h"
#include "app/start_up.h"
#include "app/texts.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"

using ostrel::app::CKorvaneAboutDlg;
using ostrel::app::CKorvaneSplashWnd;
using ostrel::app::InstanceLock;

namespace {

const QString kHelpMissing =
    QStringLiteral("Korvane Ostrel BKF Repair help file not found, please re-install the software. ");

}  // namespace

class StartUpTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }

  void aSecondInstanceIsRefused() {
    QTemporaryDir folder;
    InstanceLock first(folder.path());
    QVERIFY(first.Acquire());
    QCOMPARE(QFileInfo(first.Path()).fileName(), ostrel::app::kInstanceLockName);
    // The same lock again, as a second start sees it while the first runs.
    InstanceLock second(folder.path());
    ostrel::testing::ScriptedPrompts prompts;
    QVERIFY(ostrel::app::RefuseSecondInstance(second, prompts));
    const auto shown = prompts.Messages();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().message.text, QStringLiteral("Another instance of application is already running"));
    QCOMPARE(shown.first().message.caption, ostrel::app::kAppCaption);
    QCOMPARE(shown.first().message.icon, ostrel::app::MessageIcon::Information);
    QVERIFY(shown.first().message.owner == nullptr);
  }

  void aLockLeftByACrashedRunDoesNotBlock() {
    // The lock file of a process that has ended (as after a crash), however
    // recent, with this program's name and this machine's.
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    QVERIFY(gone.waitForFinished());
    const qint64 deadPid = gone.processId() > 0 ? gone.processId() : 999999;
    QTemporaryDir folder;
    InstanceLock lock(folder.path());
    QFile stale(lock.Path());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(deadPid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' +
                QSysInfo::machineHostName().toUtf8() + '\n');
    stale.close();
    ostrel::testing::ScriptedPrompts prompts;
    QVERIFY(!ostrel::app::RefuseSecondInstance(lock, prompts));
    QVERIFY(prompts.shown().isEmpty());
  }

  void splashFollowsItsSchedule() {
    qint64 now = 0;
    QPointer<CKorvaneSplashWnd> splash = CKorvaneSplashWnd::Show(nullptr, QStringLiteral(":/artwork/splash.png"),
                                                                 [&now] { return now; });
    QVERIFY(splash);
    QSignalSpy finished(splash.data(), &CKorvaneSplashWnd::finished);
    QVERIFY(splash->isVisible());
    QVERIFY(splash->windowFlags() & Qt::WindowStaysOnTopHint);
    // Shaped by the picture: the magenta corner is cut out, the middle kept.
    QVERIFY(!splash->mask().contains(QPoint(0, 0)));
    QVERIFY(splash->mask().contains(splash->rect().center()));
    const struct {
      qint64 at;
      double opacity;
    } steps[] = {{0, 0.0}, {250, 0.5}, {500, 1.0}, {1500, 1.0}, {2499, 1.0}, {2600, 0.5}};
    for (const auto& step : steps) {
      now = step.at;
      splash->Tick();
      QVERIFY2(qAbs(splash->windowOpacity() - step.opacity) < 0.02, qPrintable(QString::number(step.at)));
      // Clicks and keys do not end it early.
      QTest::mouseClick(splash, Qt::LeftButton);
      QTest::keyClick(splash, Qt::Key_Escape);
      QVERIFY(splash->isVisible());
      QCOMPARE(finished.count(), 0);
    }
    now = 2700;
    splash->Tick();
    QCOMPARE(finished.count(), 1);
    QTRY_VERIFY(splash.isNull());  // it deletes itself
  }

  void noPictureNoSplash() {
    QVERIFY(CKorvaneSplashWnd::Show(nullptr, QStringLiteral(":/artwork/no-such-picture.png")) == nullptr);
  }

  void aboutClosesOnlyWithOk() {
    CKorvaneAboutDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!dialog.Picture()->pixmap().isNull());
    QCOMPARE(dialog.OkButton()->text(), QStringLiteral("OK"));
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(&dialog, key);
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.result(), 0);
    }
    // Dragged by a press anywhere on it.
    const QPoint before = dialog.pos();
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(20, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 50), dialog.mapToGlobal(QPointF(60, 50)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &move);
    QCOMPARE(dialog.pos(), before + QPoint(40, 30));
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(60, 50));
    // Space on the focused button, as a click.
    dialog.OkButton()->setFocus();
    QTest::keyClick(dialog.OkButton(), Qt::Key_Space);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
  }

  void helpAndAboutFromTheRibbon() {
    // Neither is refused while a process runs.
    ostrel::testing::FrameFixture fixture;
    fixture.SetUp();
    auto& prompts = fixture.prompts();
    fixture.state().SetProcessRunning(true);
    // No help file next to the test program: the message, with its blank.
    fixture.frame().CommandAction(ostrel::app::Command::Help)->trigger();
    QCOMPARE(prompts.MessageTexts(), QStringList{kHelpMissing});
    QCOMPARE(prompts.Messages().first().message.owner, &fixture.frame());
    prompts.Clear();
    bool sawAbout = false;
    prompts.AnswerDialog([&](QDialog& d) {
      sawAbout = qobject_cast<CKorvaneAboutDlg*>(&d) != nullptr;
      static_cast<CKorvaneAboutDlg&>(d).OkButton()->click();
    });
    fixture.frame().CommandAction(ostrel::app::Command::About)->trigger();
    QVERIFY(sawAbout);
    fixture.state().SetProcessRunning(false);
    fixture.TearDown();
  }

  void helpOpensTheFirstFileFound() {
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("bin"));
    const QString share = root.filePath(QStringLiteral("share/ostrel-bkf-repair"));
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(share));
    const QStringList candidates = ostrel::app::HelpFileCandidates(bin);
    QCOMPARE(candidates, (QStringList{bin + QLatin1Char('/') + ostrel::app::kHelpFileName,
                                      share + QLatin1Char('/') + ostrel::app::kHelpFileName}));
    // Installed: in the shared data folder; in a build: next to the program.
    for (const QString& path : {candidates.at(1), candidates.at(0)}) {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.close();
      ostrel::testing::ScriptedPrompts prompts;
      ostrel::app::ShowHelp(prompts, nullptr, bin);
      QCOMPARE(prompts.OpenedUrls(), QList<QUrl>{QUrl::fromLocalFile(path)});
      QVERIFY(prompts.MessageTexts().isEmpty());
    }
  }

 private:
  ostrel::testing::PrivateEnvironment env_;
};

QTEST_MAIN(StartUpTest)
#include "start_up_test.moc"
