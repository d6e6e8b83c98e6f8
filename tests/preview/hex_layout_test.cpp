// The hex dump's arithmetic without a screen: a character 8 pixels wide, lines
// 16 pixels high and a scroll bar 16 pixels wide, so that every figure below
// can be worked out by hand.
//
// With 4 address digits the hex column starts at (4 + 2) × 8 = 48; the width
// left for hex and ASCII is the client width - 48 - 16. The header bar's one
// line ends at 16 ÷ 6 + 16 = 18 and the first row's text starts 16 ÷ 4 lower,
// at 22.
#include <QtTest>
#include <vector>

#include "preview/hex_layout.h"

using namespace ostrel::preview;

Q_DECLARE_METATYPE(ostrel::preview::CaretKey)
Q_DECLARE_METATYPE(ostrel::preview::DumpHit)

namespace {

const DumpMetrics kMetrics{8, 16, 16};

HexDumpLayout Make(int width, int height = 400, int digits = 4) {
  return HexDumpLayout(QRect(0, 0, width, height), kMetrics, digits);
}

}  // namespace

class HexLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void addressDigits_data() {
    QTest::addColumn<qint64>("count");
    QTest::addColumn<int>("digits");
    QTest::newRow("empty") << qint64{0} << 4;
    QTest::newRow("100 bytes") << qint64{100} << 4;
    QTest::newRow("64 KiB, last address FFFF") << qint64{65536} << 4;
    QTest::newRow("64 KiB + 1, last address 10000") << qint64{65537} << 5;
    QTest::newRow("70,000 bytes") << qint64{70000} << 5;
    QTest::newRow("1 MiB, last address FFFFF") << qint64{1048576} << 5;
    QTest::newRow("16 MiB + 1, last address 1000000") << qint64{16777217} << 7;
  }
  void addressDigits() {
    QFETCH(qint64, count);
    QFETCH(int, digits);
    QCOMPARE(AddressDigits(0, count), digits);
  }

  void addressText() {
    QCOMPARE(FormatAddress(0x1A, 4), QStringLiteral("001A"));
    QCOMPARE(FormatAddress(0xFFFFF, 5), QStringLiteral("FFFFF"));
    QCOMPARE(FormatAddress(0, 5), QStringLiteral("00000"));
  }

  // Each byte takes 3 characters of hex and a character and a pixel of ASCII,
  // beside 3 characters of margins: (W - 24 + 1) ÷ 33 bytes.
  void bytesPerRow_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("digits");
    QTest::addColumn<int>("bytes");
    QTest::newRow("no room for a character past the margins") << 88 << 4 << 0;
    QTest::newRow("room for margins, not for a byte") << 96 << 4 << 0;
    QTest::newRow("one byte") << 122 << 4 << 1;
    QTest::newRow("one pixel short of 16") << 614 << 4 << 15;
    QTest::newRow("16") << 615 << 4 << 16;
    QTest::newRow("5 address digits take one character more") << 615 << 5 << 15;
    QTest::newRow("16 with 5 address digits") << 623 << 5 << 16;
    QTest::newRow("wide pane: not fixed at 16") << 1200 << 4 << 33;
  }
  void bytesPerRow() {
    QFETCH(int, width);
    QFETCH(int, digits);
    QFETCH(int, bytes);
    const HexDumpLayout layout = Make(width, 400, digits);
    QCOMPARE(layout.BytesPerRow(), bytes);
    if (bytes == 0) return;
    // Every cell of a row lies left of the scroll bar, the hex cells before
    // the ASCII ones.
    const int scrollBarLeft = width - kMetrics.scrollBarWidth;
    QVERIFY(layout.HexCellRect(0, bytes - 1).right() < layout.AsciiLeft());
    QVERIFY(layout.AsciiCellRect(0, bytes - 1).right() < scrollBarLeft);
  }

  void headerWraps_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<int>("bottom");
    // Field widths: Addr 11, Hex 8, Dec 9, Bin 14, Ascii 9 characters, one
    // character apart: 55 characters in all, from 8 to width - 8.
    QTest::newRow("one line") << 615 << QList<int>{1, 2, 3, 4, 6} << QList<int>{0, 0, 0, 0, 0} << 18;
    QTest::newRow("Bin starts a second line") << 300 << QList<int>{1, 2, 3, 4, 6} << QList<int>{0, 0, 0, 1, 1} << 34;
    QTest::newRow("fields wider than the bar are left out")
        << 100 << QList<int>{2, 3, 6} << QList<int>{0, 1, 2} << 50;
  }
  void headerWraps() {
    QFETCH(int, width);
    QFETCH(QList<int>, codes);
    QFETCH(QList<int>, lines);
    QFETCH(int, bottom);
    const HexDumpLayout layout = Make(width);
    QList<int> gotCodes;
    QList<int> gotLines;
    for (const HeaderField& field : layout.HeaderFields()) {
      gotCodes << field.code;
      gotLines << field.line;
      QVERIFY2(field.valueRect.right() < width - kMetrics.charWidth, qPrintable(field.label));
    }
    QCOMPARE(gotCodes, codes);
    QCOMPARE(gotLines, lines);
    QCOMPARE(layout.HeaderBottom(), bottom);
    QCOMPARE(layout.HeaderValueRect(kFieldAddr).isEmpty(), !codes.contains(kFieldAddr));
  }

  // 615 × 400: 16 bytes a row, 23 rows from y = 22; hex cells from 52, 24
  // pixels each; ASCII cells from 447, 9 pixels apart.
  void hitTest_data() {
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("count");
    QTest::addColumn<DumpHit>("hit");
    QTest::newRow("address of row 0") << QPoint(10, 30) << 0 << 1000 << DumpHit{kFieldAddressColumn, 0};
    QTest::newRow("address of row 2") << QPoint(43, 22 + 32 + 5) << 0 << 1000 << DumpHit{kFieldAddressColumn, 32};
    QTest::newRow("first hex cell, left edge") << QPoint(52, 25) << 0 << 1000 << DumpHit{kFieldHexColumn, 0};
    QTest::newRow("between address and hex") << QPoint(51, 25) << 0 << 1000 << DumpHit{};
    QTest::newRow("sixth hex cell, right edge") << QPoint(195, 25) << 0 << 1000 << DumpHit{kFieldHexColumn, 5};
    QTest::newRow("row 1, hex cell 3") << QPoint(125, 39) << 0 << 1000 << DumpHit{kFieldHexColumn, 19};
    QTest::newRow("scrolled: top unit added") << QPoint(52, 25) << 100 << 1000 << DumpHit{kFieldHexColumn, 100};
    QTest::newRow("first ASCII cell") << QPoint(447, 25) << 0 << 1000 << DumpHit{kFieldAsciiColumn, 0};
    QTest::newRow("left of the ASCII cells") << QPoint(446, 25) << 0 << 1000 << DumpHit{};
    QTest::newRow("last ASCII cell") << QPoint(590, 25) << 0 << 1000 << DumpHit{kFieldAsciiColumn, 15};
    QTest::newRow("past the last ASCII cell") << QPoint(591, 25) << 0 << 1000 << DumpHit{};
    QTest::newRow("cell past the data") << QPoint(172, 39) << 0 << 20 << DumpHit{};
    QTest::newRow("address of a row past the data") << QPoint(10, 39) << 0 << 16 << DumpHit{};
    QTest::newRow("gap above the first row") << QPoint(52, 20) << 0 << 1000 << DumpHit{};
    QTest::newRow("partial row at the bottom") << QPoint(52, 22 + 23 * 16) << 0 << 1000 << DumpHit{};
    QTest::newRow("header Addr value") << QPoint(50, 5) << 0 << 1000 << DumpHit{kFieldAddr, -1};
    QTest::newRow("header Hex value") << QPoint(140, 5) << 0 << 1000 << DumpHit{kFieldHex, -1};
    QTest::newRow("header label") << QPoint(10, 5) << 0 << 1000 << DumpHit{};
  }
  void hitTest() {
    QFETCH(QPoint, point);
    QFETCH(int, top);
    QFETCH(int, count);
    QFETCH(DumpHit, hit);
    const HexDumpLayout layout = Make(615);
    const DumpHit got = layout.HitTest(point, top, count);
    QCOMPARE(got.code, hit.code);
    QCOMPARE(got.unit, hit.unit);
    // The hot rectangle of what was hit holds the point.
    if (got.code != kFieldNone) QVERIFY(layout.CellRect(got, top).contains(point));
  }

  void scrollMax_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("max");
    // 23 rows of 16 bytes: 368 units visible.
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("fits exactly") << 368 << 0;
    QTest::newRow("one byte more") << 369 << 1;
    QTest::newRow("whole rows") << 1024 << 41;
    QTest::newRow("a part row") << 1000 << 40;
    QTest::newRow("1 MiB") << 1048576 << 65513;
  }
  void scrollMax() {
    QFETCH(int, count);
    QFETCH(int, max);
    const HexDumpLayout layout = Make(615);
    QCOMPARE(layout.UnitsVisible(), 368);
    QCOMPARE(layout.ScrollMax(count), max);
    // At the bottom of the range the last unit's row is the last row shown.
    if (max > 0) QCOMPARE(((count - 1) / 16 * 16 - max * 16) / 16, layout.VisibleRows() - 1);
  }

  void ensureUnitVisible_data() {
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("newTop");
    QTest::newRow("on the first row") << 0 << 10 << 0;
    QTest::newRow("on the last visible row") << 0 << 367 << 0;
    QTest::newRow("one row below: becomes the last row") << 0 << 368 << 16;
    QTest::newRow("far below") << 160 << 160 + 368 + 5 << 176;
    QTest::newRow("above: becomes the first row") << 160 << 20 << 16;
    QTest::newRow("top left where a wider row put it") << 150 << 200 << 150;
  }
  void ensureUnitVisible() {
    QFETCH(int, top);
    QFETCH(int, unit);
    QFETCH(int, newTop);
    QCOMPARE(Make(615).EnsureUnitVisible(top, unit), newTop);
  }

  // Ctrl+End in a 1 MiB dump: the caret on the last byte, its row the last
  // one shown, the scroll bar at its end, and the last address FFFFF.
  void ctrlEndShowsLastRowLast() {
    const int count = kMaxDumpBytes;
    const HexDumpLayout layout = Make(623, 400, AddressDigits(0, count));
    QCOMPARE(layout.BytesPerRow(), 16);
    const CaretMove move = MoveCaret(CaretKey::CtrlEnd, 0, count, 16, layout.UnitsVisible());
    QCOMPARE(move.caret, count - 1);
    const int top = layout.EnsureUnitVisible(0, move.caret);
    QCOMPARE((move.caret - top) / 16, layout.VisibleRows() - 1);
    QCOMPARE(top / 16, layout.ScrollMax(count));
    QCOMPARE(FormatAddress(move.caret, layout.AddressDigits()), QStringLiteral("FFFFF"));
  }

  // 100 units, 16 a row (the last row holds 96..99), 48 on screen.
  void caretKeys_data() {
    QTest::addColumn<CaretKey>("key");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("newCaret");
    QTest::addColumn<int>("alsoShow");
    QTest::newRow("Left at 0 stays") << CaretKey::Left << 100 << 0 << 0 << -1;
    QTest::newRow("Left") << CaretKey::Left << 100 << 5 << 4 << -1;
    QTest::newRow("Right at the last unit stays") << CaretKey::Right << 100 << 99 << 99 << -1;
    QTest::newRow("Right") << CaretKey::Right << 100 << 5 << 6 << -1;
    QTest::newRow("Up on the first row stays") << CaretKey::Up << 100 << 5 << 5 << -1;
    QTest::newRow("Up") << CaretKey::Up << 100 << 20 << 4 << -1;
    QTest::newRow("Down") << CaretKey::Down << 100 << 80 << 96 << -1;
    QTest::newRow("Down, no byte below in the last row: shows it")
        << CaretKey::Down << 100 << 85 << 85 << 99;
    QTest::newRow("Down on the last row stays") << CaretKey::Down << 100 << 97 << 97 << -1;
    QTest::newRow("Page Up") << CaretKey::PageUp << 100 << 60 << 12 << -1;
    QTest::newRow("Page Up past the start: same column") << CaretKey::PageUp << 100 << 40 << 8 << -1;
    QTest::newRow("Page Down") << CaretKey::PageDown << 100 << 10 << 58 << -1;
    QTest::newRow("Page Down past the end") << CaretKey::PageDown << 100 << 60 << 60 << 99;
    QTest::newRow("Home") << CaretKey::Home << 100 << 37 << 32 << -1;
    QTest::newRow("End") << CaretKey::End << 100 << 37 << 47 << -1;
    QTest::newRow("End on the short last row") << CaretKey::End << 100 << 97 << 99 << -1;
    QTest::newRow("Ctrl+Home") << CaretKey::CtrlHome << 100 << 50 << 0 << -1;
    QTest::newRow("Ctrl+End") << CaretKey::CtrlEnd << 100 << 3 << 99 << -1;
    QTest::newRow("no data: Ctrl+End moves nothing") << CaretKey::CtrlEnd << 0 << 0 << 0 << -1;
    QTest::newRow("no data: Right moves nothing") << CaretKey::Right << 0 << 0 << 0 << -1;
  }
  void caretKeys() {
    QFETCH(CaretKey, key);
    QFETCH(int, count);
    QFETCH(int, caret);
    QFETCH(int, newCaret);
    QFETCH(int, alsoShow);
    const CaretMove move = MoveCaret(key, caret, count, 16, 48);
    QCOMPARE(move.caret, newCaret);
    QCOMPARE(move.alsoShow, alsoShow);
  }

  // The tooltip over a 1 MiB dump and a 100-byte one; the bytes at 0x1A and
  // 0x1B are AB CD, the last byte of the short dump 7F.
  void tipText_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("text");
    const QString system = QStringLiteral("Address : %RH Hex : %2H");
    QTest::newRow("1 MiB at 0x1A") << system << kMaxDumpBytes << 0x1A << QStringLiteral("Address : 00001AH Hex : ABCD");
    QTest::newRow("100 bytes at 0x1A") << system << 100 << 0x1A << QStringLiteral("Address : 001AH Hex : ABCD");
    QTest::newRow("the last byte alone") << system << 100 << 99 << QStringLiteral("Address : 0063H Hex : 7F");
    QTest::newRow("R with a width") << QStringLiteral("%1R|%3R") << 100 << 3 << QStringLiteral("03|000003");
    QTest::newRow("little end first") << QStringLiteral("%-2H") << 100 << 0x1A << QStringLiteral("CDAB");
    QTest::newRow("big end first") << QStringLiteral("%+2H") << 100 << 0x1A << QStringLiteral("ABCD");
    QTest::newRow("decimal") << QStringLiteral("%D %2D %-2D") << 100 << 0x1A << QStringLiteral("171 43981 52651");
    QTest::newRow("octal") << QStringLiteral("%O") << 100 << 0x1A << QStringLiteral("253");
    QTest::newRow("binary, bytes apart") << QStringLiteral("%2B") << 100 << 0x1A
                                         << QStringLiteral("10101011-11001101");
    QTest::newRow("binary, little end first") << QStringLiteral("%-2B") << 100 << 0x1A
                                              << QStringLiteral("11001101-10101011");
    QTest::newRow("character") << QStringLiteral("[%A]") << 100 << 0x41 << QStringLiteral("[A]");
    QTest::newRow("zero byte: no character") << QStringLiteral("[%A]") << 100 << 0 << QStringLiteral("[]");
    QTest::newRow("line break") << QStringLiteral("ab%ncd") << 100 << 0 << QStringLiteral("ab\r\ncd");
    QTest::newRow("tab to 4") << QStringLiteral("ab%tc") << 100 << 0 << QStringLiteral("ab  c");
    QTest::newRow("tab counts from the line break") << QStringLiteral("abc%n1%t|") << 100 << 0
                                                    << QStringLiteral("abc\r\n1   |");
    QTest::newRow("unknown letter: no output") << QStringLiteral("x%Zy") << 100 << 0 << QStringLiteral("xy");
    QTest::newRow("format ends inside a directive") << QStringLiteral("100%-") << 100 << 0 << QStringLiteral("100");
    QTest::newRow("4 bytes asked, 2 left") << QStringLiteral("%4H") << 100 << 98 << QStringLiteral("FE7F");
    QTest::newRow("unit past the data: nothing read") << QStringLiteral("<%2H>") << 100 << 100 << QStringLiteral("<>");
  }
  void tipText() {
    QFETCH(QString, format);
    QFETCH(int, count);
    QFETCH(int, unit);
    QFETCH(QString, text);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    data[0] = 0;
    data[0x1A] = 0xAB;
    data[0x1B] = 0xCD;
    data[98] = 0xFE;
    data[99] = 0x7F;
    QCOMPARE(FormatTipText(format, data, unit, AddressDigits(0, count)), text);
  }

  // The address box: yellow while the typed value lies in 0..count - 1, red
  // otherwise; Enter takes only a value in range.
  void typedAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("highest");
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<qint64>("value");
    QTest::newRow("in range") << QStringLiteral("1A") << qint64{99} << true << qint64{0x1A};
    QTest::newRow("the last address") << QStringLiteral("63") << qint64{99} << true << qint64{99};
    QTest::newRow("one past the data") << QStringLiteral("64") << qint64{99} << false << qint64{100};
    QTest::newRow("lower-case digits") << QStringLiteral("fF") << qint64{255} << true << qint64{255};
    QTest::newRow("empty") << QString() << qint64{99} << false << qint64{-1};
    QTest::newRow("not hexadecimal") << QStringLiteral("G1") << qint64{99} << false << qint64{-1};
    QTest::newRow("sign is no digit") << QStringLiteral("-1") << qint64{99} << false << qint64{-1};
  }
  void typedAddress() {
    QFETCH(QString, text);
    QFETCH(qint64, highest);
    QFETCH(bool, inRange);
    QFETCH(qint64, value);
    const AddressEntry entry = ParseAddress(text, 0, highest);
    QCOMPARE(entry.inRange, inRange);
    QCOMPARE(entry.value, value);
  }

  void typedAddressDigits() {
    QCOMPARE(HexDigitCount(0), 1);
    QCOMPARE(HexDigitCount(99), 2);
    QCOMPARE(HexDigitCount(0xFFFFF), 5);
  }
};

QTEST_APPLESS_MAIN(HexLayoutTest)
#include "hex_layout_test.moc"
