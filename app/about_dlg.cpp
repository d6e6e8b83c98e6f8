#include "app/about_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>

#include "app/texts.h"

namespace ostrel::app {

CKorvaneAboutDlg::CKorvaneAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutDialog"));
  setWindowTitle(kAppCaption);  // for the task list; the window shows no caption
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  picture_ = new QLabel(this);
  picture_->setPixmap(QPixmap(QStringLiteral(":/artwork/about-picture.png")));
  picture_->adjustSize();
  picture_->move(0, 0);
  const QSize size = picture_->size().expandedTo(QSize(320, 200));
  setFixedSize(size);

  // OK where the dialog template puts it: centred, near the bottom (at 106 of
  // 134 units down, 50 of 210 units wide), and never narrower than its text.
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setAutoDefault(false);
  ok_->setDefault(false);
  const int width = std::max(size.width() * 50 / 210, ok_->sizeHint().width());
  const int height = std::max(size.height() * 14 / 134, ok_->sizeHint().height());
  ok_->setGeometry((size.width() - width) / 2, size.height() * 106 / 134 - height / 2, width, height);
  ok_->setFocus();
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

void CKorvaneAboutDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
      event->accept();  // ignored: only OK closes the dialog
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CKorvaneAboutDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  QDialog::mousePressEvent(event);
}

void CKorvaneAboutDlg::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - dragOffset_);
  if (!(event->buttons() & Qt::LeftButton)) dragging_ = false;
  QDialog::mouseMoveEvent(event);
}

}  // namespace ostrel::app
