// The arithmetic of the hex dump view, apart from any widget: where the
// address, hex and ASCII columns and the header bar's fields lie for a given
// client rectangle and font, how many bytes a row holds, which unit a point
// falls on, how far the view can scroll, where the caret keys take the caret,
// and the texts the view shows (addresses, tooltip directives, the typed
// address).
//
// Screen picture of one row, with cw the character width and A the address
// digits (each byte takes three characters in the hex column and one
// character plus one pixel in the ASCII column):
//
//   | addr (A + 2) × cw | hex (3 × n + 1) × cw        | ASCII n + (n + 2) × cw |
//     " 0001A "           " 41 " " 42 " ...             " A " " B " ...
//
// The header bar above the rows holds the fields "Addr", "Hex", "Dec", "Bin"
// and "Ascii": the label, ":" and a value cell of (digits + 2) characters,
// wrapped onto further lines when the bar is narrow.
//
// Units are byte indices into the shown data; counts are at most 1,048,576,
// so plain int is wide enough everywhere. Nothing here reads a byte outside
// the span it is given.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::preview {

// The view shows at most this many bytes of a file: its first MiB.
inline constexpr int kMaxDumpBytes = 1048576;

// What a point of the view is on.
enum DumpField : int {
  kFieldNone = -1,
  kFieldAddr = 1,   // header bar, "Addr" value
  kFieldHex = 2,    // header bar, "Hex" value
  kFieldDec = 3,    // header bar, "Dec" value
  kFieldBin = 4,    // header bar, "Bin" value
  kFieldAscii = 6,  // header bar, "Ascii" value
  kFieldAddressColumn = 17,
  kFieldHexColumn = 18,
  kFieldAsciiColumn = 22,
};

inline bool IsHeaderField(int code) { return code >= kFieldAddr && code <= kFieldAscii; }
inline bool IsDataCell(int code) { return code == kFieldHexColumn || code == kFieldAsciiColumn; }

// Hexadecimal digits of the addresses: 4, or more once the last address
// (base + count - 1) passes 0xFFFF; 5 for the 1 MiB that the view shows.
int AddressDigits(std::int64_t base, std::int64_t count);

// An address as the address column shows it: upper-case hexadecimal with
// exactly `digits` digits.
QString FormatAddress(std::int64_t address, int digits);

// The font's figures that the layout depends on.
struct DumpMetrics {
  int charWidth = 0;       // cw: the font's average character width
  int lineHeight = 0;      // lh: the character height × 1.2, truncated
  int scrollBarWidth = 0;  // the system's vertical scroll bar width
};

struct HeaderField {
  int code = kFieldNone;
  QString label;  // "Addr", "Hex", ...
  int digits = 0;
  int line = 0;     // the header line it sits on, from 0
  QPoint labelAt;   // top left of the label's text
  QRect valueRect;  // the value cell, (digits + 2) characters wide
};

struct DumpHit {
  int code = kFieldNone;
  int unit = -1;
  bool operator==(const DumpHit&) const = default;
};

class HexDumpLayout {
 public:
  HexDumpLayout(const QRect& client, const DumpMetrics& metrics, int addressDigits);

  int BytesPerRow() const { return bytesPerRow_; }
  int AddressDigits() const { return addressDigits_; }
  const DumpMetrics& Metrics() const { return metrics_; }
  const QRect& Client() const { return client_; }

  int AddressLeft() const { return client_.left(); }
  int HexLeft() const { return hexLeft_; }
  int AsciiLeft() const { return asciiLeft_; }
  int AsciiRight() const { return asciiRight_; }

  const std::vector<HeaderField>& HeaderFields() const { return fields_; }
  // The value cell of a header field, empty when the field was left out.
  QRect HeaderValueRect(int code) const;
  // D: where the header bar ends and the rows begin.
  int HeaderBottom() const { return headerBottom_; }
  // Rows whose text line ends at or above the client's bottom.
  int VisibleRows() const { return visibleRows_; }
  int UnitsVisible() const { return visibleRows_ * bytesPerRow_; }
  // The top of row k's text line.
  int RowTop(int row) const;

  // Cell rectangles, as hit testing, the hot rectangle and the caret use them.
  QRect AddressCellRect(int row) const;
  QRect HexCellRect(int row, int column) const;
  QRect AsciiCellRect(int row, int column) const;
  // The rectangle of what a hit found (a header value or a cell of a shown
  // row), or an empty one.
  QRect CellRect(const DumpHit& hit, int topUnit) const;
  // Where the scroll bar goes: the client's right edge from D to the bottom.
  QRect ScrollBarRect() const;

  DumpHit HitTest(const QPoint& point, int topUnit, int count) const;

  // The scroll range's upper end M (the range is 0 to M).
  int ScrollMax(int count) const;
  // The top unit after making `unit`'s row visible: moved up to that row when
  // it is above the top, so that it is the last visible row when it is below
  // the visible rows, unchanged otherwise.
  int EnsureUnitVisible(int topUnit, int unit) const;

 private:
  int LineTop(int line) const;

  QRect client_;
  DumpMetrics metrics_;
  int addressDigits_ = 4;
  int hexLeft_ = 0;
  int asciiLeft_ = 0;
  int asciiRight_ = 0;
  int bytesPerRow_ = 0;
  int headerBottom_ = 0;
  int visibleRows_ = 0;
  std::vector<HeaderField> fields_;
};

// The caret keys of the view.
enum class CaretKey { Left, Right, Up, Down, PageUp, PageDown, Home, End, CtrlHome, CtrlEnd };

struct CaretMove {
  int caret = 0;
  // A unit to make visible before the caret, or -1: the last unit, when Down
  // or Page Down cannot move past the end from above the last row.
  int alsoShow = -1;
  bool operator==(const CaretMove&) const = default;
};

// Where a caret key takes the caret among `count` units shown `bytesPerRow`
// to a row with `unitsVisible` of them on screen. With no units, or no room
// for a row, the caret stays.
CaretMove MoveCaret(CaretKey key, int caret, int count, int bytesPerRow, int unitsVisible);

// The tooltip text of `unit`: `format` copied character by character, with
// "%" directives: an optional "+" (first byte most significant, the default)
// or "-" (last byte most significant), an optional digit 0 to 4 (bytes read
// from the unit on; 0 or none means one, and for R the default width), and a
// letter: R index, H hex, D decimal, O octal, B binary, A character,
// n line break, t spaces to the next multiple of four. Bytes that `data`
// does not hold are not read: near the end a directive takes fewer bytes.
QString FormatTipText(const QString& format, std::span<const std::uint8_t> data, int unit, int addressDigits);

// A typed address, judged against the allowed range.
struct AddressEntry {
  bool inRange = false;
  std::int64_t value = -1;  // -1 when the text is not a number
};
AddressEntry ParseAddress(const QString& text, std::int64_t lowest, std::int64_t highest);
bool IsHexDigit(QChar c);
// Hexadecimal digits that `highest` needs (at least one).
int HexDigitCount(std::int64_t highest);

}  // namespace ostrel::preview
