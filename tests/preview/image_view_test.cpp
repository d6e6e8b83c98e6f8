// The image view: every format of the image group is recognised by its
// content, whatever the file is called, and shown at its own size.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdint>
#include <span>

#include "preview/image_decoder.h"
#include "preview/image_signature.h"
#include "preview/static_file_viewer.h"
#include "preview/image_view.h"

using ostrel::preview::CKorvaneStaticFileViewer;
using ostrel::preview::DecodeImage;
using ostrel::preview::DetectImageFormat;
using ostrel::preview::ImageFormat;
using ostrel::preview::ImageFormatName;
using ostrel::preview::ShowImageView;

Q_DECLARE_METATYPE(ImageFormat)

namespace {

QString Sample(const QString& name) {
  return QStringLiteral(OSTREL_TEST_FIXTURES_DIR "/images/") + name;
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ImageFormat Detect(const QByteArray& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  return DetectImageFormat(std::span(data, static_cast<std::size_t>(bytes.size())),
                           static_cast<std::uint64_t>(bytes.size()));
}

bool Near(QRgb a, QRgb b, int tolerance) {
  return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
         qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

}  // namespace

class ImageViewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }
  void everySampleIsDecodedByContent_data();
  void everySampleIsDecodedByContent();
  void contentThatIsNoImageIsRefused_data();
  void contentThatIsNoImageIsRefused();
  void anImageIsShownAtItsOwnSizeFromTheTopLeft();
  void aFileThatCannotBeReadIsRefused();

 private:
  QString Write(const QString& name, const QByteArray& content) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) return {};
    return path;
  }
  QTemporaryDir dir_;
};

void ImageViewTest::everySampleIsDecodedByContent_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<ImageFormat>("format");
  QTest::addColumn<QSize>("size");
  // The samples are 24 x 16: a red-to-blue gradient with a yellow square at
  // (4, 4)-(11, 11). Bi-level and grey formats keep only its lightness.
  QTest::addColumn<bool>("colour");

  const QSize picture(24, 16);
  QTest::newRow("BMP") << "sample.bmp" << ImageFormat::Bmp << picture << true;
  QTest::newRow("JPEG") << "sample.jpg" << ImageFormat::Jpeg << picture << true;
  QTest::newRow("PNG") << "sample.png" << ImageFormat::Png << picture << true;
  QTest::newRow("GIF") << "sample.gif" << ImageFormat::Gif << picture << true;
  QTest::newRow("ICO") << "sample.ico" << ImageFormat::Ico << picture << true;
  QTest::newRow("CUR") << "sample.cur" << ImageFormat::Cur << picture << true;
  QTest::newRow("TIFF") << "sample.tif" << ImageFormat::Tiff << picture << true;
  QTest::newRow("PNM") << "sample.pnm" << ImageFormat::Pnm << picture << true;
  QTest::newRow("WBMP") << "sample.wbmp" << ImageFormat::Wbmp << picture << false;
  QTest::newRow("MNG") << "sample.mng" << ImageFormat::Mng << picture << true;
  // Starts 00 00 02 00 like a cursor.
  QTest::newRow("TGA") << "sample.tga" << ImageFormat::Tga << picture << true;
  QTest::newRow("PCX") << "sample.pcx" << ImageFormat::Pcx << picture << true;
  QTest::newRow("RAS") << "sample.ras" << ImageFormat::SunRaster << picture << true;
  // Starts 00 00 01 00 like an icon.
  QTest::newRow("JBIG") << "sample.jbg" << ImageFormat::Jbig << picture << false;
  QTest::newRow("JPEG 2000") << "sample.jp2" << ImageFormat::Jpeg2000 << picture << true;
  QTest::newRow("PGX") << "sample.pgx" << ImageFormat::Pgx << picture << false;
  // 24 x 16 units at 96 units an inch, drawn at ImageMagick's 72 dots an inch.
  QTest::newRow("WMF") << "sample.wmf" << ImageFormat::Wmf << QSize(18, 12) << false;
  QTest::newRow("camera raw (DNG)") << "sample.dng" << ImageFormat::CameraRawTiff << QSize() << false;
}

void ImageViewTest::everySampleIsDecodedByContent() {
  QFETCH(QString, file);
  QFETCH(ImageFormat, format);
  QFETCH(QSize, size);
  QFETCH(bool, colour);
  const QByteArray content = Read(Sample(file));
  QVERIFY2(!content.isEmpty(), qPrintable(file));
  QCOMPARE(ImageFormatName(Detect(content)), ImageFormatName(format));

  const auto decoded = DecodeImage(content);
  QVERIFY(!decoded.image.isNull());
  QCOMPARE(decoded.format, format);
  if (size.isValid()) QCOMPARE(decoded.image.size(), size);
  else QVERIFY(decoded.image.width() >= 22 && decoded.image.height() >= 22);
  if (colour) {
    const QImage original(Sample(QStringLiteral("sample.png")));
    for (const QPoint at : {QPoint(7, 7), QPoint(0, 0), QPoint(23, 15), QPoint(20, 2)})
      QVERIFY2(Near(decoded.image.pixel(at), original.pixel(at), 40), qPrintable(file));
  }

  // Under a name that says otherwise, the content still decides.
  for (const QString& name : {QStringLiteral("photo.png"), QStringLiteral("scan.txt"), QStringLiteral("noext")}) {
    const QString copy = Write(name, content);
    CKorvaneStaticFileViewer pane;
    pane.resize(200, 100);
    QVERIFY2(ShowImageView(pane, copy), qPrintable(name));
    auto* view = pane.CurrentViewAs<QLabel>();
    QVERIFY(view != nullptr);
    QCOMPARE(view->pixmap().size(), decoded.image.size());
  }
}

void ImageViewTest::contentThatIsNoImageIsRefused_data() {
  QTest::addColumn<QByteArray>("content");
  QTest::newRow("text") << QByteArray("This is a plain text file, not a picture.\r\n");
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("PNG signature only") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
  QTest::newRow("JPEG cut after its marker") << QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF", 10);
  QTest::newRow("scalable vector graphics") << QByteArray("<svg xmlns='http://www.w3.org/2000/svg'/>");
  QTest::newRow("PostScript") << QByteArray("%!PS-Adobe-3.0\nshowpage\n");
  // A WBMP header whose sizes do not match the file's length.
  QTest::newRow("WBMP of the wrong length") << QByteArray("\0\0\x08\x02\xFF", 5);
  // A Targa header whose pixels are missing.
  QByteArray tga(18, '\0');
  tga[2] = 2;
  tga[12] = 64;
  tga[14] = 64;
  tga[16] = 24;
  QTest::newRow("Targa without pixels") << tga;
  // An icon directory pointing past the end of the file.
  QTest::newRow("icon pointing outside") << QByteArray("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0\0\x10\0\0\x16\0\0\0", 22);
  // A TIFF header with nothing behind it.
  QTest::newRow("TIFF header only") << QByteArray("II*\0\x08\0\0\0", 8);
}

void ImageViewTest::contentThatIsNoImageIsRefused() {
  QFETCH(QByteArray, content);
  const QString path = Write(QStringLiteral("picture.png"), content);
  CKorvaneStaticFileViewer pane;
  auto* before = new QLabel(QStringLiteral("the view shown before"));
  pane.SetCurrentView(before);

  QVERIFY(!ShowImageView(pane, path));
  QCOMPARE(pane.CurrentView(), before);
}

void ImageViewTest::anImageIsShownAtItsOwnSizeFromTheTopLeft() {
  // A pane smaller than the picture cuts it off; a larger one leaves it at
  // its own size in the top-left corner.
  for (const QSize paneSize : {QSize(12, 10), QSize(300, 200)}) {
    CKorvaneStaticFileViewer pane;
    pane.resize(paneSize);
    pane.show();
    QVERIFY(ShowImageView(pane, Sample(QStringLiteral("sample.png"))));
    auto* view = pane.CurrentViewAs<QLabel>();
    QVERIFY(view != nullptr);
    QCOMPARE(view->geometry(), QRect(QPoint(0, 0), paneSize));
    QCOMPARE(view->pixmap().size(), QSize(24, 16));
    QVERIFY(!view->hasScaledContents());
    const QImage shown = pane.grab().toImage();
    // Inside the one-pixel border: the picture's own pixels, unscaled.
    const QImage original(Sample(QStringLiteral("sample.png")));
    QCOMPARE(shown.pixel(1 + 7, 1 + 7), original.pixel(7, 7));
    QCOMPARE(shown.pixel(1 + 2, 1 + 1), original.pixel(2, 1));
    if (paneSize.width() > 100) {
      QCOMPARE(shown.pixel(1 + 23, 1 + 15), original.pixel(23, 15));
      QVERIFY(shown.pixel(1 + 30, 1 + 20) != original.pixel(23, 15));
    }
  }
}

void ImageViewTest::aFileThatCannotBeReadIsRefused() {
  CKorvaneStaticFileViewer pane;
  QVERIFY(!ShowImageView(pane, dir_.filePath(QStringLiteral("missing.png"))));
  QVERIFY(!ShowImageView(pane, dir_.path()));
  QCOMPARE(pane.CurrentView(), nullptr);
}

QTEST_MAIN(ImageViewTest)
#include "image_view_test.moc"
