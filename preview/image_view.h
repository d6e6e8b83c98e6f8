// The image view: a picture decoded by its content, shown at its own size.
#pragma once

#include <QImage>
#include <QString>
#include <cstddef>

namespace ostrel::preview {

class CKorvaneStaticFileViewer;

// The image view decodes at most this much of a file: the preview's copies
// are never larger.
inline constexpr std::size_t kMaxImageBytes = 10485760;

// Decodes the file by its content (never by its name) and makes a view of the
// picture the pane's current view: at its own size from the top-left corner,
// cut off at the pane's edges, never scaled. False when nothing recognises
// the file as a picture; the pane is then left as it was.
bool ShowImageView(CKorvaneStaticFileViewer& pane, const QString& path);

// The two halves of ShowImageView, so that the decoding, which can take a
// while for a large picture, may run on another thread: the picture in the
// file (at most kMaxImageBytes of it), or a null image when it is none; and
// the view of a decoded picture (false for a null one).
QImage DecodeImageFile(const QString& path);
bool ShowDecodedImage(CKorvaneStaticFileViewer& pane, const QImage& image);

}  // namespace ostrel::preview
