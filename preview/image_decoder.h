// Decodes an image file's content into a QImage, choosing the decoder by what
// the bytes are (see image_signature.h), never by the file's name: Qt's image
// readers, ImageMagick restricted to a handful of coders, or LibRaw.
#pragma once

#include <QByteArray>
#include <QImage>

#include "preview/image_signature.h"

namespace ostrel::preview {

struct DecodedImage {
  QImage image;  // null when no decoder recognised the content
  ImageFormat format = ImageFormat::Unknown;
};

// Decodes `content`, a whole file. Never throws; a content that no decoder
// accepts gives a null image.
DecodedImage DecodeImage(const QByteArray& content);

}  // namespace ostrel::preview
