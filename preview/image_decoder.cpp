#include "preview/image_decoder.h"

#include <libraw/libraw.h>

#include <Magick++.h>
#include <QBuffer>
#include <QImageReader>
#include <cstdint>
#include <cstring>
#include <exception>
#include <span>

namespace ostrel::preview {
namespace {

// ImageMagick reads only the coders that the signature check hands it. Every
// other coder, every external delegate program, indirect file names ("@list")
// and filters are refused by a policy that the program sets itself, so that
// neither a system-wide policy file nor a crafted file can widen it.
constexpr const char* kMagickPolicy =
    "<policymap>"
    "<policy domain=\"coder\" rights=\"none\" pattern=\"*\"/>"
    "<policy domain=\"coder\" rights=\"read\" pattern=\"{TGA,PCX,SUN,RAS,JBIG,JBG,BIE,JP2,J2K,JPC,PGX,WMF}\"/>"
    "<policy domain=\"module\" rights=\"none\" pattern=\"*\"/>"
    // Loading a coder's module asks for both rights; the coder rule above
    // still allows only reading.
    "<policy domain=\"module\" rights=\"read|write\" pattern=\"{TGA,PCX,SUN,JBIG,JP2,PGX,WMF}\"/>"
    "<policy domain=\"delegate\" rights=\"none\" pattern=\"*\"/>"
    "<policy domain=\"filter\" rights=\"none\" pattern=\"*\"/>"
    "<policy domain=\"path\" rights=\"none\" pattern=\"@*\"/>"
    "</policymap>";

// Set up once, on first use. False when the policy could not be put in place:
// ImageMagick is then never asked.
bool MagickReady() {
  static const bool ready = [] {
    Magick::InitializeMagick(nullptr);
    MagickCore::ExceptionInfo* exception = MagickCore::AcquireExceptionInfo();
    const bool policySet = MagickCore::SetMagickSecurityPolicy(kMagickPolicy, exception) == MagickCore::MagickTrue;
    MagickCore::DestroyExceptionInfo(exception);
    if (!policySet) return false;
    // Limits well above any picture the preview's 10 MB copy can hold.
    MagickCore::SetMagickResourceLimit(MagickCore::MemoryResource, 256ULL << 20);
    MagickCore::SetMagickResourceLimit(MagickCore::MapResource, 512ULL << 20);
    MagickCore::SetMagickResourceLimit(MagickCore::DiskResource, 1ULL << 30);
    MagickCore::SetMagickResourceLimit(MagickCore::WidthResource, 16384);
    MagickCore::SetMagickResourceLimit(MagickCore::HeightResource, 16384);
    MagickCore::SetMagickResourceLimit(MagickCore::AreaResource, 64ULL << 20);
    MagickCore::SetMagickResourceLimit(MagickCore::ListLengthResource, 64);
    MagickCore::SetMagickResourceLimit(MagickCore::ThreadResource, 1);
    return true;
  }();
  return ready;
}

const char* MagickCoder(ImageFormat format) {
  switch (format) {
    case ImageFormat::Tga: return "TGA";
    case ImageFormat::Pcx: return "PCX";
    case ImageFormat::SunRaster: return "SUN";
    case ImageFormat::Jbig: return "JBIG";
    case ImageFormat::Jpeg2000: return "JP2";
    case ImageFormat::Pgx: return "PGX";
    case ImageFormat::Wmf: return "WMF";
    default: return nullptr;
  }
}

QImage DecodeWithMagick(const QByteArray& content, ImageFormat format) {
  const char* coder = MagickCoder(format);
  if (coder == nullptr || !MagickReady()) return {};
  try {
    Magick::Blob blob(content.constData(), static_cast<std::size_t>(content.size()));
    Magick::Image image;
    image.quiet(true);
    image.magick(coder);
    image.read(blob);
    const auto width = image.columns(), height = image.rows();
    if (width == 0 || height == 0) return {};
    QImage out(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
    if (out.isNull()) return {};
    // QImage rows may be padded; ImageMagick writes them packed.
    QByteArray packed(static_cast<qsizetype>(width * height * 4), Qt::Uninitialized);
    image.write(0, 0, width, height, "RGBA", Magick::CharPixel, packed.data());
    for (int y = 0; y < out.height(); ++y)
      std::memcpy(out.scanLine(y), packed.constData() + static_cast<qsizetype>(y) * width * 4, width * 4);
    return out;
  } catch (const std::exception&) {
    return {};
  }
}

QImage DecodeWithQt(const QByteArray& content, ImageFormat format) {
  QByteArray name;
  switch (format) {
    case ImageFormat::Bmp: name = "bmp"; break;
    case ImageFormat::Jpeg: name = "jpeg"; break;
    case ImageFormat::Png: name = "png"; break;
    case ImageFormat::Gif: name = "gif"; break;
    case ImageFormat::Ico: name = "ico"; break;
    case ImageFormat::Cur: name = "cur"; break;
    case ImageFormat::Tiff:
    case ImageFormat::CameraRawTiff: name = "tiff"; break;
    case ImageFormat::Pnm: name = "ppm"; break;
    case ImageFormat::Wbmp: name = "wbmp"; break;
    case ImageFormat::Mng: name = "mng"; break;
    default: return {};
  }
  QBuffer buffer;
  buffer.setData(content);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, name);
  reader.setDecideFormatFromContent(false);
  return reader.read();
}

// Camera raw files: demosaiced, white-balanced as shot, 8 bits a channel.
QImage DecodeWithLibRaw(const QByteArray& content) {
  constexpr std::uint64_t kMaxRawPixels = 120'000'000;
  try {
    LibRaw raw;
    raw.imgdata.params.output_bps = 8;
    raw.imgdata.params.use_camera_wb = 1;
    // LibRaw reads the buffer and never writes it; its interface is not const.
    void* data = const_cast<char*>(content.constData());
    if (raw.open_buffer(data, static_cast<std::size_t>(content.size())) != LIBRAW_SUCCESS) return {};
    const std::uint64_t pixels = std::uint64_t{raw.imgdata.sizes.raw_width} * raw.imgdata.sizes.raw_height;
    if (pixels == 0 || pixels > kMaxRawPixels) return {};
    if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS) return {};
    int error = LIBRAW_SUCCESS;
    libraw_processed_image_t* made = raw.dcraw_make_mem_image(&error);
    if (made == nullptr) return {};
    QImage out;
    if (made->type == LIBRAW_IMAGE_BITMAP && made->colors == 3 && made->bits == 8 && made->width > 0 &&
        made->height > 0) {
      out = QImage(made->data, made->width, made->height, made->width * 3, QImage::Format_RGB888).copy();
    }
    LibRaw::dcraw_clear_mem(made);
    return out;
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

DecodedImage DecodeImage(const QByteArray& content) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.constData());
  const ImageFormat format =
      DetectImageFormat(std::span(bytes, static_cast<std::size_t>(content.size())),
                        static_cast<std::uint64_t>(content.size()));
  QImage image;
  switch (DecoderFor(format)) {
    case ImageDecoder::None:
      break;
    case ImageDecoder::Qt:
      image = DecodeWithQt(content, format);
      break;
    case ImageDecoder::Magick:
      image = DecodeWithMagick(content, format);
      break;
    case ImageDecoder::LibRaw:
      image = DecodeWithLibRaw(content);
      // A TIFF that names a maker may be a scanner's or an editor's picture.
      if (image.isNull() && format == ImageFormat::CameraRawTiff) image = DecodeWithQt(content, format);
      break;
  }
  if (image.isNull()) return {};
  return {image, format};
}

}  // namespace ostrel::preview
