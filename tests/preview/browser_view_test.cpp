// The web view of the preview: the pages that embed a picture, a sound or
// video, or a Flash movie, byte for byte; then the real browser, offscreen:
// a web page shown as it is, a picture page, sounds and a video playing, no
// context menu, no request leaving the machine, no file outside the preview's
// folder, a window that keeps going beside a pipe, and the hex dump when the
// browser cannot be used. Samples from tests/fixtures/media and images.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "preview/browser_view.h"
#include "preview/dump_ctrl.h"
#include "preview/preview_dispatch.h"
#include "preview/preview_page.h"
#include "preview/static_file_viewer.h"

using ostrel::preview::BrowserEvent;
using ostrel::preview::BrowserNotification;
using ostrel::preview::CKorvaneBrowserView;
using ostrel::preview::CKorvaneDumpCtrl;
using ostrel::preview::CKorvaneStaticFileViewer;
using ostrel::preview::PreviewPage;
using ostrel::preview::PreviewPageBytes;
using ostrel::preview::ShowPreviewByType;
using ostrel::preview::WritePreviewPage;

namespace {

constexpr int kBrowserWait = 30000;  // the first page also starts the browser

QString Fixture(const QString& name) { return QStringLiteral(OSTREL_TEST_FIXTURES_DIR "/") + name; }

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The answer of a script run beside the page's own (whose scripts are off).
QVariant Evaluate(QWebEnginePage* page, const QString& script) {
  QVariant answer;
  bool done = false;
  page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& value) {
    answer = value;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 5000)) return QStringLiteral("(no answer)");
  return answer;
}

const char* const kFlashBefore =
    "<OBJECT classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" "
    "codebase=\"https://flash-player.example.org/swflash.cab#version=6,0,0,0\" WIDTH=\"500\" HEIGHT=\"250\" ";

QByteArray FlashPage(const QByteArray& id, const QByteArray& movie) {
  return QByteArray(kFlashBefore) + "id=\"" + id + "\" ALIGN=\"\"><PARAM NAME=movie VALUE=\"" + movie +
         "\"> <PARAM NAME=quality VALUE=high> <PARAM NAME=bgcolor VALUE=#333399> <EMBED src=\"" + movie +
         "\" quality=high bgcolor=#333399 WIDTH=\"320\" HEIGHT=\"240\" NAME=\"" + id +
         "\" ALIGN=\"\" TYPE=\"application/x-shockwave-flash\" "
         "PLUGINSPAGE=\"https://flash-player.example.org/download\"></EMBED> </OBJECT>";
}

QByteArray MediaPage(const QByteArray& element, const QByteArray& name) {
  return "<" + element + " ID=\"MediaPlayer1\" WIDTH=320 HEIGHT=240 style=\"width:320px;height:240px\" controls " +
         "autoplay src=\"" + name + "\"></" + element + ">";
}

// Tells which files of one folder were opened, by any process: the browser
// reads files in helper processes of its own, out of the test's sight.
class OpenWatch {
 public:
  explicit OpenWatch(const QString& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_OPEN);
  }
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool Valid() const { return fd_ >= 0; }
  // The names opened since the watch began, or since Forget.
  QStringList Opened() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0) opened_.append(QFile::decodeName(event->name));
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return opened_;
  }
  void Forget() {
    Opened();
    opened_.clear();
  }

 private:
  int fd_;
  QStringList opened_;
};

// The text the page shows in its top document.
QString PageText(QWebEnginePage* page) {
  QString text;
  bool done = false;
  page->toPlainText([&](const QString& shown) {
    text = shown;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 5000)) return QStringLiteral("(no answer)");
  return text;
}

// Watches a pipe from a thread of its own: whenever something has opened it
// for reading (opening the write end without waiting succeeds only then), it
// notes it and lets the reader go at once by closing that end, so that a
// browser that reads the pipe holds nothing up for long.
class PipeWatch {
 public:
  explicit PipeWatch(const QString& path)
      : thread_([this, name = QFile::encodeName(path)] {
          while (!stop_) {
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
              read_ = true;
              ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~PipeWatch() {
    stop_ = true;
    thread_.join();
  }
  PipeWatch(const PipeWatch&) = delete;
  PipeWatch& operator=(const PipeWatch&) = delete;

  bool Read() const { return read_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> read_{false};
  std::thread thread_;
};

// An XML document named `name` that is its own style sheet, as a copy alone
// in the folder would be: its output holds the document at %1.
QString SelfStyled(const QString& name) {
  return "<?xml version='1.0'?><?xml-stylesheet type='text/xsl' href='" + name +
         "'?><xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
         "<xsl:template match='/'><html><head><title>T</title></head><body>"
         "<xsl:copy-of select=\"document('%1')\"/></body></html></xsl:template></xsl:stylesheet>";
}

bool AnyMenuVisible() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMenu*>(widget) != nullptr && widget->isVisible()) return true;
  }
  return false;
}

}  // namespace

class BrowserViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    pane_ = std::make_unique<CKorvaneStaticFileViewer>();
    pane_->resize(480, 320);
    pane_->show();
  }
  void cleanup() {
    pane_.reset();
    folder_.reset();
  }

  void pages_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("page");
    QTest::newRow("picture: the full path") << int(PreviewPage::Image) << "/tmp/BKFTmpOstrelv4/photo.gif" << "GIF"
                                             << QByteArray("<html><head></head><body><img "
                                                           "src='/tmp/BKFTmpOstrelv4/photo.gif'/></body></html>");
    QTest::newRow("sound: the bare name") << int(PreviewPage::Media) << "/tmp/BKFTmpOstrelv4/song.mp3" << "MP3"
                                          << MediaPage("audio", "song.mp3");
    QTest::newRow("video") << int(PreviewPage::Media) << "/tmp/BKFTmpOstrelv4/Clip.Mov" << "MOV"
                           << MediaPage("video", "Clip.Mov");
    QTest::newRow("flash: .swf taken off the id") << int(PreviewPage::Flash) << "/tmp/BKFTmpOstrelv4/intro.swf"
                                                  << "SWF" << FlashPage("intro", "intro.swf");
    QTest::newRow("flash: upper-case .SWF stays") << int(PreviewPage::Flash) << "/tmp/BKFTmpOstrelv4/CLIP.SWF"
                                                  << "SWF" << FlashPage("CLIP.SWF", "CLIP.SWF.swf");
    QTest::newRow("flash: every .swf, then trailing blanks") << int(PreviewPage::Flash) << "/t/a.swf.b .swf"
                                                             << "SWF" << FlashPage("a.b", "a.b.swf");
    // Latin-1 characters are single bytes; those above 255 would lose their
    // high bits and with them the file, so they become references.
    QTest::newRow("characters above 255")
        << int(PreviewPage::Image) << QString::fromUtf8("/tmp/f/caf\u00e9 \u03a9\U0001F600.gif") << "GIF"
        << QByteArray("<html><head></head><body><img src='/tmp/f/caf\xe9 &#937;&#128512;.gif'/></body></html>");
    // A quote would end the attribute, '#' and '?' would cut the address.
    QTest::newRow("characters that break a page") << int(PreviewPage::Media) << "/tmp/f/Bob's \"#1\" & <2>?.wav"
                                                  << "WAV"
                                                  << MediaPage("audio", "Bob&#39;s &quot;%231&quot; &amp; &lt;2&gt;%3F.wav");
  }
  void pages() {
    QFETCH(int, kind);
    QFETCH(QString, path);
    QFETCH(QString, extension);
    QFETCH(QByteArray, page);
    QCOMPARE(PreviewPageBytes(static_cast<PreviewPage>(kind), path, extension), page + '\0');
  }

  void page_file_is_written_anew() {
    const QString folder = folder_->path() + '/';
    // Whatever holds the name is replaced, never written through.
    QVERIFY(WriteAll(folder_->filePath("elsewhere"), "keep me"));
    QVERIFY(QFile::link(folder_->filePath("elsewhere"), folder + "bkTmp.htm"));
    const std::optional<QString> written = WritePreviewPage(PreviewPage::Flash, folder + "intro.swf", folder, "SWF");
    QVERIFY(written.has_value());
    QCOMPARE(*written, folder + "bkTmp.htm");
    QCOMPARE(ReadAll(*written), FlashPage("intro", "intro.swf") + '\0');
    QCOMPARE(ReadAll(folder_->filePath("elsewhere")), QByteArray("keep me"));
    // A shorter page leaves nothing of the longer one.
    QVERIFY(WritePreviewPage(PreviewPage::Image, folder + "a.gif", folder, "GIF").has_value());
    QCOMPARE(ReadAll(*written), PreviewPageBytes(PreviewPage::Image, folder + "a.gif", "GIF"));
    QVERIFY(!WritePreviewPage(PreviewPage::Image, folder + "a.gif", folder + "gone/missing/", "GIF").has_value());
  }

  // A page that cannot be written ends the preview with no view at all.
  void no_page_no_view() {
    const QString folder = folder_->path() + "/gone/missing/";
    ShowPreviewByType(*pane_, folder + "photo.gif", "GIF", folder);
    QVERIFY(pane_->CurrentView() == nullptr);
  }

  void web_page_is_shown_as_it_is() {
    const QString page = folder_->filePath("report.htm");
    QVERIFY(WriteAll(page, "<html><head><title>Quarterly report</title></head><body>Figures</body></html>"));
    ShowPreviewByType(*pane_, page, "HTM", folder_->path() + '/');
    auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
    QVERIFY(view != nullptr);
    QList<BrowserNotification> seen;
    connect(view, &CKorvaneBrowserView::Notify, this,
            [&](const BrowserNotification& n, bool*) { seen.append(n); });
    QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->title(), QStringLiteral("Quarterly report"), kBrowserWait);
    QCOMPARE(view->Browser()->url(), QUrl::fromLocalFile(page));
    QVERIFY(!QFile::exists(folder_->filePath("bkTmp.htm")));
    QCOMPARE(view->Browser()->size(), pane_->size());

    // The parent hears of a navigation before it happens and may stop it.
    const QString second = folder_->filePath("second.htm");
    QVERIFY(WriteAll(second, "<title>Second</title>"));
    connect(view, &CKorvaneBrowserView::Notify, this, [&](const BrowserNotification& n, bool* cancel) {
      if (n.event == BrowserEvent::BeforeNavigate && n.url.endsWith("second.htm")) *cancel = true;
    });
    seen.clear();
    view->Navigate(QUrl::fromLocalFile(second));
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(seen.begin(), seen.end(),
                                         [](const BrowserNotification& n) {
                                           return n.event == BrowserEvent::BeforeNavigate;
                                         }),
                             kBrowserWait);
    QTest::qWait(500);
    QCOMPARE(view->Browser()->title(), QStringLiteral("Quarterly report"));
  }

  void picture_page() {
    const QString folder = folder_->path() + '/';
    QVERIFY(QFile::copy(Fixture("images/sample.gif"), folder + "photo.gif"));
    ShowPreviewByType(*pane_, folder + "photo.gif", "GIF", folder);
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), QStringList({"bkTmp.htm", "photo.gif"}));
    auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
    QVERIFY(view != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->url(), QUrl::fromLocalFile(folder + "bkTmp.htm"), kBrowserWait);
    QTRY_VERIFY_WITH_TIMEOUT(
        Evaluate(view->Browser()->page(), "document.images.length == 1 && document.images[0].naturalWidth > 0")
            .toBool(),
        kBrowserWait);
  }

  void media_plays_data() {
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("element");
    QTest::newRow("video") << "clip.mov" << "VIDEO";
    QTest::newRow("MP3") << "song.mp3" << "AUDIO";
    QTest::newRow("WAV") << "tone.wav" << "AUDIO";
  }
  void media_plays() {
    QFETCH(QString, sample);
    QFETCH(QString, element);
    const QString folder = folder_->path() + '/';
    QVERIFY(QFile::copy(Fixture("media/") + sample, folder + sample));
    ShowPreviewByType(*pane_, folder + sample, QFileInfo(sample).suffix().toUpper(), folder);
    auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
    QVERIFY(view != nullptr);
    QWebEnginePage* page = view->Browser()->page();
    QTRY_COMPARE_WITH_TIMEOUT(Evaluate(page, "document.getElementById('MediaPlayer1').tagName").toString(), element,
                              kBrowserWait);
    // Started by itself: time has run, and no error.
    QTRY_VERIFY_WITH_TIMEOUT(
        Evaluate(page, "var e = document.getElementById('MediaPlayer1'); !e.error && e.played.length > 0 && "
                       "e.currentTime > 0")
            .toBool(),
        kBrowserWait);
  }

  void right_click_shows_no_menu() {
    const QString page = folder_->filePath("menu.htm");
    QVERIFY(WriteAll(page, "<title>Menu</title><body style='height:300px'>Text to click on</body>"));
    // A plain browser answers the same click with its menu: the click reaches it.
    QWebEngineView plain;
    plain.resize(480, 320);
    plain.show();
    plain.load(QUrl::fromLocalFile(page));
    QTRY_COMPARE_WITH_TIMEOUT(plain.title(), QStringLiteral("Menu"), kBrowserWait);
    QTRY_VERIFY_WITH_TIMEOUT(plain.focusProxy() != nullptr, kBrowserWait);
    QTest::mouseClick(plain.focusProxy(), Qt::RightButton, {}, QPoint(40, 40));
    QTRY_VERIFY_WITH_TIMEOUT(AnyMenuVisible(), 10000);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMenu*>(widget) != nullptr) widget->close();
    }

    ShowPreviewByType(*pane_, page, "HTM", folder_->path() + '/');
    auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
    QVERIFY(view != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->title(), QStringLiteral("Menu"), kBrowserWait);
    QTRY_VERIFY_WITH_TIMEOUT(view->Browser()->focusProxy() != nullptr, kBrowserWait);
    QWidget* target = view->Browser()->focusProxy();
    QTest::mouseClick(target, Qt::RightButton, {}, QPoint(40, 40));
    QTest::keyClick(target, Qt::Key_F10);
    QTest::keyClick(target, Qt::Key_F, Qt::AltModifier);
    QTest::qWait(1500);
    QVERIFY(!AnyMenuVisible());
  }

  // A page from a backup reaches for the network every way a page can; a
  // local server counts who knocks.
  void no_request_leaves_the_machine() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    int knocks = 0;
    connect(&server, &QTcpServer::newConnection, this, [&] {
      while (QTcpSocket* socket = server.nextPendingConnection()) {
        ++knocks;
        socket->close();
        socket->deleteLater();
      }
    });
    const QByteArray remote = "http://127.0.0.1:" + QByteArray::number(server.serverPort());
    const QString page = folder_->filePath("reach.htm");
    QVERIFY(WriteAll(page, "<html><head><title>Reach</title><link rel='stylesheet' href='" + remote +
                               "/a.css'><script src='" + remote + "/a.js'></script></head><body><img src='" +
                               remote + "/a.gif'><iframe src='" + remote + "/frame'></iframe><video src='" +
                               remote + "/a.mp4' autoplay></video><a href='" + remote +
                               "/link'>link</a><script>fetch('" + remote + "/fetch');</script></body></html>"));

    // The test can see a request: a plain browser makes one.
    {
      QWebEngineView plain;
      plain.settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
      plain.load(QUrl::fromLocalFile(page));
      QTRY_VERIFY_WITH_TIMEOUT(knocks > 0, kBrowserWait);
    }
    QTest::qWait(500);
    knocks = 0;

    ShowPreviewByType(*pane_, page, "HTM", folder_->path() + '/');
    auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
    QVERIFY(view != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->title(), QStringLiteral("Reach"), kBrowserWait);
    view->Navigate(QUrl(QString::fromLatin1(remote + "/direct")));
    QTest::qWait(2000);
    QCOMPARE(knocks, 0);
    QCOMPARE(view->Browser()->url(), QUrl::fromLocalFile(page));
  }

  // A page from a backup names a file outside the preview's folder every way
  // a page can; a plain browser opens the file, the preview never does.
  // %1: the outside file's address, %2: the same through "..", %3: the name
  // of a link in the folder that points at it.
  void nothing_outside_the_folder_loads_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("refused");  // the address the view keeps from the page
    QTest::addColumn<bool>("plainReads");  // a plain browser opens the file
    QTest::newRow("frame") << "frame.htm" << "<title>T</title><iframe src='%1'></iframe>" << "%1" << true;
    QTest::newRow("object") << "object.htm" << "<title>T</title><object data='%1' type='text/plain'></object>"
                            << "%1" << true;
    QTest::newRow("picture") << "picture.htm" << "<title>T</title><img src='%1'>" << "%1" << true;
    QTest::newRow("style sheet") << "sheet.htm" << "<title>T</title><link rel='stylesheet' href='%1'>" << "%1" << true;
    QTest::newRow("refresh") << "refresh.htm" << "<title>T</title><meta http-equiv='refresh' content='0; url=%1'>"
                             << "%1" << true;
    QTest::newRow("up and out") << "up.htm" << "<title>T</title><iframe src='%2'></iframe>" << "%1" << true;
    QTest::newRow("a link in the folder") << "link.htm" << "<title>T</title><iframe src='%3'></iframe>" << "%3" << true;
    QTest::newRow("style sheet's document()") << "sheet.xml" << SelfStyled("sheet.xml") << "%1" << true;
    // The browser's own parser leaves an external entity unread; no view of
    // XML may read it either.
    QTest::newRow("external entity") << "entity.xml"
                                     << "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY x SYSTEM '%1'>]><r>&x;</r>"
                                     << "%1" << false;
  }
  void nothing_outside_the_folder_loads() {
    QFETCH(QString, name);
    QFETCH(QString, page);
    QFETCH(QString, refused);
    QFETCH(bool, plainReads);
    const QByteArray marker = "outside-the-folder-0d5e";
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(WriteAll(outside.filePath("secret.xml"), "<secret>" + marker + "</secret>"));
    const QString folder = folder_->path() + '/';
    QVERIFY(QFile::link(outside.filePath("secret.xml"), folder + "mirror.xml"));
    const QString secret = QUrl::fromLocalFile(outside.filePath("secret.xml")).toString();
    const QString up = "../" + QDir(outside.path()).dirName() + "/secret.xml";
    const QString path = folder + name;
    const QString extension = QFileInfo(name).suffix().toUpper();
    QVERIFY(WriteAll(path, QString(page).replace("%1", secret).replace("%2", up).replace("%3", "mirror.xml")
                               .toUtf8()));
    OpenWatch watch(outside.path());
    QVERIFY(watch.Valid());

    // The page does reach the file: a plain browser opens it.
    if (plainReads) {
      QWebEngineView plain;
      plain.load(QUrl::fromLocalFile(path));
      QTRY_VERIFY_WITH_TIMEOUT(watch.Opened().contains("secret.xml"), kBrowserWait);
    }
    watch.Forget();

    ShowPreviewByType(*pane_, path, extension, folder);
    if (auto* text = pane_->CurrentViewAs<QPlainTextEdit>()) {
      // A document of XML is shown as its own text, nothing read in.
      QCOMPARE(text->toPlainText().toUtf8(), ReadAll(path));
    } else {
      auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
      QVERIFY(view != nullptr);
      QStringList refusals;
      connect(view, &CKorvaneBrowserView::Notify, this, [&](const BrowserNotification& n, bool*) {
        if (n.event == BrowserEvent::Refused) refusals.append(n.url);
      });
      const QString expected =
          refused.replace("%1", secret).replace("%3", QUrl::fromLocalFile(folder + "mirror.xml").toString());
      QTRY_VERIFY_WITH_TIMEOUT(refusals.contains(expected), kBrowserWait);
      QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->title(), QStringLiteral("T"), kBrowserWait);
      QCOMPARE(view->Browser()->url(), QUrl::fromLocalFile(path));
      QVERIFY(!PageText(view->Browser()->page()).contains(marker));
    }
    QCOMPARE(watch.Opened(), QStringList());
  }

  // A frame on a pipe would hold its reader, and the page's load, until
  // something is written: the pipe is refused unread, and the window keeps
  // going (its timer keeps firing) while the page loads.
  void a_pipe_in_the_folder_holds_nothing_up() {
    const QString folder = folder_->path() + '/';
    const QString pipe = folder + "pipe";
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    const PipeWatch watch(pipe);
    QVERIFY(WriteAll(folder + "first.htm", "<title>First</title>"));
    QVERIFY(WriteAll(folder + "pipe.htm", "<title>Pipe</title><iframe src='pipe'></iframe>"));
    // The browser starts, and its view is made, before the watch.
    ShowPreviewByType(*pane_, folder + "first.htm", "HTM", folder);
    auto* view = pane_->CurrentViewAs<CKorvaneBrowserView>();
    QVERIFY(view != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(view->Browser()->title(), QStringLiteral("First"), kBrowserWait);
    QStringList refusals;
    connect(view, &CKorvaneBrowserView::Notify, this, [&](const BrowserNotification& n, bool*) {
      if (n.event == BrowserEvent::Refused) refusals.append(n.url);
    });
    QSignalSpy finished(view->Browser()->page(), &QWebEnginePage::loadFinished);

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 widest = 0;
    QTimer tick;
    tick.setInterval(10);
    connect(&tick, &QTimer::timeout, this, [&] {
      const qint64 now = clock.elapsed();
      widest = std::max(widest, now - last);
      last = now;
    });
    clock.start();
    tick.start();
    view->Navigate(QUrl::fromLocalFile(folder + "pipe.htm"));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), kBrowserWait);
    tick.stop();
    QCOMPARE(view->Browser()->title(), QStringLiteral("Pipe"));
    QVERIFY(!watch.Read());
    QVERIFY(refusals.contains(QUrl::fromLocalFile(pipe).toString()));
    QVERIFY2(widest < 100, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(widest)));
  }

  // Without its helper program the browser would end the process: the file
  // gets the hex dump and the log one line saying why.
  void hex_dump_without_the_browser() {
    const QString page = folder_->filePath("report.htm");
    QVERIFY(WriteAll(page, "<title>Report</title>"));
    qputenv("QTWEBENGINE_PROCESS_PATH", "/nonexistent/QtWebEngineProcess");
    QString note;
    ShowPreviewByType(*pane_, page, "HTM", folder_->path() + '/', nullptr, &note);
    qunsetenv("QTWEBENGINE_PROCESS_PATH");
    QVERIFY(pane_->CurrentViewAs<CKorvaneDumpCtrl>() != nullptr);
    QCOMPARE(note, QStringLiteral("Web pages and media are shown as a hex dump: the browser's helper program "
                                  "/nonexistent/QtWebEngineProcess is missing."));
  }

 private:
  std::unique_ptr<QTemporaryDir> folder_;
  std::unique_ptr<CKorvaneStaticFileViewer> pane_;
};

int main(int argc, char** argv) {
  ostrel::preview::AllowBrowserAsRoot();
  QApplication application(argc, argv);
  BrowserViewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "browser_view_test.moc"
