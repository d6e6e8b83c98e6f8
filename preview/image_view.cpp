#include "preview/image_view.h"

#include <QLabel>
#include <QPixmap>

#include "preview/image_decoder.h"
#include "preview/preview_io.h"
#include "preview/static_file_viewer.h"

namespace ostrel::preview {

bool ShowImageView(CKorvaneStaticFileViewer& pane, const QString& path) {
  const PreviewWaitCursor wait;
  const auto bytes = ReadFileStart(path, kMaxImageBytes);
  if (!bytes) return false;
  const DecodedImage decoded = DecodeImage(
      QByteArray::fromRawData(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size())));
  if (decoded.image.isNull()) return false;

  auto* view = new QLabel;
  view->setObjectName(QStringLiteral("ImageView"));
  view->setFrameShape(QFrame::Box);
  view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  view->setScaledContents(false);
  view->setPixmap(QPixmap::fromImage(decoded.image));
  pane.SetCurrentView(view);
  return true;
}

}  // namespace ostrel::preview
