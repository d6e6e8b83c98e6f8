#include "preview/text_view.h"

#include <QPlainTextEdit>
#include <algorithm>

#include "preview/preview_io.h"
#include "preview/static_file_viewer.h"

namespace ostrel::preview {

bool ShowTextView(CKorvaneStaticFileViewer& pane, const QString& path) {
  const PreviewWaitCursor wait;
  auto* view = new QPlainTextEdit;
  view->setObjectName(QStringLiteral("TextView"));
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pane.SetCurrentView(view);

  const auto bytes = ReadFileStart(path, kMaxTextBytes);
  if (!bytes) {
    pane.DestroyCurrentView();
    return false;
  }
  // Up to the first zero byte; each byte the character of the same code.
  const auto end = std::find(bytes->begin(), bytes->end(), std::uint8_t{0});
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(bytes->data()),
                                           static_cast<qsizetype>(end - bytes->begin()));
  view->setFont(pane.TextFont());
  view->setPlainText(text);
  return true;
}

}  // namespace ostrel::preview
