// CKorvaneSplashWnd: the picture shown while the program starts. A frameless
// window that stays on top, centred on the screen, shaped by the picture
// (pure magenta pixels are cut out). It fades in over 500 ms, stays for
// 2,000 ms, fades out over 200 ms and then closes and deletes itself; clicks
// and keys do not end it early. Without its picture there is no splash.
//
// The timing is a plain schedule (SplashOpacity) driven by a clock that tests
// can replace.
#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QWidget>
#include <functional>

class QTimer;

namespace ostrel::app {

inline constexpr int kSplashFadeInMs = 500;
inline constexpr int kSplashShownMs = 2000;
inline constexpr int kSplashFadeOutMs = 200;
inline constexpr int kSplashTotalMs = kSplashFadeInMs + kSplashShownMs + kSplashFadeOutMs;

// The window's opacity `elapsedMs` after it started to show: rising over the
// fade-in, 1 while shown, falling over the fade-out, 0 after.
double SplashOpacity(qint64 elapsedMs);

class CKorvaneSplashWnd : public QWidget {
  Q_OBJECT

 public:
  using Clock = std::function<qint64()>;  // milliseconds since some start

  // Shows the splash owned by `owner` and answers it; null when the picture
  // cannot be loaded. It deletes itself when it is done.
  static CKorvaneSplashWnd* Show(QWidget* owner, const QString& picture = QStringLiteral(":/artwork/splash.png"),
                                 Clock clock = {});

  // Sets the opacity for the clock's time, and ends the window once the
  // fade-out is over. The window's timer calls it; tests may too.
  void Tick();
  bool Done() const { return done_; }

 signals:
  void finished();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CKorvaneSplashWnd(QWidget* owner, const QPixmap& picture, Clock clock);

  QPixmap picture_;
  Clock clock_;
  qint64 start_ = 0;
  QTimer* timer_ = nullptr;
  bool done_ = false;
};

}  // namespace ostrel::app
