// CKorvaneAboutDlg: the About dialog. The program's picture fills it and an
// OK button sits near its bottom; it has no caption, so it can be dragged by
// pressing the mouse anywhere on it. Enter and Escape are ignored: only OK
// (clicked, or Space while it has the focus) closes it.
#pragma once

#include <QDialog>
#include <QPoint>

class QLabel;
class QPushButton;

namespace ostrel::app {

class CKorvaneAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CKorvaneAboutDlg(QWidget* parent = nullptr);

  QPushButton* OkButton() const { return ok_; }
  QLabel* Picture() const { return picture_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QLabel* picture_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPoint dragOffset_;
  bool dragging_ = false;
};

}  // namespace ostrel::app
