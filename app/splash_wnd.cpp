#include "app/splash_wnd.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <memory>

namespace ostrel::app {

double SplashOpacity(qint64 elapsedMs) {
  if (elapsedMs <= 0) return 0.0;
  if (elapsedMs < kSplashFadeInMs) return static_cast<double>(elapsedMs) / kSplashFadeInMs;
  if (elapsedMs < kSplashFadeInMs + kSplashShownMs) return 1.0;
  if (elapsedMs < kSplashTotalMs) {
    return 1.0 - static_cast<double>(elapsedMs - kSplashFadeInMs - kSplashShownMs) / kSplashFadeOutMs;
  }
  return 0.0;
}

CKorvaneSplashWnd* CKorvaneSplashWnd::Show(QWidget* owner, const QString& picture, Clock clock) {
  const QPixmap pixmap(picture);
  if (pixmap.isNull()) return nullptr;
  if (!clock) {
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    clock = [elapsed] { return elapsed->elapsed(); };
  }
  auto* splash = new CKorvaneSplashWnd(owner, pixmap, std::move(clock));
  splash->show();
  return splash;
}

CKorvaneSplashWnd::CKorvaneSplashWnd(QWidget* owner, const QPixmap& picture, Clock clock)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(picture),
      clock_(std::move(clock)) {
  setObjectName(QStringLiteral("KorvaneSplash"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(picture_.size());
  setMask(picture_.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  start_ = clock_();
  setWindowOpacity(0.0);
  timer_ = new QTimer(this);
  timer_->setInterval(15);
  connect(timer_, &QTimer::timeout, this, &CKorvaneSplashWnd::Tick);
  timer_->start();
}

void CKorvaneSplashWnd::Tick() {
  if (done_) return;
  const qint64 elapsed = clock_() - start_;
  setWindowOpacity(SplashOpacity(elapsed));
  if (elapsed < kSplashTotalMs) return;
  done_ = true;
  timer_->stop();
  emit finished();
  close();  // deletes the window
}

void CKorvaneSplashWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, picture_);
}

// Neither a click nor a key ends the splash early.
void CKorvaneSplashWnd::mousePressEvent(QMouseEvent* event) { event->accept(); }
void CKorvaneSplashWnd::keyPressEvent(QKeyEvent* event) { event->accept(); }

}  // namespace ostrel::app
