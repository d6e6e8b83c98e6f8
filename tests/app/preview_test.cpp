// The temporary preview folder and the preview pane.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "tests/app/gui_test_env.h"
#include "tests/app/scripted_prompts.h"

using ostrel::preview::CKorvaneStaticFileViewer;
using ostrel::preview::CleanTempFolder;
using ostrel::preview::DeleteFolderContents;
using ostrel::preview::GetTempFolderPath;

namespace {

void Touch(const QString& path, const QByteArray& content = "data") {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

void Link(const QString& target, const QString& link) {
  QVERIFY(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0);
}

// Makes the entries of `folder` impossible to delete, or possible again: by
// taking away write permission, or for root (who ignores permissions) with the
// immutable attribute where the file system has one.
bool SetLocked(const QString& folder, bool locked) {
  const QByteArray path = QFile::encodeName(folder);
  if (::geteuid() != 0) return ::chmod(path.constData(), locked ? 0555 : 0755) == 0;
  const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

bool AllWhite(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) != qRgb(255, 255, 255)) return false;
    }
  }
  return true;
}

}  // namespace

class PreviewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();

  void tempFolderLivesUnderTheSystemTemporaryPath();
  void cleaningAMissingFolderDoesNothing();
  void cleaningRemovesNestedFoldersAndTheFolder();
  void linksInsideAreRemovedNeverFollowed();
  void aLinkInThePlaceOfTheFolderIsRemovedNotFollowed();
  void deleteFolderContentsKeepsTheFolder();
  void whatCannotBeDeletedStaysWithItsFolders();

  void emptyPaneIsWhite();
  void viewKeepsTheFullSizeOfThePane();
  void viewFollowsTheBottomPaneWhenItIsResized();
  void destroyCurrentViewAndTheDumpBuffer();

 private:
  QString Outside() const { return env_.Path() + QStringLiteral("/outside"); }

  ostrel::testing::PrivateEnvironment env_;
};

void PreviewTest::initTestCase() { QVERIFY(env_.IsValid()); }

void PreviewTest::init() {
  CleanTempFolder();
  QDir(Outside()).removeRecursively();
}

void PreviewTest::tempFolderLivesUnderTheSystemTemporaryPath() {
  QCOMPARE(GetTempFolderPath(), env_.Path() + QStringLiteral("/tmp/BKFTmpOstrelv4"));
}

void PreviewTest::cleaningAMissingFolderDoesNothing() {
  QVERIFY(!QFileInfo::exists(GetTempFolderPath()));
  CleanTempFolder();
  QVERIFY(!QFileInfo::exists(GetTempFolderPath()));
  QVERIFY(QFileInfo(QDir::tempPath()).isDir());
}

void PreviewTest::cleaningRemovesNestedFoldersAndTheFolder() {
  const QString temp = GetTempFolderPath();
  Touch(temp + QStringLiteral("/copy.doc"));
  Touch(temp + QStringLiteral("/bkTmp.htm"));
  Touch(temp + QStringLiteral("/a/b/c/deep.bin"));
  Touch(temp + QStringLiteral("/a/.hidden"));
  QVERIFY(QDir().mkpath(temp + QStringLiteral("/empty/also empty")));
  CleanTempFolder();
  QVERIFY(!QFileInfo::exists(temp));
}

void PreviewTest::linksInsideAreRemovedNeverFollowed() {
  const QString temp = GetTempFolderPath();
  Touch(Outside() + QStringLiteral("/precious/keep.txt"));
  Touch(Outside() + QStringLiteral("/single.txt"));
  QVERIFY(QDir().mkpath(temp + QStringLiteral("/sub")));
  Link(Outside() + QStringLiteral("/precious"), temp + QStringLiteral("/to-folder"));
  Link(Outside() + QStringLiteral("/single.txt"), temp + QStringLiteral("/sub/to-file"));
  Link(temp + QStringLiteral("/gone"), temp + QStringLiteral("/dangling"));

  CleanTempFolder();

  QVERIFY(!QFileInfo::exists(temp));
  QCOMPARE(QFileInfo(Outside() + QStringLiteral("/precious/keep.txt")).size(), 4);
  QCOMPARE(QFileInfo(Outside() + QStringLiteral("/single.txt")).size(), 4);
}

void PreviewTest::aLinkInThePlaceOfTheFolderIsRemovedNotFollowed() {
  // With a link in its place the folder in use moves to the per-user place;
  // the link is in the shared one.
  const QString shared = GetTempFolderPath();
  Touch(Outside() + QStringLiteral("/keep.txt"));
  Link(Outside(), shared);
  CleanTempFolder();
  QVERIFY(!QFileInfo(shared).isSymLink());
  QVERIFY(!QFileInfo::exists(shared));
  QVERIFY(QFileInfo::exists(Outside() + QStringLiteral("/keep.txt")));

  // Asked to empty a link, DeleteFolderContents leaves it and its target.
  Link(Outside(), shared);
  DeleteFolderContents(shared);
  QVERIFY(QFileInfo::exists(Outside() + QStringLiteral("/keep.txt")));
  QVERIFY(::unlink(QFile::encodeName(shared).constData()) == 0);
}

void PreviewTest::deleteFolderContentsKeepsTheFolder() {
  const QString folder = env_.Path() + QStringLiteral("/box");
  Touch(folder + QStringLiteral("/x/y.txt"));
  Touch(folder + QStringLiteral("/z.txt"));
  DeleteFolderContents(folder + QLatin1Char('/'));
  QVERIFY(QFileInfo(folder).isDir());
  QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void PreviewTest::whatCannotBeDeletedStaysWithItsFolders() {
  const QString temp = GetTempFolderPath();
  const QString locked = temp + QStringLiteral("/outer/locked");
  Touch(locked + QStringLiteral("/held.bin"));
  Touch(temp + QStringLiteral("/loose.txt"));
  if (!SetLocked(locked, true)) QSKIP("cannot make a file undeletable here");

  CleanTempFolder();

  const bool held = QFileInfo::exists(locked + QStringLiteral("/held.bin"));
  const bool looseGone = !QFileInfo::exists(temp + QStringLiteral("/loose.txt"));
  QVERIFY(SetLocked(locked, false));
  QVERIFY(held);
  QVERIFY(looseGone);
  CleanTempFolder();
  QVERIFY(!QFileInfo::exists(temp));
}

void PreviewTest::emptyPaneIsWhite() {
  CKorvaneStaticFileViewer pane;
  pane.resize(120, 80);
  QCOMPARE(pane.windowTitle(), QStringLiteral("Select file to see preview....."));
  QVERIFY(AllWhite(pane.grab().toImage()));  // its text is never drawn
}

void PreviewTest::viewKeepsTheFullSizeOfThePane() {
  CKorvaneStaticFileViewer pane;
  pane.resize(300, 200);
  pane.show();
  QPointer<QLabel> first = new QLabel(QStringLiteral("first"));
  pane.SetCurrentView(first);
  QCOMPARE(first->geometry(), QRect(0, 0, 300, 200));
  QVERIFY(first->isVisible());

  pane.resize(420, 90);
  QCOMPARE(first->geometry(), QRect(0, 0, 420, 90));

  QPointer<QLabel> second = new QLabel(QStringLiteral("second"));
  pane.SetCurrentView(second);  // one view at a time: the first one goes
  QVERIFY(first == nullptr);
  QCOMPARE(second->geometry(), QRect(0, 0, 420, 90));
  QCOMPARE(pane.CurrentViewAs<QLabel>(), second.data());
}

void PreviewTest::viewFollowsTheBottomPaneWhenItIsResized() {
  ostrel::testing::ScriptedPrompts prompts;
  ostrel::app::CKorvaneBKFFileRepProjApp state(prompts);
  ostrel::app::CMainFrame frame(state);
  frame.resize(1000, 700);
  frame.show();
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  frame.OutputWnd()->ShowFileViewerTab();
  CKorvaneStaticFileViewer* pane = frame.FileViewer();
  QPointer<QLabel> view = new QLabel(QStringLiteral("view"));
  pane->SetCurrentView(view);

  const int before = pane->height();
  frame.resizeDocks({frame.OutputWnd()}, {before + 150}, Qt::Vertical);
  QTRY_VERIFY(pane->height() > before);
  QCOMPARE(view->geometry(), pane->rect());
  QVERIFY(prompts.shown().isEmpty());
}

void PreviewTest::destroyCurrentViewAndTheDumpBuffer() {
  CKorvaneStaticFileViewer pane;
  pane.resize(64, 48);
  pane.DestroyCurrentView();  // nothing to destroy
  QVERIFY(pane.CurrentView() == nullptr);

  pane.SetDumpBuffer({0x4d, 0x54, 0x46});
  QPointer<QLabel> view = new QLabel(QStringLiteral("dump"));
  pane.SetCurrentView(view);
  pane.DestroyCurrentView();
  QVERIFY(view == nullptr);
  QVERIFY(pane.CurrentView() == nullptr);
  QCOMPARE(pane.DumpBuffer(), (std::vector<std::uint8_t>{0x4d, 0x54, 0x46}));
  QVERIFY(AllWhite(pane.grab().toImage()));
}

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
