#include "preview/static_file_viewer.h"

#include <QApplication>
#include <QMimeDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

namespace ostrel::preview {
namespace {

QFont MakeFont(const QString& family, int pixelHeight, QFont::Weight weight) {
  QFont font(family);
  font.setPixelSize(pixelHeight);
  font.setWeight(weight);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

ShellFileTypes StyleFileTypes() {
  return {[] { return QApplication::style()->standardIcon(QStyle::SP_DirIcon); },
          [](const QString&) { return QApplication::style()->standardIcon(QStyle::SP_FileIcon); },
          [](const QString& name) {
            const QMimeType mime = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
            return mime.isDefault() ? QStringLiteral("File") : mime.comment();
          }};
}

}  // namespace

CKorvaneStaticFileViewer::CKorvaneStaticFileViewer(QWidget* parent)
    : QWidget(parent),
      textFont_(MakeFont(QStringLiteral("Times New Roman"), 18, QFont::Normal)),
      headerFont_(MakeFont(QStringLiteral("Arial"), 16, QFont::Bold)),
      shellTypes_(StyleFileTypes()) {
  setObjectName(QStringLiteral("FileViewer"));
  // The pane's text is a label for tools such as screen readers; it is never
  // painted: an empty pane is a white area.
  setWindowTitle(QStringLiteral("Select file to see preview....."));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CKorvaneStaticFileViewer::~CKorvaneStaticFileViewer() = default;

void CKorvaneStaticFileViewer::SetCurrentView(QWidget* view) {
  if (view == current_) return;
  DestroyCurrentView();
  current_ = view;
  if (view == nullptr) return;
  view->setParent(this);
  view->setGeometry(rect());
  view->show();
  if (loading_ != nullptr) loading_->raise();
}

void CKorvaneStaticFileViewer::SetLoading(bool loading) {
  if (loading && loading_ == nullptr) {
    loading_ = new QLabel(QStringLiteral("Loading the preview..."), this);
    loading_->setObjectName(QStringLiteral("PreviewLoading"));
    loading_->setAutoFillBackground(true);
    loading_->setMargin(4);
    loading_->setFrameShape(QFrame::Box);
  }
  if (loading_ == nullptr) return;
  if (loading) {
    loading_->adjustSize();
    loading_->move(0, 0);
    loading_->raise();
    loading_->show();
    setCursor(Qt::BusyCursor);
  } else {
    loading_->hide();
    unsetCursor();
  }
}

void CKorvaneStaticFileViewer::DestroyCurrentView() {
  if (current_ == nullptr) return;
  delete current_.data();
  current_ = nullptr;
  update();
}

void CKorvaneStaticFileViewer::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), Qt::white);
}

void CKorvaneStaticFileViewer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (current_ != nullptr) {
    current_->setGeometry(rect());
    current_->update();
  }
}

}  // namespace ostrel::preview
