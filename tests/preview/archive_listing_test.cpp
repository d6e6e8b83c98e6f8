// The archive listing as the preview pane's view: the list of an archive's
// entries with their types and icons, an empty archive's bare columns, and
// the hex dump for every archive that cannot be listed, with a note for the
// log when the archive library itself is missing. Sample archives from
// tests/fixtures/archives.
#include <QHeaderView>
#include <QtTest>

#include "preview/archive_listing.h"
#include "preview/dump_ctrl.h"
#include "preview/static_file_viewer.h"

using ostrel::preview::CArchiveListView;
using ostrel::preview::CKorvaneDumpCtrl;
using ostrel::preview::CKorvaneStaticFileViewer;
using ostrel::preview::kArchiveLibraryVariable;
using ostrel::preview::ShowArchiveListing;

namespace {

QString Sample(const QString& name) { return QStringLiteral(OSTREL_TEST_FIXTURES_DIR "/archives/") + name; }

QIcon Swatch(Qt::GlobalColor colour) {
  QPixmap pixmap(16, 16);
  pixmap.fill(colour);
  return QIcon(pixmap);
}

QRgb IconColour(const QVariant& decoration) {
  return decoration.value<QIcon>().pixmap(16, 16).toImage().pixel(8, 8);
}

// "name|type|icon colour" for each row.
QStringList Rows(const CArchiveListView& view) {
  QStringList rows;
  const QAbstractItemModel* model = view.model();
  for (int row = 0; row < model->rowCount(); ++row) {
    const QModelIndex name = model->index(row, 0);
    rows << name.data().toString() + QLatin1Char('|') + model->index(row, 1).data().toString() + QLatin1Char('|') +
                (IconColour(name.data(Qt::DecorationRole)) == QColor(Qt::blue).rgb() ? QStringLiteral("folder icon")
                                                                                     : QStringLiteral("file icon"));
  }
  return rows;
}

}  // namespace

class ArchiveListingTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    pane_ = std::make_unique<CKorvaneStaticFileViewer>();
    pane_->resize(640, 300);
    // Types and icons that show where they came from.
    pane_->SetShellFileTypes({[] { return Swatch(Qt::blue); }, [](const QString&) { return Swatch(Qt::red); },
                              [](const QString& name) { return QStringLiteral("type of ") + name; }});
  }
  void cleanup() {
    pane_.reset();
    qunsetenv(kArchiveLibraryVariable);
  }

  void theEntriesAreListedWithTypesAndIcons_data();
  void theEntriesAreListedWithTypesAndIcons();
  void theListLooksAsSpecified();
  void anEmptyArchiveKeepsItsColumns();
  void unreadableArchivesAreShownAsHex_data();
  void unreadableArchivesAreShownAsHex();
  void withoutTheLibraryTheNoteSaysWhy();

 private:
  std::unique_ptr<CKorvaneStaticFileViewer> pane_;
};

void ArchiveListingTest::theEntriesAreListedWithTypesAndIcons_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<QStringList>("rows");
  const QStringList tree{QStringLiteral("docs|Folder|folder icon"),
                         QStringLiteral("docs/readme.txt|type of docs/readme.txt|file icon"),
                         QStringLiteral("notes.txt|type of notes.txt|file icon")};
  QTest::newRow("zip with a folder") << "sample.zip" << tree;
  QTest::newRow("upper-case extension") << "BACKUP.ZIP" << tree;
  QTest::newRow("7z") << "sample.7z" << tree;
  // Without an is-directory value an entry counts as a folder.
  QTest::newRow("no is-directory value") << "sample.gzip" << QStringList{QStringLiteral("notes.txt|Folder|folder icon")};
}

void ArchiveListingTest::theEntriesAreListedWithTypesAndIcons() {
  QFETCH(QString, file);
  QFETCH(QStringList, rows);
  QString note;
  QCOMPARE(ShowArchiveListing(*pane_, Sample(file), &note), 1);
  auto* view = pane_->CurrentViewAs<CArchiveListView>();
  QVERIFY(view != nullptr);
  QCOMPARE(Rows(*view), rows);
  QVERIFY(note.isEmpty());
}

void ArchiveListingTest::theListLooksAsSpecified() {
  QCOMPARE(ShowArchiveListing(*pane_, Sample(QStringLiteral("sample.zip"))), 1);
  auto* view = pane_->CurrentViewAs<CArchiveListView>();
  QVERIFY(view != nullptr);
  QCOMPARE(view->geometry(), pane_->rect());
  const QAbstractItemModel* model = view->model();
  QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File Name"));
  QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("File Type"));
  QCOMPARE(view->horizontalHeader()->font(), pane_->HeaderFont());
  QCOMPARE(view->horizontalHeader()->defaultAlignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  QCOMPARE(view->columnWidth(0), 200);
  QCOMPARE(view->columnWidth(1), 200);
  QVERIFY(view->showGrid());
  QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
  QVERIFY(view->verticalHeader()->isHidden());
}

void ArchiveListingTest::anEmptyArchiveKeepsItsColumns() {
  QCOMPARE(ShowArchiveListing(*pane_, Sample(QStringLiteral("empty.zip"))), 1);
  auto* view = pane_->CurrentViewAs<CArchiveListView>();
  QVERIFY(view != nullptr);
  QCOMPARE(view->EntryCount(), 0);
  QCOMPARE(view->horizontalHeader()->count(), 2);
  QVERIFY(!view->horizontalHeader()->isHidden());
}

void ArchiveListingTest::unreadableArchivesAreShownAsHex_data() {
  QTest::addColumn<QString>("file");
  QTest::newRow("damaged zip") << "damaged.zip";
  QTest::newRow("encrypted names, no password") << "secret.7z";
  QTest::newRow("no archive format for the extension") << "README.md";
  QTest::newRow("a zip named as a tar") << "sample.zip.tar";
}

void ArchiveListingTest::unreadableArchivesAreShownAsHex() {
  QFETCH(QString, file);
  QString path = Sample(file);
  QTemporaryDir dir;
  if (file == QLatin1String("sample.zip.tar")) {
    path = dir.filePath(file);
    QVERIFY(QFile::copy(Sample(QStringLiteral("sample.zip")), path));
  }
  QString note;
  QCOMPARE(ShowArchiveListing(*pane_, path, &note), 0);
  auto* dump = pane_->CurrentViewAs<CKorvaneDumpCtrl>();
  QVERIFY(dump != nullptr);
  QCOMPARE(static_cast<qint64>(pane_->DumpBuffer().size()), QFileInfo(path).size());
  // Only a missing library is worth a line in the log.
  QVERIFY(note.isEmpty());
}

void ArchiveListingTest::withoutTheLibraryTheNoteSaysWhy() {
  const QByteArray absent = QFile::encodeName(QDir::currentPath() + QStringLiteral("/no-such-7z.so"));
  qputenv(kArchiveLibraryVariable, absent);
  QString note;
  QCOMPARE(ShowArchiveListing(*pane_, Sample(QStringLiteral("sample.zip")), &note), 0);
  QVERIFY(pane_->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
  QVERIFY2(note.startsWith(QStringLiteral("Archives are shown as a hex dump: the archive library ") +
                           QString::fromLocal8Bit(absent) + QStringLiteral(" cannot be loaded (")),
           qPrintable(note));
  QVERIFY(!note.contains(QLatin1Char('\n')));
}

QTEST_MAIN(ArchiveListingTest)
#include "archive_listing_test.moc"
