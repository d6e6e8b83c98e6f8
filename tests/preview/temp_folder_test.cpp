// The preview's temporary folder is private: made with mode 0700, checked
// after it is opened, and left for the per-user place whenever a folder of
// its name is another user's, a symbolic link, or open to others. Preview
// files are new files readable by the user alone, and the browser may load
// the regular files inside the folder and nothing else.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "preview/temp_folder.h"

using ostrel::preview::CleanTempFolder;
using ostrel::preview::CreatePreviewFile;
using ostrel::preview::GetTempFolderPath;
using ostrel::preview::IsFileInsideFolder;
using ostrel::preview::PrepareTempFolder;

namespace {

mode_t ModeOf(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

QStringList EntriesOf(const QString& path) {
  return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

}  // namespace

class TempFolderTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    QVERIFY(QDir().mkpath(Tmp()));
    QVERIFY(QDir().mkpath(Run()));
    QVERIFY(QFile::setPermissions(Run(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("TMPDIR", QFile::encodeName(Tmp()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Run()));
  }
  void cleanup() { root_.reset(); }

  void aFreePlaceBecomesAPrivateFolder() {
    QString reason;
    const QString folder = PrepareTempFolder(&reason);
    QCOMPARE(folder, Shared());
    QCOMPARE(GetTempFolderPath(), Shared());
    QCOMPARE(ModeOf(folder), mode_t(0700));

    const int fd = CreatePreviewFile(folder, QStringLiteral("boot.ini"), &reason);
    QVERIFY2(fd >= 0, qPrintable(reason));
    QCOMPARE(::write(fd, "x", 1), 1);
    ::close(fd);
    QCOMPARE(ModeOf(folder + QStringLiteral("/boot.ini")), mode_t(0600));
    // Never through an existing name.
    QCOMPARE(CreatePreviewFile(folder, QStringLiteral("boot.ini"), &reason), -1);
    QVERIFY(reason.contains(QStringLiteral("File exists")));

    CleanTempFolder();
    QVERIFY(!QFileInfo::exists(folder));
  }

  // In each case the shared place is unfit: the per-user place is used, and
  // nothing is written where another user can read it.
  void anUnfitPlaceIsLeftForThePerUserOne_data() {
    QTest::addColumn<int>("kind");  // 0 another user's, 1 a link, 2 ours but open to others
    QTest::newRow("another user's folder") << 0;
    QTest::newRow("a symbolic link") << 1;
    QTest::newRow("a mode-0777 folder of ours") << 2;
  }
  void anUnfitPlaceIsLeftForThePerUserOne() {
    QFETCH(int, kind);
    const QString elsewhere = root_->path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    const QByteArray shared = QFile::encodeName(Shared());
    if (kind == 0) {
      if (::geteuid() != 0) QSKIP("needs root to make a folder another user owns");
      QCOMPARE(::mkdir(shared.constData(), 0700), 0);
      QCOMPARE(::chown(shared.constData(), 65534, 65534), 0);
    } else if (kind == 1) {
      QCOMPARE(::symlink(QFile::encodeName(elsewhere).constData(), shared.constData()), 0);
    } else {
      QCOMPARE(::mkdir(shared.constData(), 0700), 0);
      QCOMPARE(::chmod(shared.constData(), 0777), 0);
    }

    QString reason;
    const QString folder = PrepareTempFolder(&reason);
    QCOMPARE(folder, Run() + QStringLiteral("/BKFTmpOstrelv4"));
    QCOMPARE(GetTempFolderPath(), folder);
    const int fd = CreatePreviewFile(folder, QStringLiteral("boot.ini"), &reason);
    QVERIFY2(fd >= 0, qPrintable(reason));
    ::close(fd);
    QVERIFY(EntriesOf(elsewhere).isEmpty());
    if (kind != 1) QVERIFY(EntriesOf(Shared()).isEmpty());
    // A preview file asked for in the unfit folder is refused.
    QCOMPARE(CreatePreviewFile(Shared(), QStringLiteral("x"), &reason), -1);
    QVERIFY(!reason.isEmpty());

    CleanTempFolder();
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(QFileInfo::exists(elsewhere));
    if (kind == 0) QVERIFY(QFileInfo::exists(Shared()));  // never touched
  }

  void noFitPlaceMeansNoFolderAndAReason() {
    const QString elsewhere = root_->path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    const QByteArray target = QFile::encodeName(elsewhere);
    QCOMPARE(::symlink(target.constData(), QFile::encodeName(Shared()).constData()), 0);
    QCOMPARE(::symlink(target.constData(), QFile::encodeName(Run() + QStringLiteral("/BKFTmpOstrelv4")).constData()), 0);
    QString reason;
    QCOMPARE(PrepareTempFolder(&reason), QString());
    QVERIFY2(reason.contains(QStringLiteral("BKFTmpOstrelv4")), qPrintable(reason));
    QVERIFY(EntriesOf(elsewhere).isEmpty());
  }

  void namesThatCouldEscapeAreRefused() {
    QString reason;
    const QString folder = PrepareTempFolder(&reason);
    QVERIFY(!folder.isEmpty());
    for (const QString& name : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b.txt"),
                                QStringLiteral("../up"), QString(256, QLatin1Char('n'))}) {
      QCOMPARE(CreatePreviewFile(folder, name, &reason), -1);
    }
    QVERIFY(EntriesOf(folder).isEmpty());
    QVERIFY(EntriesOf(root_->path()).contains(QStringLiteral("tmp")));
    QCOMPARE(EntriesOf(Tmp()), QStringList{QStringLiteral("BKFTmpOstrelv4")});
  }

  // What the browser may load. The folder "in" holds a file, a sub-folder, a
  // pipe and links; "inside" beside it shares the start of its name.
  void onlyRegularFilesInsideTheFolder_data() {
    QTest::addColumn<QString>("path");  // from the test's root
    QTest::addColumn<bool>("inside");
    QTest::newRow("a file") << "in/page.htm" << true;
    QTest::newRow("a file in a sub-folder") << "in/sub/frame.htm" << true;
    QTest::newRow("through \"..\" and back") << "in/sub/../page.htm" << true;
    QTest::newRow("a link to a file in the folder") << "in/near" << true;
    QTest::newRow("a link to a file outside") << "in/far" << false;
    QTest::newRow("a link to a folder outside") << "in/away/secret.txt" << false;
    QTest::newRow("up and out") << "in/../secret.txt" << false;
    QTest::newRow("a folder whose name starts alike") << "inside/page.htm" << false;
    QTest::newRow("the folder itself") << "in" << false;
    QTest::newRow("a sub-folder") << "in/sub" << false;
    QTest::newRow("a pipe") << "in/pipe" << false;
    QTest::newRow("a link to a device") << "in/null" << false;
    QTest::newRow("missing") << "in/gone.htm" << false;
    QTest::newRow("empty") << "" << false;
  }
  void onlyRegularFilesInsideTheFolder() {
    QFETCH(QString, path);
    QFETCH(bool, inside);
    const QString root = root_->path() + '/';
    QVERIFY(QDir().mkpath(root + "in/sub"));
    QVERIFY(QDir().mkpath(root + "inside"));
    for (const char* name : {"in/page.htm", "in/sub/frame.htm", "inside/page.htm", "secret.txt"}) {
      QFile file(root + name);
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(::mkfifo(QFile::encodeName(root + "in/pipe").constData(), 0600), 0);
    QVERIFY(QFile::link(root + "in/page.htm", root + "in/near"));
    QVERIFY(QFile::link(root + "secret.txt", root + "in/far"));
    QVERIFY(QFile::link(root, root + "in/away"));
    QVERIFY(QFile::link("/dev/null", root + "in/null"));

    QCOMPARE(IsFileInsideFolder(root + "in", path.isEmpty() ? QString() : root + path), inside);
    // The folder's own path may end in a separator or run through a link.
    QCOMPARE(IsFileInsideFolder(root + "in/", root + "in/page.htm"), true);
    QVERIFY(QFile::link(root + "in", root + "alias"));
    QCOMPARE(IsFileInsideFolder(root + "alias", root + "in/page.htm"), true);
    QCOMPARE(IsFileInsideFolder(QString(), root + "in/page.htm"), false);
  }

 private:
  QString Tmp() const { return root_->path() + QStringLiteral("/tmp"); }
  QString Run() const { return root_->path() + QStringLiteral("/run"); }
  QString Shared() const { return Tmp() + QStringLiteral("/BKFTmpOstrelv4"); }

  std::unique_ptr<QTemporaryDir> root_;
};

QTEST_MAIN(TempFolderTest)
#include "temp_folder_test.moc"
