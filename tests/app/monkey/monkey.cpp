// The desktop program under random use. The real main window runs offscreen;
// every prompt is answered at random (Yes or No, Cancel, a path in the
// sandbox, a path nobody can write), and a seeded stream of plausible user
// actions drives it: Open on sound and damaged backups in both modes, Stop at
// any moment, the tree's check boxes, keys and renames, previews from the
// file list, the hex view's keys and address box, the Search and Save
// dialogs, snapshots (a damaged one too), the log, resizes.
//
// After every step it checks what must always hold: the event loop never
// stalls for more than 500 ms, the preview folder holds at most the current
// preview, the backups given to the program are unchanged, and nothing is
// written outside the sandbox's destinations. A failure prints the seed, the
// step count and the last 50 actions; `--replay SEED --steps N` repeats the
// same actions in the same order (work on other threads may end at other
// moments).
//
//   app_monkey [--seconds S | --steps N] [--seed SEED | --replay SEED] [--verbose]
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>
#include <deque>
#include <functional>
#include <random>

#include <sys/mman.h>
#include <unistd.h>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/preview_job.h"
#include "app/save_dialog.h"
#include "app/prompts.h"
#include "preview/browser_view.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "reader/extract.h"
#include "reader/recovery_session.h"
#include "tests/app/gui_test_env.h"
#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/streams.h"
#include "widgets/check_tree.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

using ostrel::app::Command;
using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;

constexpr qint64 kStallLimitMs = 500;

// The run's randomness: one generator, seeded once.
class Dice {
 public:
  explicit Dice(std::uint64_t seed) : engine_(seed) {}
  int Below(int n) { return n <= 1 ? 0 : static_cast<int>(engine_() % static_cast<std::uint64_t>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const QList<T>& list) { return list.at(Below(static_cast<int>(list.size()))); }

 private:
  std::mt19937_64 engine_;
};

// The last actions, for the report of a failure.
std::deque<std::string> g_actions;
std::uint64_t g_seed = 0;
long g_step = 0;
bool g_verbose = false;

void Note(const QString& action) {
  g_actions.push_back(QStringLiteral("%1: %2").arg(g_step).arg(action).toStdString());
  if (g_actions.size() > 50) g_actions.pop_front();
  if (g_verbose) std::fprintf(stderr, "%s\n", g_actions.back().c_str());
}

void Report() {
  std::fprintf(stderr, "monkey: seed %llu, %ld steps; the last actions:\n", static_cast<unsigned long long>(g_seed),
               g_step);
  for (const std::string& action : g_actions) std::fprintf(stderr, "  %s\n", action.c_str());
  std::fprintf(stderr, "replay: app_monkey --replay %llu --steps %ld\n", static_cast<unsigned long long>(g_seed),
               g_step + 1);
}

[[noreturn]] void Fail(const QString& why) {
  std::fprintf(stderr, "monkey: FAILED: %s\n", qPrintable(why));
  Report();
  std::fflush(stderr);
  std::_Exit(1);
}

QString Sha(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("(unreadable)");
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return QString::fromLatin1(hash.result().toHex());
}

bool Write(const QString& path, const std::vector<std::uint8_t>& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) &&
         file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
}

std::vector<std::uint8_t> FixtureBytes(const QString& name) {
  QFile file(QStringLiteral(OSTREL_TEST_FIXTURES_DIR "/") + name);
  if (!file.open(QIODevice::ReadOnly)) Fail(QStringLiteral("missing fixture ") + name);
  const QByteArray bytes = file.readAll();
  return {bytes.begin(), bytes.end()};
}

// A backup with one file of each kind the preview tells apart, compressed
// data, long names and a deep tree.
MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"Monkey tape");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.File(u"Photo.jpg", {Stan(FixtureBytes("images/sample.jpg"))});
  w.File(u"Banner.gif", {Stan(FixtureBytes("images/sample.gif"))});
  w.File(u"Backup.zip", {Stan(FixtureBytes("archives/sample.zip"))});
  w.File(u"song.mp3", {Stan(FixtureBytes("media/song.mp3"))});
  w.File(u"index.html", {Stan("<html><head><title>Page</title></head><body>A page</body></html>")});
  w.File(u"notes.txt", {Stan("notes\r\nmore notes\r\n")});
  w.File(u"mail.eml", {Stan("Subject: hello")});
  w.File(u"data.bin", {Stan(70000, 3)});
  const std::vector<std::uint8_t> text = ostrel::fixtures::Text(std::string(50000, 'a') + "compressible");
  w.File(u"packed.txt", {Stan(ostrel::fixtures::CompressFrames(text))});
  w.File(std::u16string(200, u'L') + u".txt", {Stan("a long name")});
  w.File(u"odd \u00e9\u4e2d name.txt", {Stan("odd name")});
  std::u16string deep = u"d";
  for (int level = 0; level < 40; ++level) {
    w.Dirb(deep);
    w.File(u"level.txt", {Stan("level")});
    deep += u"\\d";
  }
  w.Sset(2, u"Weekly");
  w.Volb(u"D:");
  w.Dirb(u"Docs");
  w.File(u"report.htm", {Stan("<title>Report</title>report")});
  w.File(u"empty.txt", {Stan(std::vector<std::uint8_t>{})});
  return w;
}

// Answers every prompt at random, within the sandbox or at a path nobody can
// write; records the destinations it hands out.
class RandomPrompts : public ostrel::app::Prompts {
 public:
  RandomPrompts(Dice& dice, QString sandbox, QStringList inputs)
      : dice_(dice), sandbox_(std::move(sandbox)), inputs_(std::move(inputs)) {}

  ostrel::app::MessageAnswer ShowMessage(const ostrel::app::MessageRequest& request) override {
    using ostrel::app::MessageAnswer;
    using ostrel::app::MessageButtons;
    QList<MessageAnswer> answers;
    switch (request.buttons) {
      case MessageButtons::Ok: answers = {MessageAnswer::Ok}; break;
      case MessageButtons::OkCancel: answers = {MessageAnswer::Ok, MessageAnswer::Cancel}; break;
      case MessageButtons::YesNo: answers = {MessageAnswer::Yes, MessageAnswer::No}; break;
      case MessageButtons::YesNoCancel:
        answers = {MessageAnswer::Yes, MessageAnswer::No, MessageAnswer::Cancel};
        break;
    }
    const MessageAnswer answer = dice_.Pick(answers);
    Note(QStringLiteral("  message \"%1\" -> %2").arg(request.text.left(60)).arg(int(answer)));
    return answer;
  }
  QString GetSaveFileName(const ostrel::app::FileDialogRequest& request) override {
    QString path;
    const int roll = dice_.Below(10);
    if (roll < 6) {
      path = Destination() + QStringLiteral("/saved-%1").arg(dice_.Below(4));
      if (!request.defaultSuffix.isEmpty()) path += '.' + request.defaultSuffix;
    } else if (roll < 8) {
      path = Unwritable() + QStringLiteral("/saved");
    }
    Note(QStringLiteral("  save file -> \"%1\"").arg(path));
    return path;
  }
  QString GetOpenFileName(const ostrel::app::FileDialogRequest& request) override {
    // Mostly what the dialog's filter shows; now and then anything.
    const bool backups = request.filters.join(' ').contains(QStringLiteral("bkf"), Qt::CaseInsensitive);
    QStringList shown;
    for (const QString& input : inputs_) {
      if (input.endsWith(QStringLiteral(".bkf")) == backups || dice_.Chance(10)) shown.append(input);
    }
    const QString path = dice_.Chance(90) && !shown.isEmpty() ? dice_.Pick(shown) : QString();
    Note(QStringLiteral("  open file -> \"%1\"").arg(path));
    return path;
  }
  QString GetFolder(const ostrel::app::FolderDialogRequest&) override {
    const int roll = dice_.Below(10);
    const QString path = roll < 6 ? Destination() : roll < 8 ? Unwritable() : QString();
    Note(QStringLiteral("  folder -> \"%1\"").arg(path));
    return path;
  }
  bool OpenUrl(const QUrl& url) override {
    Note(QStringLiteral("  open url %1").arg(url.toString()));
    return dice_.Chance(50);
  }
  QAction* ChooseFromMenu(QMenu* menu, const QPoint&) override {
    QList<QAction*> enabled;
    for (QAction* action : menu->actions()) {
      if (action->isEnabled() && !action->isSeparator()) enabled.append(action);
    }
    QAction* chosen = enabled.isEmpty() || dice_.Chance(20) ? nullptr : dice_.Pick(enabled);
    Note(QStringLiteral("  menu -> %1").arg(chosen != nullptr ? chosen->text() : QStringLiteral("(none)")));
    return chosen;
  }
  // The program's own modal dialogs: a few clicks, then OK or Cancel.
  int RunDialog(QDialog& dialog) override {
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
      if (button->isEnabled() && (qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button))) {
        buttons.append(button);
      }
    }
    for (int clicks = dice_.Below(3); clicks > 0 && !buttons.isEmpty(); --clicks) dice_.Pick(buttons)->click();
    const int result = dice_.Chance(75) ? QDialog::Accepted : QDialog::Rejected;
    Note(QStringLiteral("  dialog \"%1\" -> %2").arg(dialog.windowTitle()).arg(result));
    return result;
  }

  // Everything the program was told it may write to.
  const QString& Sandbox() const { return sandbox_; }

 private:
  QString Destination() {
    const QString path = sandbox_ + QStringLiteral("/out/%1").arg(dice_.Below(3));
    QDir().mkpath(path);
    return path;
  }
  static QString Unwritable() { return QStringLiteral("/proc/ostrel-monkey"); }

  Dice& dice_;
  QString sandbox_;
  QStringList inputs_;
};

class Monkey : public QObject {
 public:
  Monkey(Dice& dice, ostrel::app::CMainFrame& frame, QString sandbox, QStringList inputs)
      : dice_(dice), frame_(frame), sandbox_(std::move(sandbox)), inputs_(std::move(inputs)) {
    for (const QString& input : inputs_) hashes_.insert(input, Sha(input));
    heartbeat_.setInterval(20);
    connect(&heartbeat_, &QTimer::timeout, this, [this] {
      const qint64 gap = beat_.restart();
      if (gap > worstGap_) worstGap_ = gap;
    });
    beat_.start();
    heartbeat_.start();
  }

  // Runs steps from the event loop until `done` says so, then closes what
  // is open and leaves the loop. Steps run from timers, so that they go on
  // inside a dialog's own loop: the next step is due before this one acts.
  void Start(std::function<bool()> done) {
    done_ = std::move(done);
    QTimer::singleShot(0, this, [this] { Step(); });
  }

 private:
  void Step() {
    if (worstGap_ > kStallLimitMs) Fail(QStringLiteral("the event loop stalled for %1 ms").arg(worstGap_));
    CheckPreviewFolder();
    const bool idle = !frame_.App().IsProcessRunning() && QApplication::activeModalWidget() == nullptr;
    if (!frame_.App().IsProcessRunning()) {
      LearnSession();
      CheckSavedFiles();
    }
    CheckSaveSelection(idle);
    if (done_()) {
      Finish();
      return;
    }
    ++g_step;
    worstGap_ = 0;
    beat_.restart();
    pause_ = dice_.Below(120);
    QTimer::singleShot(0, this, [this] { QTimer::singleShot(pause_, this, [this] { Step(); }); });
    if (QWidget* modal = QApplication::activeModalWidget()) {
      ActInDialog(modal);
    } else {
      ActInWindow();
    }
  }

  void Finish() {
    Note(QStringLiteral("end: close the dialogs"));
    if (QWidget* modal = QApplication::activeModalWidget()) {
      modal->close();
      QTimer::singleShot(50, this, [this] { Finish(); });
      return;
    }
    QCoreApplication::exit(0);
  }

 public:
  // The last save's files, once the work has stopped.
  void CheckSaves() {
    LearnSession();
    CheckSavedFiles();
  }
  int SavedFilesChecked() const { return static_cast<int>(checked_.size()); }
  int CatalogueContents() const { return static_cast<int>(contents_.size()); }

  // What is checked once more at the end: the inputs unchanged, nothing
  // written outside the destinations.
  void CheckFiles() {
    for (auto it = hashes_.cbegin(); it != hashes_.cend(); ++it) {
      if (Sha(it.key()) != it.value()) Fail(QStringLiteral("the backup %1 was changed").arg(it.key()));
    }
    const QStringList allowed = {"/in/", "/out/", "/tmp/", "/run/", "/config/"};
    QDirIterator files(sandbox_, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
      const QString path = files.next();
      const QString inside = path.mid(sandbox_.size());
      if (std::none_of(allowed.begin(), allowed.end(), [&](const QString& root) { return inside.startsWith(root); })) {
        Fail(QStringLiteral("a file was written outside the destinations: %1").arg(path));
      }
    }
  }

 private:
  void ActInWindow() {
    const int roll = dice_.Below(100);
    if (roll < 6) {
      Trigger(dice_.Chance(50) ? Command::Open : Command::Stop);
    } else if (roll < 12) {
      static const QList<Command> others = {Command::Save,         Command::Search, Command::Log,
                                            Command::LoadSnapshot, Command::SaveSnapshot, Command::About};
      Trigger(dice_.Pick(others));
    } else if (roll < 50) {
      ActOnTree();
    } else if (roll < 75) {
      ActOnList();
    } else if (roll < 88) {
      ActOnPreview();
    } else if (roll < 94) {
      const QSize size(600 + dice_.Below(900), 400 + dice_.Below(600));
      Note(QStringLiteral("resize to %1x%2").arg(size.width()).arg(size.height()));
      frame_.resize(size);
    } else {
      Note(QStringLiteral("wait"));
      pause_ += dice_.Below(400);
    }
  }

  void Trigger(ostrel::app::Command command) {
    QAction* action = frame_.CommandAction(command);
    Note(QStringLiteral("command %1").arg(action != nullptr ? action->text() : QString::number(int(command))));
    if (action != nullptr && action->isEnabled()) action->trigger();
  }

  void ActOnTree() {
    ostrel::widgets::CKorvaneCheckTree* tree = frame_.CheckTree();
    QList<QTreeWidgetItem*> items;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
      if (!(*it)->isHidden()) items.append(*it);
    }
    if (items.isEmpty()) return;
    // The deepest of three, so that the files below the sets are reached.
    QTreeWidgetItem* item = dice_.Pick(items);
    for (int more = 0; more < 2; ++more) {
      QTreeWidgetItem* other = dice_.Pick(items);
      if (Depth(other) > Depth(item)) item = other;
    }
    tree->scrollToItem(item);
    const QRect rect = tree->visualItemRect(item);
    const int roll = dice_.Below(10);
    if (roll < 4) {
      Note(QStringLiteral("tree: click \"%1\"").arg(item->text(0).left(40)));
      navigated_ = true;
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
      if (dice_.Chance(60)) QTest::keyClick(tree, Qt::Key_Right);  // and open it
    } else if (roll < 5) {
      Note(QStringLiteral("tree: check box of \"%1\"").arg(item->text(0).left(40)));
      tree->setCurrentItem(item);
      QTest::keyClick(tree, Qt::Key_Space);
    } else if (roll < 8) {
      static const QList<int> keys = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up,   Qt::Key_Down,
                                      Qt::Key_Plus, Qt::Key_Minus, Qt::Key_Asterisk, Qt::Key_Home, Qt::Key_End};
      const int key = dice_.Pick(keys);
      const bool keypad = dice_.Chance(50);
      Note(QStringLiteral("tree: key %1%2").arg(key, 0, 16).arg(keypad ? " (keypad)" : ""));
      navigated_ = true;
      QTest::keyClick(tree, static_cast<Qt::Key>(key), keypad ? Qt::KeypadModifier : Qt::NoModifier);
    } else {
      static const QList<QString> names = {"renamed", "", "a/b", "..", "con:", QString(300, 'x'),
                                           QString::fromUtf8("\u00e9\u4e2d\U0001F600"), " spaced "};
      const QString name = dice_.Pick(names);
      Note(QStringLiteral("tree: rename \"%1\" to \"%2\"").arg(item->text(0).left(40), name.left(40)));
      tree->setCurrentItem(item);
      QTest::keyClick(tree, Qt::Key_F2);
      if (auto* editor = tree->findChild<QLineEdit*>(); editor != nullptr && editor->isVisible()) {
        editor->setText(name);
        QTest::keyClick(editor, dice_.Chance(80) ? Qt::Key_Return : Qt::Key_Escape);
      }
    }
  }

  static int Depth(const QTreeWidgetItem* item) {
    int depth = 0;
    for (; item->parent() != nullptr; item = item->parent()) ++depth;
    return depth;
  }

  void ActOnList() {
    navigated_ = true;
    QTableView* list = frame_.List();
    const int rows = list->model()->rowCount();
    if (rows == 0) return;
    if (dice_.Chance(60)) {
      const int row = dice_.Below(rows);
      const QModelIndex index = list->model()->index(row, 0);
      list->scrollTo(index);
      Note(QStringLiteral("list: click row %1 \"%2\"").arg(row).arg(index.data().toString().left(40)));
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    } else {
      static const QList<int> keys = {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_Home,
                                      Qt::Key_End};
      const int key = dice_.Pick(keys);
      Note(QStringLiteral("list: key %1").arg(key, 0, 16));
      list->setFocus();
      QTest::keyClick(list, static_cast<Qt::Key>(key));
    }
  }

  // The preview pane's current view: keys, clicks, the hex view's address box.
  void ActOnPreview() {
    QWidget* view = frame_.FileViewer()->CurrentView();
    if (view == nullptr) return;
    QWidget* target = view->focusProxy() != nullptr ? view->focusProxy() : view;
    const int roll = dice_.Below(10);
    if (roll < 6) {
      static const QList<int> keys = {Qt::Key_Down, Qt::Key_Up,   Qt::Key_Left,     Qt::Key_Right,
                                      Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_Home, Qt::Key_End};
      const int key = dice_.Pick(keys);
      const bool control = dice_.Chance(30);
      Note(QStringLiteral("preview %1: key %2%3").arg(view->metaObject()->className()).arg(key, 0, 16)
               .arg(control ? " +Ctrl" : ""));
      for (int repeat = dice_.Chance(20) ? 20 : 1; repeat > 0; --repeat) {
        QTest::keyClick(target, static_cast<Qt::Key>(key), control ? Qt::ControlModifier : Qt::NoModifier);
      }
    } else if (roll < 8) {
      const QPoint at(dice_.Below(qMax(1, view->width())), dice_.Below(qMax(1, view->height())));
      Note(QStringLiteral("preview %1: double click at %2,%3").arg(view->metaObject()->className()).arg(at.x())
               .arg(at.y()));
      QTest::mouseDClick(target, Qt::LeftButton, {}, at);
      if (auto* box = view->findChild<QLineEdit*>(); box != nullptr && box->isVisible()) {
        static const QList<QString> addresses = {"0", "10", "ffff", "zz", "99999999999", ""};
        const QString address = dice_.Pick(addresses);
        Note(QStringLiteral("  address \"%1\"").arg(address));
        box->setText(address);
        QTest::keyClick(box, dice_.Chance(70) ? Qt::Key_Return : Qt::Key_Escape);
      }
    } else {
      Note(QStringLiteral("preview %1: right click").arg(view->metaObject()->className()));
      QTest::mouseClick(target, Qt::RightButton, {}, QPoint(5, 5));
    }
  }

  // A modal dialog of the program's (Save, Search): type, click, or close.
  void ActInDialog(QWidget* dialog) {
    const int roll = dice_.Below(10);
    QList<QLineEdit*> edits;
    for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
      if (edit->isVisible() && edit->isEnabled() && !edit->isReadOnly()) edits.append(edit);
    }
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
      if (button->isVisible() && button->isEnabled()) buttons.append(button);
    }
    if (roll < 3 && !edits.isEmpty()) {
      static const QList<QString> texts = {"*",   "*.txt", "?o*", "level.txt", "[", "",
                                           QString(300, '*'), QString::fromUtf8("\u00e9*"), "/proc/ostrel-monkey"};
      QLineEdit* edit = dice_.Pick(edits);
      // A destination in the sandbox half the time, so that saves happen.
      const QString text = dice_.Chance(50) ? sandbox_ + QStringLiteral("/out/%1").arg(dice_.Below(3)) : dice_.Pick(texts);
      Note(QStringLiteral("dialog \"%1\": type \"%2\" into %3").arg(dialog->windowTitle(), text.left(40),
                                                                   edit->objectName()));
      edit->setText(text);
    } else if (roll < 8 && !buttons.isEmpty()) {
      QAbstractButton* button = dice_.Pick(buttons);
      Note(QStringLiteral("dialog \"%1\": click \"%2\"").arg(dialog->windowTitle(), button->text()));
      button->click();
    } else if (roll < 9) {
      Note(QStringLiteral("dialog \"%1\": Escape").arg(dialog->windowTitle()));
      QTest::keyClick(dialog, Qt::Key_Escape);
    } else {
      Note(QStringLiteral("dialog \"%1\": wait").arg(dialog->windowTitle()));
      pause_ += dice_.Below(300);
    }
  }

  // Moving about the tree (selecting, opening and closing folders, which
  // fills them) and previewing never change which files Save would save:
  // a folder filled late shows its files with the marks Save gave them.
  void CheckSaveSelection(bool idle) {
    const ostrel::RecoverySession* session = frame_.Session();
    if (idle && navigated_ && session != nullptr && session == selectionSession_) {
      const std::vector<std::uint64_t> now = ostrel::app::CheckedFilesToSave(*frame_.CheckTree(), session->catalogue);
      if (now != selection_) {
        Fail(QStringLiteral("moving about changed what Save would save: %1 files before, %2 after")
                 .arg(selection_.size())
                 .arg(now.size()));
      }
    }
    navigated_ = false;
    selectionSession_ = nullptr;
    if (idle && session != nullptr) {
      selection_ = ostrel::app::CheckedFilesToSave(*frame_.CheckTree(), session->catalogue);
      selectionSession_ = session;
    }
  }

  // The bytes of every file of each catalogue the window has had: what a
  // saved file may hold.
  void LearnSession() {
    const ostrel::RecoverySession* session = frame_.Session();
    if (session == nullptr || (session == lastSession_ && session->catalogue.FileCount() == lastCount_)) return;
    lastSession_ = session;
    lastCount_ = session->catalogue.FileCount();
    const int fd = ::memfd_create("monkey", MFD_CLOEXEC);
    if (fd < 0) Fail(QStringLiteral("memfd_create failed"));
    ostrel::StopToken stop;
    for (std::uint64_t i = 0; i < session->catalogue.FileCount(); ++i) {
      if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) Fail(QStringLiteral("memfd reset failed"));
      ostrel::ExtractFileData(session->catalogue.FileAt(i), session->file, fd, std::nullopt, stop);
      QFile copy;
      if (!copy.open(::dup(fd), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) continue;
      copy.seek(0);
      QCryptographicHash hash(QCryptographicHash::Sha256);
      hash.addData(&copy);
      contents_.insert(QString::fromLatin1(hash.result().toHex()));
    }
    ::close(fd);
  }

  // Every file a save wrote (in out/, not the snapshots and logs the
  // prompts named "saved-N") holds what the backup gives for some file:
  // nothing cut short, nothing left from a stopped or failed copy.
  void CheckSavedFiles() {
    QDirIterator files(sandbox_ + "/out", QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
      const QString path = files.next();
      if (files.fileName().startsWith(QStringLiteral("saved-"))) continue;
      const QFileInfo info = files.fileInfo();
      const QString stamp = QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
      if (checked_.value(path) == stamp) continue;
      checked_.insert(path, stamp);
      if (!contents_.contains(Sha(path))) {
        Fail(QStringLiteral("the saved file %1 (%2 bytes) holds what no catalogued file does").arg(path).arg(info.size()));
      }
    }
  }

  // Between previews the folder holds the current one only: the copy, and
  // for a page-shown type the page.
  void CheckPreviewFolder() {
    if (frame_.PreviewWork().IsWorking()) return;
    const QStringList files =
        QDir(ostrel::preview::GetTempFolderPath()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    const bool fine = files.size() <= 1 || (files.size() == 2 && files.contains(QStringLiteral("bkTmp.htm")));
    if (!fine) Fail(QStringLiteral("the preview folder holds %1").arg(files.join(QStringLiteral(", "))));
  }

  Dice& dice_;
  ostrel::app::CMainFrame& frame_;
  QString sandbox_;
  QStringList inputs_;
  QHash<QString, QString> hashes_;
  QTimer heartbeat_;
  QElapsedTimer beat_;
  qint64 worstGap_ = 0;
  int pause_ = 0;
  std::function<bool()> done_;
  const ostrel::RecoverySession* lastSession_ = nullptr;
  std::uint64_t lastCount_ = 0;
  QSet<QString> contents_;
  bool navigated_ = false;
  const ostrel::RecoverySession* selectionSession_ = nullptr;
  std::vector<std::uint64_t> selection_;
  QHash<QString, QString> checked_;
};

}  // namespace

int main(int argc, char** argv) {
  // The offscreen platform's complaints drown the report; --verbose keeps them.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (g_verbose || type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
  });
  ostrel::testing::PrivateEnvironment environment;  // TMPDIR, XDG_RUNTIME_DIR, settings: all inside
  ostrel::preview::AllowBrowserAsRoot();
  QApplication application(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption secondsOption("seconds", "Run for this long.", "S", "60");
  const QCommandLineOption stepsOption("steps", "Run this many steps (instead of a time).", "N");
  const QCommandLineOption seedOption("seed", "The seed (default: from the clock).", "SEED");
  const QCommandLineOption replayOption("replay", "Repeat the run of this seed.", "SEED");
  const QCommandLineOption verboseOption("verbose", "Print every action.");
  parser.addOptions({secondsOption, stepsOption, seedOption, replayOption, verboseOption});
  parser.addHelpOption();
  parser.process(application);

  g_verbose = parser.isSet(verboseOption);
  g_seed = parser.isSet(replayOption) ? parser.value(replayOption).toULongLong()
           : parser.isSet(seedOption) ? parser.value(seedOption).toULongLong()
                                      : static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
  const long steps = parser.isSet(stepsOption) ? parser.value(stepsOption).toLong() : -1;
  const qint64 limitMs = parser.value(secondsOption).toLongLong() * 1000;
  std::fprintf(stderr, "monkey: seed %llu\n", static_cast<unsigned long long>(g_seed));
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(&Report);
#endif

  // The sandbox: the backups in in/, destinations in out/, the program's
  // temporary and settings folders beside them (the environment's).
  const QString sandbox = environment.Path();
  QDir().mkpath(sandbox + "/in");
  QDir().mkpath(sandbox + "/out");
  QDir::setCurrent(sandbox + "/in");
  const std::vector<std::uint8_t> sound = Backup().Bytes();
  std::vector<std::uint8_t> damaged = sound;
  for (std::size_t at = 512; at < damaged.size(); at += 4099) damaged[at] ^= 0x5A;
  std::vector<std::uint8_t> cut(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(sound.size() / 2));
  std::vector<std::uint8_t> notSnapshot(4096);
  for (std::size_t i = 0; i < notSnapshot.size(); ++i) notSnapshot[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const QStringList inputs = {sandbox + "/in/sound.bkf", sandbox + "/in/damaged.bkf", sandbox + "/in/cut.bkf",
                              sandbox + "/in/damaged.KVSNAPSHOT"};
  if (!Write(inputs[0], sound) || !Write(inputs[1], damaged) || !Write(inputs[2], cut) ||
      !Write(inputs[3], notSnapshot)) {
    Fail(QStringLiteral("cannot write the inputs"));
  }
  // Snapshots the program saves go to out/ and can be loaded again from there.
  QStringList openable = inputs;
  for (int i = 0; i < 4; ++i) openable << sandbox + QStringLiteral("/out/%1/saved-%2.KVSNAPSHOT").arg(i % 3).arg(i);

  Dice dice(g_seed);
  RandomPrompts prompts(dice, sandbox, openable);
  ostrel::app::CKorvaneBKFFileRepProjApp state(prompts);
  auto frame = std::make_unique<ostrel::app::CMainFrame>(state);
  frame->resize(1100, 760);
  frame->show();
  if (!QTest::qWaitForWindowExposed(frame.get())) Fail(QStringLiteral("the window did not show"));

  // As the program does behind its splash picture: the browser's engine
  // starts before anything is done.
  ostrel::preview::StartBrowserEngine();
  QTest::qWait(1000);
  Monkey monkey(dice, *frame, sandbox, inputs);
  QElapsedTimer clock;
  clock.start();
  monkey.Start([&] { return steps >= 0 ? g_step >= steps : clock.elapsed() >= limitMs; });
  application.exec();

  // Stop whatever runs, close the window as the user would, and check again.
  Note(QStringLiteral("end: Stop and close"));
  if (QAction* stop = frame->CommandAction(Command::Stop); stop != nullptr && stop->isEnabled()) stop->trigger();
  if (!QTest::qWaitFor([&] { return !state.IsProcessRunning(); }, 20000)) Fail(QStringLiteral("Stop did not end the work"));
  monkey.CheckSaves();
  frame->close();
  frame.reset();
  monkey.CheckFiles();
  ostrel::preview::CleanTempFolder();
  std::fprintf(stderr, "monkey: seed %llu, %ld steps in %.1f s: clean (%d saved files checked against %d contents)\n",
               static_cast<unsigned long long>(g_seed), g_step, clock.elapsed() / 1000.0, monkey.SavedFilesChecked(),
               monkey.CatalogueContents());
  return 0;
}
