// CKorvaneBrowserView: the embedded web browser of the preview pane. It shows
// web pages from the backup and the small pages that embed a picture, a
// sound or video, or a Flash movie (preview_page.h).
//
// The browser works on files nobody can trust, so it is shut in: it makes no
// network request (only file:, about: and data: addresses are loaded, and the
// pages' own scripts do not run), reads no file but the regular files of the
// preview's private folder (no link out of it, no pipe or device), opens no
// dialog or window of its own, keeps nothing on disk, and shows no context
// menu or keyboard menu.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>

class QWebEngineView;

namespace ostrel::preview {

class CKorvaneStaticFileViewer;

// What the browser tells its parent, one notification per event.
enum class BrowserEvent {
  BeforeNavigate = 0,  // url, frame; the parent may cancel
  DocumentComplete = 1,  // url
  DownloadBegin = 2,
  ProgressChange = 3,  // progress, progressMax
  DownloadComplete = 4,
  NavigateComplete = 5,  // url
  StatusTextChange = 6,  // text
  TitleChange = 7,  // text
  Refused = 8,  // url: an address kept from the page, loaded or navigated to
};

struct BrowserNotification {
  BrowserEvent event = BrowserEvent::BeforeNavigate;
  QString url;
  QString frame;
  QByteArray postData;
  QString headers;
  int progress = 0;
  int progressMax = 0;
  QString text;
};

// The embedded browser is left out of a build made where Qt WebEngine is not
// installed (OSTREL_WEB_PREVIEW is then 0).
//
// True when this program can show web pages: it was built with the embedded
// browser and the browser's helper program and resources are installed.
// Otherwise false, with the reason in `why`.
bool BrowserAvailable(QString* why = nullptr);

// The browser's sandbox cannot run as root; only then is it turned off (the
// environment's own choice is kept). The view does it before the browser
// first starts; code that starts a browser of its own calls it first.
void AllowBrowserAsRoot();

// Starts the browser's engine now, if the browser is available: the engine
// starts once per process, on the window's thread, and takes a moment doing
// it, which the program spends while its splash picture stands still rather
// than at the first web preview. Does nothing in a build without a browser.
void StartBrowserEngine();

#if OSTREL_WEB_PREVIEW
class CKorvaneBrowserView : public QWidget {
  Q_OBJECT

 public:
  CKorvaneBrowserView();
  // Clears the page first, so that the browser lets go of the file it shows.
  ~CKorvaneBrowserView() override;

  // Places the view in `parent` at `rectangle` and makes the browser inside
  // it, showing a blank page. False when the browser could not be made (the
  // view then stays, empty).
  bool Create(const QRect& rectangle, QWidget* parent);
  // The folder whose regular files the page may load, at any depth, once
  // ".." and symbolic links are resolved (IsFileInsideFolder); every other
  // file: address is refused, and until this is called, all of them are.
  void SetFolder(const QString& folder);
  // Does nothing before Create has made the browser.
  void Navigate(const QUrl& url);
  // Empties the shown document.
  void Clear();

  QWebEngineView* Browser() const { return browser_; }

 signals:
  // `cancel` only matters for BeforeNavigate: set it to stop the navigation.
  // Emitted directly, on the window's thread.
  void Notify(const ostrel::preview::BrowserNotification& notification, bool* cancel);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Watch(QObject* object);
  void Send(BrowserNotification notification, bool* cancel = nullptr);

  QWebEngineView* browser_ = nullptr;
  QString folder_;
  friend class ShutInPage;
};
#endif


// Makes a CKorvaneBrowserView the pane's current view, shut in `folder` (the
// preview's private folder), and navigates it to the local file at `path`
// inside it. True, or false (the pane then shows nothing) when the view
// could not be set up or the program has no browser.
bool ShowBrowserView(CKorvaneStaticFileViewer& pane, const QString& path, const QString& folder);

}  // namespace ostrel::preview
