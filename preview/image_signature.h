// Tells an image file's format from its bytes, never from its name: the first
// bytes (and, for formats without a magic number, the header's own rules and
// the file's length) decide which decoder is asked. Plain functions without Qt,
// so that they can be tested and fuzzed on their own.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ostrel::preview {

enum class ImageFormat {
  Unknown,
  // Read by Qt's image readers.
  Bmp,
  Jpeg,
  Png,
  Gif,
  Ico,
  Cur,
  Tiff,
  Pnm,
  Wbmp,
  Mng,
  // Read by ImageMagick, each with its one coder.
  Tga,
  Pcx,
  SunRaster,
  Jbig,
  Jpeg2000,
  Pgx,
  Wmf,
  // Read by LibRaw. A TIFF that names a camera maker is tried as a raw file
  // first and as a plain TIFF when LibRaw refuses it.
  CameraRaw,
  CameraRawTiff,
};

enum class ImageDecoder { None, Qt, Magick, LibRaw };

// `bytes` is the file's content from its start; `fileSize` its full length
// (which may exceed bytes.size() when only the start was read). Formats with
// a magic number need 16 bytes; the others are checked against their header
// rules, and WBMP against the exact length its header implies.
ImageFormat DetectImageFormat(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);

// The decoder that reads `format` (None for Unknown).
ImageDecoder DecoderFor(ImageFormat format);

// A short upper-case name of the format, e.g. "JPEG", for the log and tests.
std::string_view ImageFormatName(ImageFormat format);

}  // namespace ostrel::preview
