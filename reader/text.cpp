#include "reader/text.h"

#include <cstdint>

namespace ostrel {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendUtf16AsUtf8(out, text);
  return out;
}

void AppendUtf16AsUtf8(std::string& out, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
}

namespace {

// `text` as UTF-16; each byte that does not begin a valid UTF-8 sequence
// becomes `invalid(byte)`.
template <typename Invalid>
std::u16string DecodeUtf8(std::string_view text, Invalid invalid) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    bool valid = false;
    if (b < 0x80) {
      valid = true;
      c = b;
    } else {
      std::size_t need = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
      if (b >= 0xF5) need = 0;
      char32_t v = need == 3 ? (b & 0x07) : need == 2 ? (b & 0x0F) : (b & 0x1F);
      bool ok = need > 0;
      for (std::size_t k = 1; ok && k <= need; ++k) {
        if (i + k >= text.size()) { ok = false; break; }
        const auto cb = static_cast<std::uint8_t>(text[i + k]);
        if ((cb & 0xC0) != 0x80) { ok = false; break; }
        v = (v << 6) | (cb & 0x3F);
      }
      const bool overlong = (need == 2 && v < 0x800) || (need == 3 && v < 0x10000);
      if (ok && !overlong && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        c = v;
        len = need + 1;
        valid = true;
      }
    }
    if (!valid) c = invalid(b);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  return DecodeUtf8(text, [](std::uint8_t) { return char32_t{0xFFFD}; });
}

std::u16string PathToUtf16(std::string_view path) {
  return DecodeUtf8(path, [](std::uint8_t b) { return static_cast<char32_t>(0xDC00 + b); });
}

bool IsValidUtf8(std::string_view text) {
  bool valid = true;
  DecodeUtf8(text, [&](std::uint8_t) {
    valid = false;
    return char32_t{0xFFFD};
  });
  return valid;
}

std::string PathFromUtf16(std::u16string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t from = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char16_t u = path[i];
    const bool lone = u >= 0xDC80 && u <= 0xDCFF && (i == 0 || path[i - 1] < 0xD800 || path[i - 1] > 0xDBFF);
    if (!lone) continue;
    AppendUtf16AsUtf8(out, path.substr(from, i - from));
    out += static_cast<char>(u - 0xDC00);
    from = i + 1;
  }
  AppendUtf16AsUtf8(out, path.substr(from));
  return out;
}

}  // namespace ostrel
