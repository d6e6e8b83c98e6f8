#include "preview/image_view.h"

#include <QLabel>
#include <QPixmap>

#include "preview/image_decoder.h"
#include "preview/preview_io.h"
#include "preview/static_file_viewer.h"

namespace ostrel::preview {

QImage DecodeImageFile(const QString& path) {
  const auto bytes = ReadFileStart(path, kMaxImageBytes);
  if (!bytes) return {};
  return DecodeImage(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes->data()),
                                             static_cast<qsizetype>(bytes->size())))
      .image;
}

bool ShowImageView(CKorvaneStaticFileViewer& pane, const QString& path) {
  const PreviewWaitCursor wait;
  return ShowDecodedImage(pane, DecodeImageFile(path));
}

bool ShowDecodedImage(CKorvaneStaticFileViewer& pane, const QImage& image) {
  if (image.isNull()) return false;
  auto* view = new QLabel;
  view->setObjectName(QStringLiteral("ImageView"));
  view->setFrameShape(QFrame::Box);
  view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  view->setScaledContents(false);
  view->setPixmap(QPixmap::fromImage(image));
  pane.SetCurrentView(view);
  return true;
}

}  // namespace ostrel::preview
