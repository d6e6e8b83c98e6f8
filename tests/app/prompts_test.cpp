// The real prompts: Qt's own dialogs, answered here by a "user" who reaches
// them through the application's active modal window.
#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/prompts.h"

using ostrel::app::FileDialogRequest;
using ostrel::app::MessageAnswer;
using ostrel::app::MessageButtons;
using ostrel::app::MessageIcon;
using ostrel::app::QtPrompts;

namespace {

// Runs `step` on each modal window as it comes up, in order: step i gets the
// i-th modal window the application shows.
class User : public QObject {
 public:
  explicit User(QList<std::function<void(QWidget*)>> steps) : steps_(std::move(steps)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }
  bool Finished() const { return steps_.isEmpty(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_ || steps_.isEmpty()) return;
    last_ = modal;
    steps_.takeFirst()(modal);
  }
  QList<std::function<void(QWidget*)>> steps_;
  QPointer<QWidget> last_;
  QTimer timer_;
};

void TypeAndAccept(QWidget* modal, const QString& name) {
  auto* dialog = qobject_cast<QFileDialog*>(modal);
  QVERIFY(dialog != nullptr);
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(edit != nullptr);
  edit->setText(name);
  QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
}

void Press(QWidget* modal, QMessageBox::StandardButton which) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  QVERIFY(box != nullptr);
  box->button(which)->click();
}

FileDialogRequest SaveLogRequest(const QString& folder) {
  FileDialogRequest request;
  request.filters = QStringList{QStringLiteral("Text Files (*.TXT)")};
  request.defaultSuffix = QStringLiteral("txt");
  request.initialName = folder + QStringLiteral("/Untitled");
  request.overwritePrompt = true;
  return request;
}

}  // namespace

class PromptsTest : public QObject {
  Q_OBJECT

 private slots:
  void messageBoxShowsCaptionTextIconAndAnswers();
  void aNameWithoutExtensionGetsTheDefaultOne();
  void anExistingFileIsReplacedOnlyAfterConfirmation();
};

void PromptsTest::messageBoxShowsCaptionTextIconAndAnswers() {
  QtPrompts prompts;
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  User user({[&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    caption = box->windowTitle();
    text = box->text();
    icon = box->icon();
    Press(modal, QMessageBox::Yes);
  }});
  const MessageAnswer answer =
      ostrel::app::Tell(prompts, nullptr, QStringLiteral("Do you want to stop recovering file(s)?"),
                        MessageIcon::Question, MessageButtons::YesNo);
  QCOMPARE(answer, MessageAnswer::Yes);
  QCOMPARE(caption, QStringLiteral("Korvane Ostrel BKF Repair v1.0"));
  QCOMPARE(text, QStringLiteral("Do you want to stop recovering file(s)?"));
  QCOMPARE(icon, QMessageBox::Question);
}

void PromptsTest::aNameWithoutExtensionGetsTheDefaultOne() {
  QTemporaryDir folder;
  QtPrompts prompts;
  User user({[&](QWidget* modal) { TypeAndAccept(modal, folder.path() + QStringLiteral("/report")); }});
  QCOMPARE(prompts.GetSaveFileName(SaveLogRequest(folder.path())), folder.path() + QStringLiteral("/report.txt"));
  QVERIFY(user.Finished());
}

void PromptsTest::anExistingFileIsReplacedOnlyAfterConfirmation() {
  QTemporaryDir folder;
  const QString existing = folder.path() + QStringLiteral("/report.txt");
  QFile file(existing);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();
  QtPrompts prompts;

  // "No" to replacing keeps the dialog open; cancelling it then chooses nothing.
  QPointer<QFileDialog> dialog;
  User refuses({[&](QWidget* modal) {
                  dialog = qobject_cast<QFileDialog*>(modal);
                  TypeAndAccept(modal, QStringLiteral("report"));
                },
                [&](QWidget* modal) {
                  Press(modal, QMessageBox::No);
                  QTimer::singleShot(50, dialog, [&] { dialog->reject(); });
                }});
  QCOMPARE(prompts.GetSaveFileName(SaveLogRequest(folder.path())), QString());
  QVERIFY(refuses.Finished());

  User agrees({[&](QWidget* modal) { TypeAndAccept(modal, QStringLiteral("report")); },
               [&](QWidget* modal) { Press(modal, QMessageBox::Yes); }});
  QCOMPARE(prompts.GetSaveFileName(SaveLogRequest(folder.path())), existing);
  QVERIFY(agrees.Finished());
}

QTEST_MAIN(PromptsTest)
#include "prompts_test.moc"
