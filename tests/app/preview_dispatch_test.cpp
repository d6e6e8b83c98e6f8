// The preview request from the file list to the view: which view each kind of
// file gets, the refusals and their messages, the copy in the temporary
// folder, and the tree following the list. Real backups from the MTF writer,
// scanned by the core, with real sample pictures.
//
// With OSTREL_SCREENSHOT_DIR set, the window is also drawn there with a text,
// a picture and an archive previewed (text-view.png, image-view.png,
// archive-view.png).
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTabWidget>
#if OSTREL_WEB_PREVIEW
#include <QWebEngineView>
#endif
#include <QtTest>
#include <memory>

#include "app/catalogue_items.h"
#include "app/file_list_model.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/preview_command.h"
#include "app/preview_job.h"
#include "app/shell_queries.h"
#include "preview/archive_listing.h"
#include "preview/archive_reader.h"
#include "preview/browser_view.h"
#include "preview/dump_ctrl.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/ntfs_image.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"
#include "widgets/check_tree.h"

using ostrel::app::MailPageName;
using ostrel::app::RefOf;
using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;
using ostrel::fixtures::StanWithLength;
using ostrel::fixtures::Stream;
using ostrel::fixtures::Text;
using ostrel::preview::CArchiveListView;
using ostrel::preview::CKorvaneDumpCtrl;
using ostrel::preview::CKorvaneStaticFileViewer;

namespace {

std::vector<std::uint8_t> Bytes(const QByteArray& data) { return {data.begin(), data.end()}; }

// `name` under tests/fixtures.
std::vector<std::uint8_t> Sample(const QString& name) {
  QFile file(QStringLiteral(OSTREL_TEST_FIXTURES_DIR "/") + name);
  return file.open(QIODevice::ReadOnly) ? Bytes(file.readAll()) : std::vector<std::uint8_t>{};
}

// A picture large enough to be seen in a screenshot.
std::vector<std::uint8_t> Painting() {
  QImage image(320, 200, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, 0, 200);
  sky.setColorAt(0, QColor(40, 60, 160));
  sky.setColorAt(1, QColor(250, 170, 90));
  painter.fillRect(image.rect(), sky);
  painter.setBrush(QColor(255, 220, 80));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QPoint(160, 150), 50, 50);
  painter.fillRect(0, 160, 320, 40, QColor(30, 40, 60));
  painter.end();
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return Bytes(png);
}

Stream Continued(std::vector<std::uint8_t> data) {
  Stream s = Stan(std::move(data));
  s.mediaAttributes = 1;
  return s;
}

// T \ SET 1 :Daily \ C: with one file of every kind the preview tells apart,
// a file split across media, and a folder.
MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"T");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.SetDate(w.File(u"Photo.JPG", {Stan(Sample(QStringLiteral("images/sample.jpg")))}),
            MtfWriter::PackDate(2009, 3, 14, 9, 15, 30));
  w.File(u"jpeg-inside.png", {Stan(Sample(QStringLiteral("images/sample.jpg")))});
  w.SetDate(w.File(u"Sunset.png", {Stan(Painting())}), MtfWriter::PackDate(2010, 8, 2, 19, 42, 5));
  w.File(u"not-a-picture.png", {Stan("plain words, no picture")});
  w.SetDate(w.File(u"Notes.TXT", {Stan(std::string("Notes in upper case\0after the zero", 34))}),
            MtfWriter::PackDate(2004, 1, 5, 8, 0, 0));
  w.File(u"Readme.txt", {Stan("Ostrel BKF Repair\r\n=================\r\n\r\nThe text view shows the start of a file, "
                              "up to 1 MiB,\r\nread-only, one character for each byte.\r\n")});
  w.SetDate(w.File(u"notes.txt", {Stan("notes in lower case")}), MtfWriter::PackDate(2011, 7, 22, 11, 32, 40));
  w.File(u"a/b.txt", {Stan("a name with a slash")});
  w.File(u"at 1:05 PM.txt", {Stan("a name Windows refuses")});
  w.SetDate(w.File(u"Inbox.dbx", {Stan("mail folder")}), MtfWriter::PackDate(2008, 11, 30, 23, 59, 59));
  w.File(u"index.html", {Stan("<html><head><title>Quarterly report</title></head><body style='font-family:"
                               "sans-serif'><h2>Quarterly report</h2><p>Sales rose in every region but one.</p>"
                               "<table border=1 cellpadding=4><tr><th>Region</th><th>Sales</th></tr><tr><td>"
                               "North</td><td>1,204</td></tr><tr><td>South</td><td>987</td></tr></table>"
                               "</body></html>")});
  w.SetDate(w.File(u"Banner.gif", {Stan(Sample(QStringLiteral("images/sample.gif")))}),
            MtfWriter::PackDate(2007, 6, 1, 12, 0, 0));
  w.File(u"broken.zip", {Stan("PK but not a zip")});
  w.SetDate(w.File(u"Backup.ZIP", {Stan(Sample(QStringLiteral("archives/sample.zip")))}),
            MtfWriter::PackDate(2012, 11, 19, 13, 5, 0));
  w.File(u"Report.FLV", {Stan("FLV\x01 video")});
  w.File(u"noext", {Stan("no extension")});
  w.File(u"trailing.", {Stan("trailing dot")});
  w.File(u"mail.eml", {Stan("Subject: hello")});
  w.File(u"MAIL.EML", {Stan("Subject: upper")});
  w.File(u"empty.txt", {Stan(std::vector<std::uint8_t>{})});
  w.File(u"continued.txt", {Continued(Text("the rest of a file"))});
  // A soft filemark where its next stream header should be: the stream
  // header (22 bytes) and the 8 bytes of data end 10 bytes before the
  // 4-aligned place of that header.
  const std::uint64_t split = w.File(u"split.txt", {Stan("abcdefgh")});
  w.Bare("SFMB", split + MtfWriter::FirstEventFor(2 * 9) + 22 + 10);
  w.SetDate(w.Dirb(u"Sub"), MtfWriter::PackDate(2009, 3, 14, 9, 10, 0));
  w.File(u"inside.txt", {Stan("inside")});
  return w;
}

// Sizes at the refusal threshold, and a file cut short by the end of the
// backup.
MtfWriter LargeBackup() {
  MtfWriter w;
  w.Tape(u"T");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.File(u"just-under.bin", {Stan(11534335, 7)});
  w.File(u"at-limit.bin", {Stan(11534336, 8)});
  w.File(u"cut.txt", {StanWithLength(std::vector<std::uint8_t>(3000, 'x'), 100000)});
  return w;
}

enum class View { Image, Text, Hex, Archive, Browser, Unchanged };

}  // namespace

Q_DECLARE_METATYPE(View)

class PreviewDispatchTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(env_.IsValid());
    backup_ = dir_.Write(Backup(), "kinds.bkf");
    large_ = dir_.Write(LargeBackup(), "large.bkf");
  }
  void init() { fixture_.SetUp(QSize(1100, 760)); }
  void cleanup() { fixture_.TearDown(); }

  void eachKindOfFileGetsItsView_data();
  void eachKindOfFileGetsItsView();
  void mailMessagesAreRenamedOnlyWhenNamedInLowerCase();
  void aTextAndAPictureInTheWindow();
  void anArchiveInTheWindow();
  void withoutTheArchiveLibraryArchivesAreHexAndTheLogSaysWhy();
  void aWebPageAndAPictureInTheBrowser();
  void withoutTheBrowserWebPagesAreHexAndTheLogSaysWhy();
  void aFolderRowMovesTheTreeOnly();
  void anEmptyFileLeavesTheViewAndAnEmptyCopy();
  void aSecondRequestWhileAMessageIsOpenIsRefused();
  void theSizeLimitsHold();
  void anIncompleteCopySaysSoInTheLog();
  void aStoppedCopyHoldsOffTheNextCommands();
  void aPreviewWaitsForARunningProcess();
  void aNameTheTemporaryFolderRefusesTakesItsPortableForm();

 private:
  void Load(const std::string& path) {
    auto& state = fixture_.state();
    state.SetProcessRunning(true);
    auto session = ostrel::fixtures::ScanSession(path);
    QVERIFY(session);
    Frame().SetSession(std::move(session));
    Frame().ShowCatalogueTopLevel();
    state.SetProcessRunning(false);
    // Down to the volume, selecting each level: the list shows the volume.
    QTreeWidgetItem* item = Frame().CheckTree()->topLevelItem(0);
    for (int depth = 0; depth < 3 && item != nullptr; ++depth) {
      emit state.messages().treeSelect(item, ostrel::widgets::kHitLabel);
      if (depth < 2) item = item->childCount() > 0 ? item->child(0) : nullptr;
    }
    QVERIFY(item != nullptr);
    QCOMPARE(item->text(0), QStringLiteral("C:"));
    volume_ = item;
  }
  int RowOf(const QString& name) {
    const auto* rows = Frame().List()->Rows();
    for (int i = 0; i < rows->rowCount(); ++i) {
      if (rows->Row(i).name == name) return i;
    }
    return -1;
  }
  // Asks for the preview of the row named `name` and waits for its end.
  bool Preview(const QString& name) {
    const int row = RowOf(name);
    if (row < 0) return false;
    emit fixture_.state().messages().listPreview(row);
    return QTest::qWaitFor([this] { return !fixture_.state().IsProcessRunning(); }, 20000);
  }
  // The browser (the hex dump in a build without one).
  bool ShowsWebView() {
#if OSTREL_WEB_PREVIEW
    return Pane()->CurrentViewAs<ostrel::preview::CKorvaneBrowserView>() != nullptr;
#else
    return Pane()->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr;
#endif
  }
  // A view that stands for "what the pane showed before", watched: once it is
  // deleted the pointer reads null, so that a new view made at its address
  // cannot pass for it.
  QPointer<QLabel> Before() {
    auto* before = new QLabel(QStringLiteral("shown before"));
    Pane()->SetCurrentView(before);
    return before;
  }
  QStringList TempFiles() const {
    return QDir(ostrel::preview::GetTempFolderPath()).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  }
  // The window with the row of `name` picked in the list and a taller pane;
  // `settleMs` for a view that draws on its own time (the browser).
  void Shoot(const QString& name, const QString& file, int settleMs = 0) {
    const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    Frame().resizeDocks({Frame().OutputWnd()}, {330}, Qt::Vertical);
    QCoreApplication::processEvents();
    Frame().List()->selectRow(RowOf(name));
    Frame().List()->scrollTo(Frame().List()->model()->index(RowOf(name), 0));
    QCoreApplication::processEvents();
    if (settleMs > 0) QTest::qWait(settleMs);
    QVERIFY(Frame().grab().save(dir + QLatin1Char('/') + file));
  }
  ostrel::app::CMainFrame& Frame() { return fixture_.frame(); }
  CKorvaneStaticFileViewer* Pane() { return Frame().FileViewer(); }

  ostrel::testing::PrivateEnvironment env_;
  ostrel::fixtures::TempDir dir_;
  ostrel::testing::FrameFixture fixture_;
  std::string backup_;
  std::string large_;
  QTreeWidgetItem* volume_ = nullptr;
};

void PreviewDispatchTest::eachKindOfFileGetsItsView_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<View>("view");
  QTest::addColumn<QString>("text");     // the text view's text
  QTest::addColumn<QString>("message");  // the message box, if any
  const QString none;
  QTest::newRow("image, upper-case extension") << "Photo.JPG" << View::Image << none << none;
  QTest::newRow("image by content, not by name") << "jpeg-inside.png" << View::Image << none << none;
  QTest::newRow("no picture under a picture's name") << "not-a-picture.png" << View::Hex << none << none;
  QTest::newRow("text, up to the zero byte") << "Notes.TXT" << View::Text << "Notes in upper case" << none;
  QTest::newRow("text, lower-case extension") << "notes.txt" << View::Text << "notes in lower case" << none;
  QTest::newRow("a name with a slash") << "a/b.txt" << View::Text << "a name with a slash" << none;
  QTest::newRow("mail folder") << "Inbox.dbx" << View::Hex << none << none;
  QTest::newRow("web page") << "index.html" << View::Browser << none << none;
  QTest::newRow("archive that cannot be read") << "broken.zip" << View::Hex << none << none;
  QTest::newRow("archive, upper-case extension") << "Backup.ZIP" << View::Archive << none << none;
  QTest::newRow("extension in no group") << "Report.FLV" << View::Hex << none << none;
  QTest::newRow("no extension") << "noext" << View::Hex << none << none;
  QTest::newRow("trailing dot") << "trailing." << View::Hex << none << none;
  QTest::newRow("continuation") << "continued.txt" << View::Unchanged << none
                                << ostrel::app::kPreviewContinuation;
  QTest::newRow("split") << "split.txt" << View::Unchanged << none << ostrel::app::kPreviewSplit;
}

void PreviewDispatchTest::eachKindOfFileGetsItsView() {
  QFETCH(QString, name);
  QFETCH(View, view);
  QFETCH(QString, text);
  QFETCH(QString, message);
  Load(backup_);
  const QPointer<QLabel> before = Before();
  QVERIFY(Preview(name));

  QCOMPARE(fixture_.prompts().MessageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
  fixture_.prompts().Clear();
  QVERIFY(!fixture_.state().IsProcessRunning());
  QVERIFY(!Pane()->IsLoading());
  // The tree follows the list to the file's own item.
  QTreeWidgetItem* current = Frame().CheckTree()->currentItem();
  QVERIFY(current != nullptr);
  QCOMPARE(current->text(0), name);
  QCOMPARE(Frame().CheckTree()->DropHighlight(), current);
  switch (view) {
    case View::Image: {
      auto* label = Pane()->CurrentViewAs<QLabel>();
      QVERIFY(label != nullptr && label != before.data());
      QCOMPARE(label->pixmap().size(), QSize(24, 16));
      break;
    }
    case View::Text: {
      auto* edit = Pane()->CurrentViewAs<QPlainTextEdit>();
      QVERIFY(edit != nullptr);
      QCOMPARE(edit->toPlainText(), text);
      QVERIFY(edit->isReadOnly());
      break;
    }
    case View::Hex:
      QVERIFY(Pane()->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
      break;
    case View::Archive:
      QVERIFY(Pane()->CurrentViewAs<CArchiveListView>() != nullptr);
      QCOMPARE(Pane()->CurrentViewAs<CArchiveListView>()->EntryCount(), 3);
      break;
    case View::Browser:
      QVERIFY(ShowsWebView());
      break;
    case View::Unchanged:
      QCOMPARE(Pane()->CurrentView(), static_cast<QWidget*>(before.data()));
      break;
  }
  // The "File Viewer" tab is in front.
  QCOMPARE(Frame().OutputWnd()->Tabs()->currentIndex(), 1);
}

void PreviewDispatchTest::mailMessagesAreRenamedOnlyWhenNamedInLowerCase() {
  Load(backup_);
  QVERIFY(Preview(QStringLiteral("mail.eml")));
  QCOMPARE(TempFiles(), QStringList{QStringLiteral("MAIL.HTM")});
  QVERIFY(ShowsWebView());
  QVERIFY(Preview(QStringLiteral("MAIL.EML")));
  QCOMPARE(TempFiles(), QStringList{QStringLiteral("MAIL.EML")});
  QVERIFY(Pane()->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
  QCOMPARE(MailPageName(QStringLiteral("old.eml.eml")), QStringLiteral("OLD.HTM.HTM"));
}

void PreviewDispatchTest::aTextAndAPictureInTheWindow() {
  Load(backup_);
  QVERIFY(Preview(QStringLiteral("Readme.txt")));
  Shoot(QStringLiteral("Readme.txt"), QStringLiteral("text-view.png"));
  QVERIFY(Preview(QStringLiteral("Sunset.png")));
  auto* label = Pane()->CurrentViewAs<QLabel>();
  QVERIFY(label != nullptr);
  QCOMPARE(label->pixmap().size(), QSize(320, 200));
  QCOMPARE(label->geometry(), Pane()->rect());
  QVERIFY(!label->hasScaledContents());
  Shoot(QStringLiteral("Sunset.png"), QStringLiteral("image-view.png"));
}

void PreviewDispatchTest::anArchiveInTheWindow() {
  Load(backup_);
  QVERIFY(Preview(QStringLiteral("Backup.ZIP")));
  auto* list = Pane()->CurrentViewAs<CArchiveListView>();
  QVERIFY(list != nullptr);
  QCOMPARE(list->geometry(), Pane()->rect());
  // Entries are named and drawn as the file list names and draws files.
  const QAbstractItemModel* rows = list->model();
  QCOMPARE(rows->index(0, 0).data().toString(), QStringLiteral("docs"));
  QCOMPARE(rows->index(0, 1).data().toString(), ostrel::app::kFolderTypeName);
  QCOMPARE(rows->index(1, 0).data().toString(), QStringLiteral("docs/readme.txt"));
  QCOMPARE(rows->index(1, 1).data().toString(), ostrel::app::FileTypeName(QStringLiteral("readme.txt")));
  QCOMPARE(rows->index(1, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
           ostrel::app::FileIcon(QStringLiteral("readme.txt")).cacheKey());
  QVERIFY(Frame().OutputWnd()->Lines().filter(QStringLiteral("hex dump")).isEmpty());
  Shoot(QStringLiteral("Backup.ZIP"), QStringLiteral("archive-view.png"));
}

void PreviewDispatchTest::withoutTheArchiveLibraryArchivesAreHexAndTheLogSaysWhy() {
  qputenv(ostrel::preview::kArchiveLibraryVariable, QByteArray(dir_.Path().c_str()) + "/absent-7z.so");
  Load(backup_);
  const bool previewed = Preview(QStringLiteral("Backup.ZIP"));
  qunsetenv(ostrel::preview::kArchiveLibraryVariable);
  QVERIFY(previewed);
  QVERIFY(Pane()->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
  const QStringList why = Frame().OutputWnd()->Lines().filter(QStringLiteral("Archives are shown as a hex dump"));
  QCOMPARE(why.size(), 1);
  QVERIFY2(why.front().contains(QStringLiteral("absent-7z.so cannot be loaded")), qPrintable(why.front()));
  // An archive that the library cannot read is no reason for the log.
  QVERIFY(Preview(QStringLiteral("broken.zip")));
  QCOMPARE(Frame().OutputWnd()->Lines().filter(QStringLiteral("Archives are shown as a hex dump")).size(), 1);
}

void PreviewDispatchTest::aWebPageAndAPictureInTheBrowser() {
#if !OSTREL_WEB_PREVIEW
  QSKIP("this build has no embedded browser");
#else
  Load(backup_);
  // A picture goes through a page of its own, written beside the copy.
  QVERIFY(Preview(QStringLiteral("Banner.gif")));
  QCOMPARE(TempFiles(), QStringList({QStringLiteral("Banner.gif"), QStringLiteral("bkTmp.htm")}));
  auto* view = Pane()->CurrentViewAs<ostrel::preview::CKorvaneBrowserView>();
  QVERIFY(view != nullptr);
  QCOMPARE(view->geometry(), Pane()->rect());
  QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->url().fileName(), QStringLiteral("bkTmp.htm"), 30000);
  // A web page is shown as it is.
  QVERIFY(Preview(QStringLiteral("index.html")));
  QCOMPARE(TempFiles(), QStringList{QStringLiteral("index.html")});
  view = Pane()->CurrentViewAs<ostrel::preview::CKorvaneBrowserView>();
  QVERIFY(view != nullptr);
  QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->title(), QStringLiteral("Quarterly report"), 30000);
  QVERIFY(Frame().OutputWnd()->Lines().filter(QStringLiteral("hex dump")).isEmpty());
  Shoot(QStringLiteral("index.html"), QStringLiteral("web-view.png"), 1500);
#endif
}

void PreviewDispatchTest::withoutTheBrowserWebPagesAreHexAndTheLogSaysWhy() {
  qputenv("QTWEBENGINE_PROCESS_PATH", QByteArray(dir_.Path().c_str()) + "/absent/QtWebEngineProcess");
  Load(backup_);
  const bool previewed = Preview(QStringLiteral("index.html"));
  qunsetenv("QTWEBENGINE_PROCESS_PATH");
  QVERIFY(previewed);
  QVERIFY(Pane()->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
  const QStringList why =
      Frame().OutputWnd()->Lines().filter(QStringLiteral("Web pages and media are shown as a hex dump"));
  QCOMPARE(why.size(), 1);
  QVERIFY2(why.front().contains(QStringLiteral("absent/QtWebEngineProcess is missing")), qPrintable(why.front()));
}

void PreviewDispatchTest::aFolderRowMovesTheTreeOnly() {
  Load(backup_);
  const QPointer<QLabel> before = Before();
  const int row = RowOf(QStringLiteral("Sub"));
  QVERIFY(row >= 0);
  emit fixture_.state().messages().listPreview(row);
  QVERIFY(!fixture_.state().IsProcessRunning());
  QCOMPARE(Pane()->CurrentView(), static_cast<QWidget*>(before.data()));
  QCOMPARE(Frame().CheckTree()->currentItem()->text(0), QStringLiteral("Sub"));
  // The list still shows the volume.
  QCOMPARE(Frame().ListSourceItem(), volume_);
  QVERIFY(fixture_.prompts().MessageTexts().isEmpty());
}

void PreviewDispatchTest::anEmptyFileLeavesTheViewAndAnEmptyCopy() {
  Load(backup_);
  const QPointer<QLabel> before = Before();
  QVERIFY(Preview(QStringLiteral("empty.txt")));
  QCOMPARE(Pane()->CurrentView(), static_cast<QWidget*>(before.data()));
  QCOMPARE(TempFiles(), QStringList{QStringLiteral("empty.txt")});
  QCOMPARE(QFileInfo(ostrel::preview::GetTempFolderPath() + QStringLiteral("/empty.txt")).size(), 0);
  QVERIFY(fixture_.prompts().MessageTexts().isEmpty());
}

void PreviewDispatchTest::aSecondRequestWhileAMessageIsOpenIsRefused() {
  Load(backup_);
  const int other = RowOf(QStringLiteral("notes.txt"));
  QVERIFY(other >= 0);
  fixture_.prompts().onMessage = [&](const ostrel::app::MessageRequest&) {
    fixture_.prompts().onMessage = nullptr;
    emit fixture_.state().messages().listPreview(other);
  };
  QVERIFY(Preview(QStringLiteral("continued.txt")));
  QCOMPARE(fixture_.prompts().MessageTexts(),
           (QStringList{ostrel::app::kPreviewContinuation, QStringLiteral("Please wait for the running process.")}));
  fixture_.prompts().Clear();
}

void PreviewDispatchTest::theSizeLimitsHold() {
  Load(large_);
  const auto& catalogue = Frame().Session()->catalogue;
  QVERIFY(Preview(QStringLiteral("just-under.bin")));
  QCOMPARE(TempFiles(), QStringList{QStringLiteral("just-under.bin")});
  QCOMPARE(QFileInfo(ostrel::preview::GetTempFolderPath() + QStringLiteral("/just-under.bin")).size(), 10485760);
  QVERIFY(Pane()->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
  QVERIFY(fixture_.prompts().MessageTexts().isEmpty());

  const QPointer<QLabel> before = Before();
  QVERIFY(Preview(QStringLiteral("at-limit.bin")));
  QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{ostrel::app::kPreviewTooLarge});
  fixture_.prompts().Clear();
  QCOMPARE(Pane()->CurrentView(), static_cast<QWidget*>(before.data()));
  // Refused before the folder was touched: the last copy is still there.
  QCOMPARE(TempFiles(), QStringList{QStringLiteral("just-under.bin")});
  // The catalogue keeps both lengths.
  QCOMPARE(catalogue.FileAt(RefOf(volume_->child(0)).index).dataLength, 11534335u);
  QCOMPARE(catalogue.FileAt(RefOf(volume_->child(1)).index).dataLength, 11534336u);
}

void PreviewDispatchTest::aStoppedCopyHoldsOffTheNextCommands() {
  Load(large_);
  emit fixture_.state().messages().listPreview(RowOf(QStringLiteral("just-under.bin")));
  // Stop, as the ribbon's command does: the copy is still ending, and holds
  // the session, until its end has been handled.
  fixture_.state().SetProcessRunning(false);
  emit fixture_.state().messages().listPreview(RowOf(QStringLiteral("cut.txt")));
  Frame().OpenBkfPath(QString::fromStdString(large_));
  QCOMPARE(fixture_.prompts().MessageTexts(),
           (QStringList{QStringLiteral("Please wait for the running process."),
                        QStringLiteral("Please stop the running process to open the BKF file.")}));
  fixture_.prompts().Clear();
  QVERIFY(QTest::qWaitFor([this] { return !Frame().PreviewWork().IsWorking(); }, 20000));
  QVERIFY(Frame().HasCatalogue());
  QVERIFY(Preview(QStringLiteral("cut.txt")));
  QVERIFY(Pane()->CurrentViewAs<QPlainTextEdit>() != nullptr);
}

void PreviewDispatchTest::anIncompleteCopySaysSoInTheLog() {
  Load(large_);
  QVERIFY(Preview(QStringLiteral("cut.txt")));
  QVERIFY(Pane()->CurrentViewAs<QPlainTextEdit>() != nullptr);
  const QStringList log = Frame().OutputWnd()->Lines();
  QVERIFY2(!log.filter(QStringLiteral("The preview of cut.txt is incomplete: part of it could not be read "
                                      "(cut short by the end of the backup"))
                .isEmpty(),
           qPrintable(log.join(QLatin1Char('\n'))));
}

void PreviewDispatchTest::aPreviewWaitsForARunningProcess() {
  Load(backup_);
  const QPointer<QLabel> before = Before();
  fixture_.state().SetProcessRunning(true);
  emit fixture_.state().messages().listPreview(RowOf(QStringLiteral("notes.txt")));
  fixture_.state().SetProcessRunning(false);
  QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{QStringLiteral("Please wait for the running process.")});
  fixture_.prompts().Clear();
  QCOMPARE(Pane()->CurrentView(), static_cast<QWidget*>(before.data()));
}

void PreviewDispatchTest::aNameTheTemporaryFolderRefusesTakesItsPortableForm() {
  // The temporary path on a drive formatted for Windows, as $TMPDIR may be.
  ostrel::fixtures::TempDir mountDir;
  ostrel::fixtures::NtfsImage ntfs(mountDir.Path(), "windows_names,permissions");
  if (!ntfs.Unavailable().empty()) QSKIP(ntfs.Unavailable().c_str());
  const QByteArray tmpdir = qgetenv("TMPDIR");
  qputenv("TMPDIR", QByteArray::fromStdString(ntfs.MountPoint()));
  Load(backup_);
  const bool previewed = Preview(QStringLiteral("at 1:05 PM.txt"));
  const QString folder = ostrel::preview::GetTempFolderPath();
  const QStringList files = TempFiles();
  auto* edit = Pane()->CurrentViewAs<QPlainTextEdit>();
  const QString shown = edit != nullptr ? edit->toPlainText() : QString();
  ostrel::preview::CleanTempFolder();
  qputenv("TMPDIR", tmpdir);
  QVERIFY(previewed);
  QCOMPARE(folder, QString::fromStdString(ntfs.MountPoint()) + QStringLiteral("/BKFTmpOstrelv4"));
  QCOMPARE(files, QStringList{QStringLiteral("at 1_05 PM.txt")});
  QCOMPARE(shown, QStringLiteral("a name Windows refuses"));
}

QTEST_MAIN(PreviewDispatchTest)
#include "preview_dispatch_test.moc"
