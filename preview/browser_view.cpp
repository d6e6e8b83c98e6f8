#include "preview/browser_view.h"

#include <unistd.h>

#include <QFileInfo>
#include <QLibraryInfo>
#include <cstdlib>

#include "preview/preview_io.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"

#if OSTREL_WEB_PREVIEW
#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#endif

namespace ostrel::preview {
void AllowBrowserAsRoot() {
  if (::geteuid() == 0 && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr) {
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  }
}

bool BrowserAvailable(QString* why) {
#if OSTREL_WEB_PREVIEW
  // Without its helper program the browser ends the whole process when it
  // starts; without its resources it cannot draw a page. Both are looked for
  // where the browser itself looks.
  QString helper = qEnvironmentVariable("QTWEBENGINE_PROCESS_PATH");
  if (helper.isEmpty()) helper = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/QtWebEngineProcess";
  if (!QFileInfo(helper).isExecutable()) {
    if (why != nullptr) *why = QStringLiteral("the browser's helper program %1 is missing").arg(helper);
    return false;
  }
  QString resources = qEnvironmentVariable("QTWEBENGINE_RESOURCES_PATH");
  if (resources.isEmpty()) resources = QLibraryInfo::path(QLibraryInfo::DataPath) + "/resources";
  const QString pak = resources + "/qtwebengine_resources.pak";
  if (!QFileInfo(pak).isFile()) {
    if (why != nullptr) *why = QStringLiteral("the browser's resources %1 are missing").arg(pak);
    return false;
  }
  return true;
#else
  if (why != nullptr) *why = QStringLiteral("this build of the program has no embedded browser");
  return false;
#endif
}

#if OSTREL_WEB_PREVIEW

namespace {

bool IsLocalScheme(const QUrl& url) {
  const QString scheme = url.scheme();
  return scheme == QLatin1String("file") || scheme == QLatin1String("about") || scheme == QLatin1String("data");
}

// Every request of every page passes here first: anything that could leave
// the machine is refused. Which files a page may read is its view's to say
// (FolderOnly).
class LocalOnly : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (!IsLocalScheme(info.requestUrl())) info.block(true);
  }
};

// One profile for every view: off the record (nothing on disk), no cache.
QWebEngineProfile* ShutInProfile() {
  static QWebEngineProfile* profile = [] {
    AllowBrowserAsRoot();  // before the engine starts with the first profile
    auto* made = new QWebEngineProfile(qApp);
    made->setHttpCacheType(QWebEngineProfile::NoCache);
    made->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    made->setSpellCheckEnabled(false);
    made->setUrlRequestInterceptor(new LocalOnly(made));
    QObject::connect(made, &QWebEngineProfile::downloadRequested, made,
                     [](QWebEngineDownloadRequest* request) { request->cancel(); });
    return made;
  }();
  return profile;
}

BrowserNotification Notice(BrowserEvent event, const QString& url = {}, const QString& text = {}) {
  BrowserNotification n;
  n.event = event;
  n.url = url;
  n.text = text;
  return n;
}

}  // namespace

// The page: silent (no dialog, file chooser or new window of its own) and
// telling the view before each navigation of its top-level document. It
// loads and goes to no file: address but the regular files of its view's
// folder, whatever in it asks: a frame, an object, a picture, a style sheet,
// a refresh or a link.
class ShutInPage : public QWebEnginePage {
 public:
  ShutInPage(CKorvaneBrowserView* view, QWebEngineProfile* profile)
      : QWebEnginePage(profile, view), view_(view), folderOnly_(this) {
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    setUrlRequestInterceptor(&folderOnly_);
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
              setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
  }
  ~ShutInPage() override { setUrlRequestInterceptor(nullptr); }

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (!Allowed(url)) return false;
    if (!isMainFrame) return true;
    bool cancel = false;
    view_->Send(Notice(BrowserEvent::BeforeNavigate, url.toString()), &cancel);
    return !cancel;
  }
  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}
  QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

 private:
  // Requests of this page alone, after the profile's LocalOnly. In Qt 6 the
  // browser asks on the window's thread, before it opens anything.
  class FolderOnly : public QWebEngineUrlRequestInterceptor {
   public:
    explicit FolderOnly(ShutInPage* page) : page_(page) {}
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
      if (!page_->Allowed(info.requestUrl())) info.block(true);
    }

   private:
    ShutInPage* page_;
  };

  // about: and data: hold nothing of the disk; a file: address only a
  // regular file of the view's folder (a pipe would hold its reader, and
  // the window with it). The view hears of every address refused.
  bool Allowed(const QUrl& url) {
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("about") || scheme == QLatin1String("data")) return true;
    if (scheme == QLatin1String("file") && IsFileInsideFolder(view_->folder_, url.toLocalFile())) return true;
    view_->Send(Notice(BrowserEvent::Refused, url.toString()));
    return false;
  }

  CKorvaneBrowserView* view_;
  FolderOnly folderOnly_;
};

CKorvaneBrowserView::CKorvaneBrowserView() { setObjectName(QStringLiteral("BrowserView")); }

CKorvaneBrowserView::~CKorvaneBrowserView() {
  if (browser_ == nullptr) return;
  Clear();
  // The page goes before the view that shows it.
  QWebEnginePage* page = browser_->page();
  browser_->setPage(nullptr);
  delete page;
  delete browser_;
}

bool CKorvaneBrowserView::Create(const QRect& rectangle, QWidget* parent) {
  setParent(parent);
  setGeometry(rectangle);
  show();
  auto* browser = new QWebEngineView(this);
  browser->setContextMenuPolicy(Qt::NoContextMenu);
  auto* page = new ShutInPage(this, ShutInProfile());
  browser->setPage(page);
  browser->setGeometry(0, 0, rectangle.width(), rectangle.height());
  browser_ = browser;
  Watch(browser);

  connect(page, &QWebEnginePage::loadStarted, this, [this] { Send(Notice(BrowserEvent::DownloadBegin)); });
  connect(page, &QWebEnginePage::loadProgress, this, [this](int progress) {
    BrowserNotification n = Notice(BrowserEvent::ProgressChange);
    n.progress = progress;
    n.progressMax = 100;
    Send(std::move(n));
  });
  connect(page, &QWebEnginePage::loadFinished, this, [this, page](bool) {
    Send(Notice(BrowserEvent::DownloadComplete));
    Send(Notice(BrowserEvent::DocumentComplete, page->url().toString()));
  });
  connect(page, &QWebEnginePage::urlChanged, this,
          [this](const QUrl& url) { Send(Notice(BrowserEvent::NavigateComplete, url.toString())); });
  connect(page, &QWebEnginePage::linkHovered, this,
          [this](const QString& url) { Send(Notice(BrowserEvent::StatusTextChange, {}, url)); });
  connect(page, &QWebEnginePage::titleChanged, this,
          [this](const QString& title) { Send(Notice(BrowserEvent::TitleChange, {}, title)); });

  browser->show();
  Navigate(QUrl(QStringLiteral("about:blank")));
  return true;
}

void CKorvaneBrowserView::SetFolder(const QString& folder) { folder_ = folder; }

void CKorvaneBrowserView::Navigate(const QUrl& url) {
  if (browser_ != nullptr) browser_->load(url);
}

void CKorvaneBrowserView::Clear() {
  if (browser_ != nullptr) browser_->setHtml(QString(), QUrl(QStringLiteral("about:blank")));
}

void CKorvaneBrowserView::Send(BrowserNotification notification, bool* cancel) {
  bool ignored = false;
  emit Notify(notification, cancel != nullptr ? cancel : &ignored);
}

// The browser draws into child widgets it makes as it goes; each is watched.
void CKorvaneBrowserView::Watch(QObject* object) {
  object->installEventFilter(this);
  for (QObject* child : object->children()) {
    if (child->isWidgetType()) Watch(child);
  }
}

bool CKorvaneBrowserView::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::ChildAdded: {
      QObject* child = static_cast<QChildEvent*>(event)->child();
      if (child->isWidgetType()) Watch(child);
      break;
    }
    // No context menu and no keyboard menu: the right button and the keys
    // pressed with Alt (and F10) never reach the browser.
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) return true;
      break;
    case QEvent::ContextMenu:
      return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->modifiers().testFlag(Qt::AltModifier) || key->key() == Qt::Key_Alt || key->key() == Qt::Key_F10 ||
          key->key() == Qt::Key_Menu) {
        return true;
      }
      break;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void CKorvaneBrowserView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (browser_ != nullptr) browser_->setGeometry(0, 0, width(), height());
}

void StartBrowserEngine() {
  if (!BrowserAvailable()) return;
  // A page of the shared profile, loading nothing: the engine's start; the
  // page goes once it is up.
  auto* page = new QWebEnginePage(ShutInProfile(), qApp);
  QObject::connect(page, &QWebEnginePage::loadFinished, page, &QObject::deleteLater);
  page->load(QUrl(QStringLiteral("about:blank")));
}

bool ShowBrowserView(CKorvaneStaticFileViewer& pane, const QString& path, const QString& folder) {
  const PreviewWaitCursor wait;
  try {
    auto* view = new CKorvaneBrowserView;
    view->SetFolder(folder);
    view->Create(pane.rect(), &pane);
    pane.SetCurrentView(view);
    view->Navigate(QUrl::fromLocalFile(path));
    return true;
  } catch (const std::exception&) {
    pane.DestroyCurrentView();
    return false;
  }
}

#else

void StartBrowserEngine() {}
bool ShowBrowserView(CKorvaneStaticFileViewer& /*pane*/, const QString& /*path*/, const QString& /*folder*/) {
  return false;
}

#endif

}  // namespace ostrel::preview
