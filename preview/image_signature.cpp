#include "preview/image_signature.h"

#include <algorithm>
#include <array>

#include "base/bytes.h"

namespace ostrel::preview {
namespace {

using Bytes = std::span<const std::uint8_t>;

bool StartsWith(Bytes bytes, std::string_view magic, std::size_t at = 0) {
  if (bytes.size() < at + magic.size()) return false;
  return std::equal(magic.begin(), magic.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

// Every multi-byte field goes through the bounds-checked view; a field that
// lies past the bytes read counts as zero, which no header rule below accepts.
std::uint32_t Le16(Bytes b, std::size_t at) { return ByteView(b.data(), b.size()).U16(at).value_or(0); }
std::uint32_t Le32(Bytes b, std::size_t at) { return ByteView(b.data(), b.size()).U32(at).value_or(0); }
std::uint32_t Be32(Bytes b, std::size_t at) {
  const std::uint32_t v = Le32(b, at);
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

// Reads 16 or 32 bits of a TIFF in its own byte order.
struct TiffReader {
  Bytes b;
  bool big;
  bool Has(std::uint64_t at, std::uint64_t n) const { return at + n <= b.size(); }
  std::uint32_t U16(std::size_t at) const {
    const std::uint32_t v = Le16(b, at);
    return big ? ((v & 0xFF) << 8) | (v >> 8) : v;
  }
  std::uint32_t U32(std::size_t at) const { return big ? Be32(b, at) : Le32(b, at); }
};

// A TIFF is taken for a camera's raw file when its first directory carries the
// DNG version tag or names the camera's maker (every TIFF-based raw format
// does; scanners and editors seldom do, and those files still reach Qt's TIFF
// reader when LibRaw refuses them). Canon's CR2 marks itself after the header.
bool TiffLooksLikeCameraRaw(Bytes bytes) {
  if (bytes.size() < 8) return false;
  if (StartsWith(bytes, "CR", 8)) return true;
  const TiffReader tiff{bytes, bytes[0] == 'M'};
  const std::uint32_t ifd = tiff.U32(4);
  if (!tiff.Has(ifd, 2)) return false;
  const std::uint32_t count = tiff.U16(ifd);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = ifd + 2 + std::uint64_t{i} * 12;
    if (!tiff.Has(entry, 12)) return false;
    const std::uint32_t tag = tiff.U16(entry);
    if (tag == 50706 /* DNGVersion */ || tag == 271 /* Make */) return true;
  }
  return false;
}

// Icons and cursors share one layout; only the type word tells them apart.
// Their header has no magic beyond four bytes that a Targa file can also start
// with (no identification field, no colour map, true-colour image), so the
// directory must hold up: at least one entry whose image lies inside the file
// and starts as a bitmap header or a PNG.
bool IsIconDirectory(Bytes bytes, std::uint64_t fileSize, std::uint32_t type) {
  if (bytes.size() < 22 || Le16(bytes, 0) != 0 || Le16(bytes, 2) != type) return false;
  const std::uint32_t count = Le16(bytes, 4);
  if (count == 0) return false;
  const std::uint64_t directoryEnd = 6 + std::uint64_t{count} * 16;
  const std::uint32_t size = Le32(bytes, 14);
  const std::uint32_t offset = Le32(bytes, 18);
  if (bytes[9] != 0 && bytes[9] != 0xFF) return false;  // reserved byte
  if (size == 0 || offset < directoryEnd || std::uint64_t{offset} + size > fileSize) return false;
  if (std::uint64_t{offset} + 8 > bytes.size()) return true;  // image beyond what was read: trust the directory
  return Le32(bytes, offset) == 40 || StartsWith(bytes, "\x89PNG", offset);
}

bool IsTga(Bytes bytes, std::uint64_t fileSize) {
  if (bytes.size() < 18) return false;
  const std::uint32_t idLength = bytes[0], mapType = bytes[1], imageType = bytes[2];
  const std::uint32_t mapLength = Le16(bytes, 5), mapEntryBits = bytes[7];
  const std::uint32_t width = Le16(bytes, 12), height = Le16(bytes, 14);
  const std::uint32_t depth = bytes[16], descriptor = bytes[17];
  const bool mapped = imageType == 1 || imageType == 9;
  const bool known = mapped || imageType == 2 || imageType == 3 || imageType == 10 || imageType == 11;
  if (!known || mapType > 1 || mapped != (mapType == 1)) return false;
  if (mapType == 0 && (Le16(bytes, 3) != 0 || mapLength != 0 || mapEntryBits != 0)) return false;
  if (mapType == 1 && (mapLength == 0 || (mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 &&
                                          mapEntryBits != 32)))
    return false;
  if (width == 0 || height == 0) return false;
  if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
  if ((descriptor & 0xC0) != 0 || (descriptor & 0x0F) > 8) return false;
  const std::uint64_t header = 18 + idLength + std::uint64_t{mapLength} * ((mapEntryBits + 7) / 8);
  if (imageType >= 9) return fileSize > header;  // run-length data has no fixed length
  return fileSize >= header + std::uint64_t{width} * height * ((depth + 7) / 8);
}

bool IsPcx(Bytes bytes) {
  if (bytes.size() < 128 || bytes[0] != 0x0A || bytes[2] != 1) return false;
  const std::uint32_t version = bytes[1], bits = bytes[3], planes = bytes[65];
  if (version != 0 && version != 2 && version != 3 && version != 4 && version != 5) return false;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8) return false;
  if (planes < 1 || planes > 4 || bytes[64] != 0) return false;
  return Le16(bytes, 4) <= Le16(bytes, 8) && Le16(bytes, 6) <= Le16(bytes, 10);
}

// A JBIG bi-level image entity starts with a 20-byte header without a magic
// number; ITU-T T.82 fixes enough of it to tell it from other data.
bool IsJbig(Bytes bytes) {
  if (bytes.size() < 20) return false;
  const std::uint32_t lowest = bytes[0], layers = bytes[1], planes = bytes[2];
  if (bytes[3] != 0 || lowest > layers || layers > 31 || planes == 0) return false;
  const std::uint32_t width = Be32(bytes, 4), height = Be32(bytes, 8), stripe = Be32(bytes, 12);
  if (width == 0 || height == 0 || stripe == 0) return false;
  return bytes[16] <= 127 && bytes[17] == 0 && (bytes[18] & 0xF0) == 0 && (bytes[19] & 0x80) == 0;
}

// Reads a WBMP multi-byte integer (seven bits a byte, high bit = more follow).
bool ReadUintVar(Bytes bytes, std::size_t& at, std::uint64_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (at >= bytes.size()) return false;
    const std::uint8_t byte = bytes[at++];
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

// WBMP has two zero bytes and two sizes for a header, which much binary data
// could pass for: the file must be exactly as long as those sizes say.
bool IsWbmp(Bytes bytes, std::uint64_t fileSize) {
  if (bytes.size() < 4 || bytes[0] != 0 || bytes[1] != 0) return false;
  std::size_t at = 2;
  std::uint64_t width = 0, height = 0;
  if (!ReadUintVar(bytes, at, width) || !ReadUintVar(bytes, at, height)) return false;
  if (width == 0 || height == 0) return false;
  return fileSize == at + (width + 7) / 8 * height;
}

bool IsPnm(Bytes bytes) {
  if (bytes.size() < 3 || bytes[0] != 'P' || bytes[1] < '1' || bytes[1] > '6') return false;
  const std::uint8_t next = bytes[2];
  return next == ' ' || next == '\t' || next == '\n' || next == '\r' || next == '#';
}

bool IsBmp(Bytes bytes) {
  if (!StartsWith(bytes, "BM") || bytes.size() < 18) return false;
  const std::uint32_t header = Le32(bytes, 14);
  constexpr std::array<std::uint32_t, 8> kHeaderSizes{12, 16, 40, 52, 56, 64, 108, 124};
  return std::find(kHeaderSizes.begin(), kHeaderSizes.end(), header) != kHeaderSizes.end();
}

}  // namespace

ImageFormat DetectImageFormat(Bytes bytes, std::uint64_t fileSize) {
  using namespace std::string_view_literals;
  if (bytes.size() < 4) return ImageFormat::Unknown;
  // Magic numbers first: none of them can be taken for another.
  if (StartsWith(bytes, "\x89PNG\r\n\x1A\n"sv)) return ImageFormat::Png;
  if (StartsWith(bytes, "\x8AMNG\r\n\x1A\n"sv)) return ImageFormat::Mng;
  if (StartsWith(bytes, "\xFF\xD8\xFF"sv)) return ImageFormat::Jpeg;
  if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) return ImageFormat::Gif;
  if (StartsWith(bytes, "\0\0\0\x0CjP  \r\n\x87\n"sv) || StartsWith(bytes, "\xFF\x4F\xFF\x51"sv))
    return ImageFormat::Jpeg2000;
  if (StartsWith(bytes, "\x59\xA6\x6A\x95"sv)) return ImageFormat::SunRaster;
  if (StartsWith(bytes, "\xD7\xCD\xC6\x9A"sv) || StartsWith(bytes, "\x01\0\x09\0\0\x03"sv) ||
      StartsWith(bytes, "\x02\0\x09\0\0\x03"sv))
    return ImageFormat::Wmf;
  if (StartsWith(bytes, "PG ML") || StartsWith(bytes, "PG LM")) return ImageFormat::Pgx;
  // Camera raw formats with magic numbers of their own.
  if (StartsWith(bytes, "IIRO") || StartsWith(bytes, "IIRS") || StartsWith(bytes, "MMOR") ||
      StartsWith(bytes, "IIU\0"sv) || StartsWith(bytes, "HEAPCCDR", 6) || StartsWith(bytes, "FOVb") ||
      StartsWith(bytes, "FUJIFILM") || StartsWith(bytes, "\0MRM"sv))
    return ImageFormat::CameraRaw;
  if (StartsWith(bytes, "II*\0"sv) || StartsWith(bytes, "MM\0*"sv))
    return TiffLooksLikeCameraRaw(bytes) ? ImageFormat::CameraRawTiff : ImageFormat::Tiff;
  if (IsBmp(bytes)) return ImageFormat::Bmp;
  if (IsPnm(bytes)) return ImageFormat::Pnm;
  // Formats told by their header's rules, strictest first.
  if (IsIconDirectory(bytes, fileSize, 1)) return ImageFormat::Ico;
  if (IsIconDirectory(bytes, fileSize, 2)) return ImageFormat::Cur;
  if (IsPcx(bytes)) return ImageFormat::Pcx;
  if (IsTga(bytes, fileSize)) return ImageFormat::Tga;
  if (IsJbig(bytes)) return ImageFormat::Jbig;
  if (IsWbmp(bytes, fileSize)) return ImageFormat::Wbmp;
  return ImageFormat::Unknown;
}

ImageDecoder DecoderFor(ImageFormat format) {
  switch (format) {
    case ImageFormat::Unknown:
      return ImageDecoder::None;
    case ImageFormat::Bmp:
    case ImageFormat::Jpeg:
    case ImageFormat::Png:
    case ImageFormat::Gif:
    case ImageFormat::Ico:
    case ImageFormat::Cur:
    case ImageFormat::Tiff:
    case ImageFormat::Pnm:
    case ImageFormat::Wbmp:
    case ImageFormat::Mng:
      return ImageDecoder::Qt;
    case ImageFormat::Tga:
    case ImageFormat::Pcx:
    case ImageFormat::SunRaster:
    case ImageFormat::Jbig:
    case ImageFormat::Jpeg2000:
    case ImageFormat::Pgx:
    case ImageFormat::Wmf:
      return ImageDecoder::Magick;
    case ImageFormat::CameraRaw:
    case ImageFormat::CameraRawTiff:
      return ImageDecoder::LibRaw;
  }
  return ImageDecoder::None;
}

std::string_view ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::Unknown: return "UNKNOWN";
    case ImageFormat::Bmp: return "BMP";
    case ImageFormat::Jpeg: return "JPEG";
    case ImageFormat::Png: return "PNG";
    case ImageFormat::Gif: return "GIF";
    case ImageFormat::Ico: return "ICO";
    case ImageFormat::Cur: return "CUR";
    case ImageFormat::Tiff: return "TIFF";
    case ImageFormat::Pnm: return "PNM";
    case ImageFormat::Wbmp: return "WBMP";
    case ImageFormat::Mng: return "MNG";
    case ImageFormat::Tga: return "TGA";
    case ImageFormat::Pcx: return "PCX";
    case ImageFormat::SunRaster: return "RAS";
    case ImageFormat::Jbig: return "JBIG";
    case ImageFormat::Jpeg2000: return "JPEG2000";
    case ImageFormat::Pgx: return "PGX";
    case ImageFormat::Wmf: return "WMF";
    case ImageFormat::CameraRaw: return "RAW";
    case ImageFormat::CameraRawTiff: return "RAW-TIFF";
  }
  return "UNKNOWN";
}

}  // namespace ostrel::preview
