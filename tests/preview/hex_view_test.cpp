// The hex dump in the preview pane, offscreen: what it loads, and what keys,
// the mouse, the wheel, the scroll bar and the address box do to it, and
// what it draws. Each file holds the bytes 00 01 02 ... FF 00 01 ..., so that
// a unit's byte is its index modulo 256.
//
// With OSTREL_SCREENSHOT_DIR set, the view is also drawn into hex.png there.
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "preview/dump_ctrl.h"
#include "preview/hex_dump_view.h"
#include "preview/static_file_viewer.h"

using namespace ostrel::preview;

namespace {

QByteArray Counting(qint64 size) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
  return bytes;
}

bool IsGreen(QRgb pixel) { return qGreen(pixel) > qRed(pixel) + 80 && qGreen(pixel) > qBlue(pixel) + 80; }

// Pixels of `image` in `area` for which `test` holds.
template <typename Test>
int CountPixels(const QImage& image, const QRect& area, Test test) {
  int found = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) found += test(image.pixel(x, y)) ? 1 : 0;
  }
  return found;
}

}  // namespace

class HexViewTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<CKorvaneStaticFileViewer> pane_;

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
    return path;
  }
  // The pane showing a hex dump of a counting file of `size` bytes.
  CKorvaneDumpCtrl* Show(qint64 size) {
    ShowHexDump(*pane_, WriteFile(QStringLiteral("counting.bin"), Counting(size)));
    return pane_->CurrentViewAs<CKorvaneDumpCtrl>();
  }
  QPoint HexCell(CKorvaneDumpCtrl* view, int row, int column) {
    return view->Layout().HexCellRect(row, column).center();
  }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    pane_ = std::make_unique<CKorvaneStaticFileViewer>();
    pane_->resize(640, 400);
    pane_->show();
    QVERIFY(QTest::qWaitForWindowExposed(pane_.get()));
  }
  void cleanup() { pane_.reset(); }

  void loadsFirstMiB_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("lastAddress");
    QTest::newRow("100 bytes: 4 digits") << qint64{100} << 100 << QStringLiteral("0063");
    QTest::newRow("70,000 bytes: 5 digits") << qint64{70000} << 70000 << QStringLiteral("1116F");
    QTest::newRow("2 MB: its first MiB") << qint64{2000000} << 1048576 << QStringLiteral("FFFFF");
  }
  void loadsFirstMiB() {
    QFETCH(qint64, size);
    QFETCH(int, count);
    QFETCH(QString, lastAddress);
    CKorvaneDumpCtrl* view = Show(size);
    QVERIFY(view != nullptr);
    QCOMPARE(view->geometry(), pane_->rect());
    QCOMPARE(view->Count(), count);
    QCOMPARE(pane_->DumpBuffer().size(), std::size_t(count));
    QCOMPARE(pane_->DumpBuffer()[std::size_t(count) - 1], std::uint8_t((count - 1) & 0xFF));
    QCOMPARE(view->Caret(), 0);
    QCOMPARE(view->TopUnit(), 0);
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view->HeaderValue(kFieldAddr), lastAddress);
  }

  // A copy of 0 bytes: no caret, an empty header, nothing to scroll or move.
  void emptyFile() {
    CKorvaneDumpCtrl* view = Show(0);
    QVERIFY(view != nullptr);
    QCOMPARE(view->Count(), 0);
    QCOMPARE(view->Caret(), -1);
    for (int code : {kFieldAddr, kFieldHex, kFieldDec, kFieldBin, kFieldAscii}) QVERIFY(view->HeaderValue(code).isEmpty());
    QVERIFY(!view->ScrollBar()->isVisible());
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Down);
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->Layout().AddressCellRect(0).center());
    QCOMPARE(view->AddressEdit(), nullptr);
    QCOMPARE(view->Caret(), -1);
    const QImage image = view->grab().toImage();
    QCOMPARE(CountPixels(image, image.rect(), IsGreen), 0);
  }

  void unreadableFileLeavesNoView_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << QStringLiteral("no such file");
    QTest::newRow("a folder") << QStringLiteral("folder");
  }
  void unreadableFileLeavesNoView() {
    QFETCH(QString, path);
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("folder")));
    QVERIFY(Show(100) != nullptr);
    ShowHexDump(*pane_, dir_.filePath(path));
    QCOMPARE(pane_->CurrentView(), nullptr);
    QVERIFY(pane_->DumpBuffer().empty());
  }

  void nextDumpReplacesTheControl() {
    QPointer<CKorvaneDumpCtrl> first = Show(100);
    QVERIFY(first != nullptr);
    CKorvaneDumpCtrl* second = Show(300);
    QVERIFY(first == nullptr);
    QCOMPARE(second->Count(), 300);
  }

  // 1,000 bytes; the table's rows say where the caret starts and which key it
  // gets, and where the caret ends and whether the view ends at the bottom.
  void keys_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("caret");
    QTest::addColumn<bool>("atBottom");
    QTest::newRow("Ctrl+End") << 0 << int(Qt::Key_End) << int(Qt::ControlModifier) << 999 << true;
    QTest::newRow("Ctrl+Home") << 500 << int(Qt::Key_Home) << int(Qt::ControlModifier) << 0 << false;
    QTest::newRow("Left at 0") << 0 << int(Qt::Key_Left) << 0 << 0 << false;
    QTest::newRow("Right at the end") << 999 << int(Qt::Key_Right) << 0 << 999 << true;
  }
  void keys() {
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, caret);
    QFETCH(bool, atBottom);
    CKorvaneDumpCtrl* view = Show(1000);
    if (start > 0) {
      QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
      for (int c = 999; c > start; --c) QTest::keyClick(view, Qt::Key_Left);
    }
    QCOMPARE(view->Caret(), start);
    QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(view->Caret(), caret);
    const HexDumpLayout layout = view->Layout();
    const int row = layout.BytesPerRow();
    QCOMPARE(view->TopUnit() == layout.ScrollMax(1000) * row, atBottom);
    QCOMPARE(view->ScrollBar()->value(), view->TopUnit() / row);
    // The caret's row is on screen.
    QVERIFY(view->TopUnit() <= caret && caret < view->TopUnit() + layout.UnitsVisible());
  }

  // The editing shortcuts and Enter end at the read-only view (they reach no
  // window behind it); other keys go on to the default handling.
  void swallowedKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("swallowed");
    for (const char letter : {'A', 'B', 'D', 'H', 'O'}) {
      QTest::newRow(qPrintable(QStringLiteral("Ctrl+%1").arg(QLatin1Char(letter))))
          << int(Qt::Key_A + (letter - 'A')) << int(Qt::ControlModifier) << true;
    }
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << true;
    QTest::newRow("Ctrl+Z") << int(Qt::Key_Z) << int(Qt::ControlModifier) << false;
    QTest::newRow("F5") << int(Qt::Key_F5) << 0 << false;
  }
  void swallowedKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, swallowed);
    CKorvaneDumpCtrl* view = Show(1000);
    QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(view, &event);
    QCOMPARE(event.isAccepted(), swallowed);
    QCOMPARE(view->Caret(), 0);
  }

  // The second-to-last row reaches past the short last row's end: Down keeps
  // the caret and scrolls the last row into view.
  void downAboveTheShortLastRow() {
    const HexDumpLayout layout = Show(1)->Layout();
    const int row = layout.BytesPerRow();
    const int count = (layout.VisibleRows() + 5) * row + 2;  // the last row holds 2 bytes
    CKorvaneDumpCtrl* view = Show(count);
    const int caret = count - 2 - row + 5;  // second-to-last row, sixth column
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    for (int c = count - 1; c > caret; --c) QTest::keyClick(view, Qt::Key_Left);
    view->ScrollBar()->setValue(0);
    QCOMPARE(view->TopUnit(), 0);
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(view->Caret(), caret);
    QCOMPARE(view->TopUnit(), layout.ScrollMax(count) * row);
  }

  void mouse() {
    CKorvaneDumpCtrl* view = Show(1000);
    const HexDumpLayout layout = view->Layout();
    const int row = layout.BytesPerRow();
    // A click on a hex cell and on an ASCII cell moves the caret there.
    QTest::mouseClick(view, Qt::LeftButton, {}, HexCell(view, 2, 3));
    QCOMPARE(view->Caret(), 2 * row + 3);
    QTest::mouseClick(view, Qt::LeftButton, {}, layout.AsciiCellRect(1, 0).center());
    QCOMPARE(view->Caret(), row);
    // The right button and a click on nothing leave it.
    QTest::mouseClick(view, Qt::RightButton, {}, HexCell(view, 3, 3));
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(2, layout.HeaderBottom() + 2));
    QCOMPARE(view->Caret(), row);

    // Hovering 0x1A: hot rectangle, header values and tooltip of that byte.
    const QPoint at1A = HexCell(view, 0x1A / row, 0x1A % row);
    QTest::mouseMove(view, at1A);
    QCOMPARE(view->Hovered(), (DumpHit{kFieldHexColumn, 0x1A}));
    QVERIFY(view->HotRect().contains(at1A));
    QCOMPARE(view->HeaderValue(kFieldAddr), QStringLiteral("001A"));
    QCOMPARE(view->HeaderValue(kFieldHex), QStringLiteral("1A"));
    QCOMPARE(view->HeaderValue(kFieldDec), QStringLiteral("26"));
    QCOMPARE(view->HeaderValue(kFieldBin), QStringLiteral("00011010"));
    QCOMPARE(view->HeaderValue(kFieldAscii), QString(QChar(0x1A)));
    QCOMPARE(view->TipText(), QStringLiteral("Address : 001AH Hex : 1A1B"));
    QVERIFY(!view->TipShowing());  // a new unit: shown after the next move on it
    QTest::mouseMove(view, at1A + QPoint(1, 0));
    QVERIFY(view->TipShowing());
    // On a header value the header keeps the hovered byte; off the cells it
    // goes back to the caret, and the tooltip is gone.
    QTest::mouseMove(view, layout.HeaderValueRect(kFieldBin).center());
    QCOMPARE(view->HeaderValue(kFieldAddr), QStringLiteral("001A"));
    QVERIFY(!view->TipShowing());
    QTest::mouseMove(view, QPoint(2, layout.HeaderBottom() + 2));
    QCOMPARE(view->HeaderValue(kFieldAddr), FormatAddress(row, 4));
    QVERIFY(view->TipText().isEmpty());
    QVERIFY(view->HotRect().isEmpty());
  }

  void tipOverTheLastByte() {
    CKorvaneDumpCtrl* view = Show(100);
    QCOMPARE(view->FormatTipText(99), QStringLiteral("Address : 0063H Hex : 63"));
  }

  void wheelAndScrollBar() {
    CKorvaneDumpCtrl* view = Show(5000);
    const int row = view->Layout().BytesPerRow();
    QScrollBar* bar = view->ScrollBar();
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->maximum(), view->Layout().ScrollMax(5000));
    QCOMPARE(bar->geometry(), view->Layout().ScrollBarRect());
    const QPoint centre = view->rect().center();
    const auto wheel = [&](int delta) {
      QWheelEvent event(centre, view->mapToGlobal(centre), {}, QPoint(0, delta), Qt::NoButton, {}, Qt::NoScrollPhase,
                        false);
      QApplication::sendEvent(view, &event);
    };
    wheel(-120);
    QCOMPARE(view->TopUnit(), row);
    wheel(-120);
    wheel(120);
    QCOMPARE(view->TopUnit(), row);
    wheel(120);
    wheel(120);
    QCOMPARE(view->TopUnit(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(view->TopUnit(), view->Layout().UnitsVisible());
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(view->TopUnit(), bar->maximum() * row);
    bar->setValue(bar->maximum() + 10);
    QCOMPARE(view->TopUnit(), bar->maximum() * row);
    // A dump that fits has no scroll bar.
    QVERIFY(!Show(64)->ScrollBar()->isVisible());
  }

  // A wider pane holds more bytes a row; the first unit shown stays.
  void widerKeepsTopUnit() {
    CKorvaneDumpCtrl* view = Show(100000);
    view->ScrollBar()->setValue(10);
    const int row = view->Layout().BytesPerRow();
    const int top = view->TopUnit();
    QCOMPARE(top, 10 * row);
    pane_->resize(1000, 400);
    QVERIFY(view->Layout().BytesPerRow() > row);
    QCOMPARE(view->TopUnit(), top);
    QCOMPARE(view->ScrollBar()->value(), top / view->Layout().BytesPerRow());
  }

  void addressBox() {
    CKorvaneDumpCtrl* view = Show(1000);  // addresses 000 to 3E7 in the box
    const HexDumpLayout layout = view->Layout();
    const int row = layout.BytesPerRow();
    QTest::mouseDClick(view, Qt::LeftButton, {}, layout.AddressCellRect(1).center());
    CKorvaneNumEdit* edit = view->AddressEdit();
    QVERIFY(edit != nullptr);
    QCOMPARE(edit->text(), FormatAddress(row, 3));
    QCOMPARE(edit->geometry(), layout.AddressCellRect(1));
    QCOMPARE(edit->maxLength(), 3);
    QVERIFY(edit->InRange());
    QCOMPARE(edit->palette().color(QPalette::Base), QColor(Qt::yellow));

    // Beyond the data: red, and Enter is ignored.
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("fff"));
    QCOMPARE(edit->text(), QStringLiteral("FFF"));
    QVERIFY(!edit->InRange());
    QCOMPARE(edit->palette().color(QPalette::Base), QColor(Qt::red));
    QCOMPARE(edit->palette().color(QPalette::Text), QColor(Qt::white));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(view->AddressEdit(), edit);
    QCOMPARE(view->Caret(), 0);
    // Not a hex digit: refused.
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("3G"));
    QCOMPARE(edit->text(), QStringLiteral("3"));
    // A valid address moves the caret there and shows its row.
    QTest::keyClicks(edit, QStringLiteral("e7"));
    QVERIFY(edit->InRange());
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(view->Caret(), 0x3E7);
    QCOMPARE(view->AddressEdit(), nullptr);
    QCOMPARE(view->TopUnit(), view->Layout().ScrollMax(1000) * row);

    // From the header's "Addr" value: the caret's address; Escape changes
    // nothing.
    QTest::mouseDClick(view, Qt::LeftButton, {}, layout.HeaderValueRect(kFieldAddr).center());
    edit = view->AddressEdit();
    QVERIFY(edit != nullptr);
    QCOMPARE(edit->text(), QStringLiteral("3E7"));
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("10"));
    QTest::keyClick(edit, Qt::Key_Escape);
    QCOMPARE(view->AddressEdit(), nullptr);
    QCOMPARE(view->Caret(), 0x3E7);

    // A double click on no cell leaves an open box open; one on another
    // address opens a box there.
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->Layout().AddressCellRect(0).center());
    QPointer<CKorvaneNumEdit> first = view->AddressEdit();
    QVERIFY(first != nullptr);
    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(2, view->height() - 2));
    QCOMPARE(view->AddressEdit(), first.data());
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->Layout().AddressCellRect(1).center());
    QVERIFY(view->AddressEdit() != nullptr);
    QVERIFY(view->AddressEdit() != first.data());
    QCOMPARE(view->AddressEdit()->text(), FormatAddress(view->TopUnit() + row, 3));
  }

  void addressBoxCloses_data() {
    QTest::addColumn<QString>("what");
    QTest::newRow("caret key") << QStringLiteral("key");
    QTest::newRow("click on a cell") << QStringLiteral("click");
    QTest::newRow("scroll") << QStringLiteral("scroll");
    QTest::newRow("resize") << QStringLiteral("resize");
  }
  void addressBoxCloses() {
    QFETCH(QString, what);
    CKorvaneDumpCtrl* view = Show(5000);
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->Layout().AddressCellRect(0).center());
    QVERIFY(view->AddressEdit() != nullptr);
    if (what == QLatin1String("key")) QTest::keyClick(view, Qt::Key_Right);
    if (what == QLatin1String("click")) QTest::mouseClick(view, Qt::LeftButton, {}, HexCell(view, 1, 1));
    if (what == QLatin1String("scroll")) view->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (what == QLatin1String("resize")) pane_->resize(700, 420);
    QCOMPARE(view->AddressEdit(), nullptr);
  }

  // Green addresses, the caret's cells in cyan, and a moved caret takes the
  // cyan along.
  void paints() {
    CKorvaneDumpCtrl* view = Show(1000);
    view->setFocus();
    const HexDumpLayout layout = view->Layout();
    const auto isCyan = [](QRgb pixel) { return pixel == qRgb(0x00, 0xFF, 0xFF); };
    QImage image = view->grab().toImage();
    QVERIFY(CountPixels(image, layout.AddressCellRect(0), IsGreen) > 0);
    QVERIFY(CountPixels(image, layout.HexCellRect(0, 0), isCyan) > 0);
    QVERIFY(CountPixels(image, layout.AsciiCellRect(0, 0), isCyan) > 0);
    QCOMPARE(CountPixels(image, layout.HexCellRect(0, 1), isCyan), 0);
    QTest::keyClick(view, Qt::Key_Right);
    image = view->grab().toImage();
    QCOMPARE(CountPixels(image, layout.HexCellRect(0, 0), isCyan), 0);
    QVERIFY(CountPixels(image, layout.HexCellRect(0, 1), isCyan) > 0);
    // Past the data's last row nothing is drawn on the white.
    CKorvaneDumpCtrl* small = Show(20);
    image = small->grab().toImage();
    const QRgb white = image.pixel(small->Layout().HexCellRect(3, 0).center());
    QCOMPARE(CountPixels(image, small->Layout().HexCellRect(3, 0), [&](QRgb p) { return p != white; }), 0);
    QVERIFY(CountPixels(image, small->Layout().HexCellRect(1, 0), [&](QRgb p) { return p != white; }) > 0);

    const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
      pane_->resize(640, 300);
      CKorvaneDumpCtrl* shot = Show(70000);
      shot->setFocus();
      shot->ScrollBar()->setValue(4);
      QTest::mouseClick(shot, Qt::LeftButton, {}, HexCell(shot, 2, 5));
      QTest::mouseMove(shot, HexCell(shot, 4, 9));
      QVERIFY(pane_->grab().save(dir + QStringLiteral("/hex.png")));
    }
  }
};

QTEST_MAIN(HexViewTest)
#include "hex_view_test.moc"
