#include "preview/hex_layout.h"

#include <algorithm>
#include <array>

namespace ostrel::preview {
namespace {

struct HeaderFieldKind {
  int code;
  const char* label;
  int digits;  // 0: the address digits
};
constexpr std::array<HeaderFieldKind, 5> kHeaderFields{{{kFieldAddr, "Addr", 0},
                                                  {kFieldHex, "Hex", 2},
                                                  {kFieldDec, "Dec", 3},
                                                  {kFieldBin, "Bin", 8},
                                                  {kFieldAscii, "Ascii", 1}}};

}  // namespace

bool IsHexDigit(QChar c) {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
         (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

int HexDigitCount(std::int64_t value) {
  int digits = 1;
  for (std::uint64_t v = static_cast<std::uint64_t>(std::max<std::int64_t>(value, 0)) >> 4; v != 0; v >>= 4) ++digits;
  return digits;
}

int AddressDigits(std::int64_t base, std::int64_t count) {
  const std::int64_t last = base + count - 1;
  if (last <= 0xFFFF) return 4;
  return 4 + HexDigitCount(last >> 16);
}

QString FormatAddress(std::int64_t address, int digits) {
  return QString::number(address, 16).toUpper().rightJustified(digits, QLatin1Char('0')).right(digits);
}

HexDumpLayout::HexDumpLayout(const QRect& client, const DumpMetrics& metrics, int addressDigits)
    : client_(client), metrics_(metrics), addressDigits_(addressDigits) {
  const int cw = std::max(metrics.charWidth, 1);
  const int lh = std::max(metrics.lineHeight, 1);
  metrics_.charWidth = cw;
  metrics_.lineHeight = lh;
  const int left = client.left();
  // QRect's right() is the last pixel inside; the arithmetic wants the edge.
  const int right = client.left() + client.width();
  const int bottom = client.top() + client.height();

  hexLeft_ = left + (addressDigits + 2) * cw;
  const int width = right - hexLeft_ - metrics.scrollBarWidth;
  bytesPerRow_ = width / cw - 3 > 0 ? (width - 3 * cw + 1) / (4 * cw + 1) : 0;
  asciiLeft_ = hexLeft_ + (3 * bytesPerRow_ + 1) * cw;
  asciiRight_ = asciiLeft_ + bytesPerRow_ + (bytesPerRow_ + 2) * cw;

  // Header fields from L + cw to R - cw, one character apart; a field that
  // does not fit the rest of its line starts the next one.
  const int start = left + cw;
  const int end = right - cw;
  int x = start;
  int line = 0;
  for (const HeaderFieldKind& kind : kHeaderFields) {
    HeaderField field;
    field.code = kind.code;
    field.label = QString::fromLatin1(kind.label);
    field.digits = kind.digits == 0 ? addressDigits : kind.digits;
    const int labelChars = static_cast<int>(field.label.size());
    const int fieldWidth = (labelChars + field.digits + 3) * cw;
    if (fieldWidth > end - start) continue;
    if (x + fieldWidth > end && x != start) {
      ++line;
      x = start;
    }
    field.line = line;
    field.labelAt = QPoint(x, LineTop(line));
    field.valueRect = QRect(x + (labelChars + 1) * cw, LineTop(line), (field.digits + 2) * cw, lh);
    fields_.push_back(field);
    x += fieldWidth + cw;
  }
  headerBottom_ = LineTop(line + 1);
  const int rowsHeight = bottom - headerBottom_ - lh / 4;
  visibleRows_ = rowsHeight > 0 ? rowsHeight / lh : 0;
}

int HexDumpLayout::LineTop(int line) const {
  return client_.top() + metrics_.lineHeight / 6 + line * metrics_.lineHeight;
}

QRect HexDumpLayout::HeaderValueRect(int code) const {
  for (const HeaderField& field : fields_) {
    if (field.code == code) return field.valueRect;
  }
  return {};
}

int HexDumpLayout::RowTop(int row) const {
  return headerBottom_ + metrics_.lineHeight / 4 + row * metrics_.lineHeight;
}

QRect HexDumpLayout::AddressCellRect(int row) const {
  const int cw = metrics_.charWidth;
  return QRect(AddressLeft() + cw / 2, RowTop(row), (addressDigits_ + 1) * cw, metrics_.lineHeight);
}

QRect HexDumpLayout::HexCellRect(int row, int column) const {
  const int cw = metrics_.charWidth;
  return QRect(hexLeft_ + 3 * column * cw + cw / 2, RowTop(row), 3 * cw, metrics_.lineHeight);
}

QRect HexDumpLayout::AsciiCellRect(int row, int column) const {
  const int cw = metrics_.charWidth;
  return QRect(asciiLeft_ + column * (cw + 1) + cw - 1, RowTop(row), cw + 2, metrics_.lineHeight);
}

QRect HexDumpLayout::CellRect(const DumpHit& hit, int topUnit) const {
  if (IsHeaderField(hit.code)) return HeaderValueRect(hit.code);
  if (hit.unit < topUnit || bytesPerRow_ <= 0) return {};
  const int row = (hit.unit - topUnit) / bytesPerRow_;
  const int column = (hit.unit - topUnit) % bytesPerRow_;
  if (row >= visibleRows_) return {};
  switch (hit.code) {
    case kFieldAddressColumn: return AddressCellRect(row);
    case kFieldHexColumn: return HexCellRect(row, column);
    case kFieldAsciiColumn: return AsciiCellRect(row, column);
    default: return {};
  }
}

QRect HexDumpLayout::ScrollBarRect() const {
  const int right = client_.left() + client_.width();
  const int bottom = client_.top() + client_.height();
  return QRect(right - metrics_.scrollBarWidth, headerBottom_, metrics_.scrollBarWidth,
               std::max(bottom - headerBottom_, 0));
}

DumpHit HexDumpLayout::HitTest(const QPoint& point, int topUnit, int count) const {
  const int x = point.x();
  const int y = point.y();
  if (y < headerBottom_) {
    for (const HeaderField& field : fields_) {
      if (field.valueRect.contains(point)) return {field.code, -1};
    }
    return {};
  }
  const int cw = metrics_.charWidth;
  const int lh = metrics_.lineHeight;
  const int firstRowTop = headerBottom_ + lh / 4;
  if (y < firstRowTop || bytesPerRow_ <= 0) return {};
  const int row = (y - firstRowTop) / lh;
  if (row >= visibleRows_) return {};

  int code = kFieldNone;
  int column = 0;
  if (AddressCellRect(0).left() <= x && x <= AddressCellRect(0).right()) {
    code = kFieldAddressColumn;  // the row's first unit
  } else if (const int from = hexLeft_ + cw / 2; from <= x && x < from + 3 * bytesPerRow_ * cw) {
    code = kFieldHexColumn;
    column = (x - from) / cw / 3;
  } else if (const int from = asciiLeft_ + cw - 1; from <= x && x < from + bytesPerRow_ * (cw + 1)) {
    code = kFieldAsciiColumn;
    column = (x - from) / (cw + 1);
  } else {
    return {};
  }
  const std::int64_t unit = static_cast<std::int64_t>(row) * bytesPerRow_ + topUnit + column;
  if (unit < 0 || unit >= count) return {};
  return {code, static_cast<int>(unit)};
}

int HexDumpLayout::ScrollMax(int count) const {
  const int visible = UnitsVisible();
  if (bytesPerRow_ <= 0 || count <= visible) return 0;
  return (count - visible) / bytesPerRow_ + (count % bytesPerRow_ != 0 ? 1 : 0);
}

int HexDumpLayout::EnsureUnitVisible(int topUnit, int unit) const {
  if (bytesPerRow_ <= 0 || unit < 0) return topUnit;
  const int rowStart = unit / bytesPerRow_ * bytesPerRow_;
  if (rowStart < topUnit) return rowStart;
  const int visible = UnitsVisible();
  if (rowStart >= topUnit + visible) {
    // With no whole row on screen, the row itself goes to the top.
    return visible > 0 ? rowStart + bytesPerRow_ - visible : rowStart;
  }
  return topUnit;
}

CaretMove MoveCaret(CaretKey key, int caret, int count, int bytesPerRow, int unitsVisible) {
  if (count <= 0 || bytesPerRow <= 0) return {caret};
  caret = std::clamp(caret, 0, count - 1);
  const int rowStart = caret / bytesPerRow * bytesPerRow;
  const int lastRowStart = (count - 1) / bytesPerRow * bytesPerRow;
  // Down and Page Down past the end: the caret stays; from above the last
  // row, the last row is shown as well.
  const auto forward = [&](int target) -> CaretMove {
    if (target < count) return {target};
    return {caret, rowStart < lastRowStart ? count - 1 : -1};
  };
  switch (key) {
    case CaretKey::Left: return {std::max(caret - 1, 0)};
    case CaretKey::Right: return {std::min(caret + 1, count - 1)};
    case CaretKey::Up: return {caret - bytesPerRow >= 0 ? caret - bytesPerRow : caret};
    case CaretKey::Down: return forward(caret + bytesPerRow);
    case CaretKey::PageUp: return {caret - unitsVisible >= 0 ? caret - unitsVisible : caret % bytesPerRow};
    case CaretKey::PageDown: return forward(caret + unitsVisible);
    case CaretKey::Home: return {rowStart};
    case CaretKey::End: return {std::min(rowStart + bytesPerRow - 1, count - 1)};
    case CaretKey::CtrlHome: return {0};
    case CaretKey::CtrlEnd: return {count - 1};
  }
  return {caret};
}

QString FormatTipText(const QString& format, std::span<const std::uint8_t> data, int unit, int addressDigits) {
  QString out;
  qsizetype lineStart = 0;
  const qsizetype size = format.size();
  for (qsizetype i = 0; i < size; ++i) {
    const QChar c = format[i];
    if (c != QLatin1Char('%')) {
      out += c;
      continue;
    }
    if (++i >= size) break;
    bool lastMostSignificant = false;
    if (format[i] == QLatin1Char('+') || format[i] == QLatin1Char('-')) {
      lastMostSignificant = format[i] == QLatin1Char('-');
      if (++i >= size) break;
    }
    int digit = 0;
    if (format[i] >= QLatin1Char('0') && format[i] <= QLatin1Char('4')) {
      digit = format[i].digitValue();
      if (++i >= size) break;
    }
    const char letter = format[i].toLatin1();
    if (letter == 'R') {
      const int width = 2 * (digit > 0 ? digit : (addressDigits + 1) / 2);
      out += QString::number(unit, 16).toUpper().rightJustified(width, QLatin1Char('0'));
      continue;
    }
    if (letter == 'n') {
      out += QStringLiteral("\r\n");
      lineStart = out.size();
      continue;
    }
    if (letter == 't') {
      const qsizetype column = out.size() - lineStart;
      out += QString(4 - column % 4, QLatin1Char(' '));
      continue;
    }
    if (letter != 'H' && letter != 'D' && letter != 'O' && letter != 'B' && letter != 'A') continue;

    // The bytes from the unit on, as many as the data holds.
    int bytes = digit > 0 ? digit : 1;
    const std::int64_t available = unit >= 0 && static_cast<std::size_t>(unit) < data.size()
                                       ? static_cast<std::int64_t>(data.size()) - unit
                                       : 0;
    bytes = static_cast<int>(std::min<std::int64_t>(bytes, available));
    std::array<std::uint8_t, 4> ordered{};  // most significant first
    for (int k = 0; k < bytes; ++k) {
      const std::uint8_t b = data[static_cast<std::size_t>(unit) + static_cast<std::size_t>(k)];
      ordered[static_cast<std::size_t>(lastMostSignificant ? bytes - 1 - k : k)] = b;
    }
    std::uint32_t value = 0;
    for (int k = 0; k < bytes; ++k) value = value << 8 | ordered[static_cast<std::size_t>(k)];

    if (bytes == 0) continue;
    switch (letter) {
      case 'H':
        out += QString::number(value, 16).toUpper().rightJustified(2 * bytes, QLatin1Char('0'));
        break;
      case 'D':
        out += QString::number(value);
        break;
      case 'O':
        out += QString::number(value, 8);
        break;
      case 'B':
        for (int k = 0; k < bytes; ++k) {
          if (k > 0) out += QLatin1Char('-');
          out += QString::number(ordered[static_cast<std::size_t>(k)], 2).rightJustified(8, QLatin1Char('0'));
        }
        break;
      case 'A':
        // A zero has no character; other values below 32 go in as they are.
        if (value != 0 && value <= 0x10FFFF) {
          const char32_t character = value;
          out += QString::fromUcs4(&character, 1);
        }
        break;
    }
  }
  return out;
}

AddressEntry ParseAddress(const QString& text, std::int64_t lowest, std::int64_t highest) {
  const bool digitsOnly = std::all_of(text.begin(), text.end(), [](QChar c) { return IsHexDigit(c); });
  bool ok = false;
  const std::int64_t value = text.isEmpty() || !digitsOnly ? -1 : text.toLongLong(&ok, 16);
  if (!ok || value < 0) return {};
  return {lowest <= value && value <= highest, value};
}

}  // namespace ostrel::preview
