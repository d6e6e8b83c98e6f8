// Paints the program's artwork (ribbon icons, the application button, tab
// icons, the program's icon in several sizes, the file list's background
// picture, the splash window and the About dialog) into PNG files at build
// time.
// Usage: make_artwork OUT.png [OUT.png ...]
// The picture is chosen by the file name: "open.png" is the Open icon at its
// base size, "open@2x.png" the same at twice the size.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>

namespace {

// Every icon is drawn on a 32 x 32 grid and scaled to its size.
using Draw = std::function<void(QPainter&)>;

QLinearGradient Vertical(qreal y0, qreal y1, const QColor& top, const QColor& bottom) {
  QLinearGradient g(0, y0, 0, y1);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  return g;
}

QPen Outline(const QColor& color, qreal width = 1.0) {
  QPen pen(color, width);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

// A closed outline through `points`.
QPainterPath Shape(std::initializer_list<QPointF> points) {
  QPainterPath path;
  path.addPolygon(QPolygonF(QList<QPointF>(points)));
  path.closeSubpath();
  return path;
}

void Gloss(QPainter& p, const QRectF& area) {
  QLinearGradient g(area.topLeft(), area.bottomLeft());
  g.setColorAt(0, QColor(255, 255, 255, 150));
  g.setColorAt(1, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(area);
}

void Tape(QPainter& p, const QRectF& r) {
  p.setPen(Outline(QColor(0x1c, 0x24, 0x2e)));
  p.setBrush(Vertical(r.top(), r.bottom(), QColor(0x5d, 0x6d, 0x80), QColor(0x2a, 0x34, 0x40)));
  p.drawRoundedRect(r, 1.5, 1.5);
  const QRectF label(r.left() + 2, r.top() + 1.6, r.width() - 4, r.height() * 0.28);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf4, 0xf1, 0xe6));
  p.drawRect(label);
  const qreal ry = r.top() + r.height() * 0.66;
  const qreal rr = r.height() * 0.2;
  for (qreal cx : {r.left() + r.width() * 0.3, r.left() + r.width() * 0.7}) {
    p.setBrush(QColor(0xe8, 0xec, 0xf0));
    p.drawEllipse(QPointF(cx, ry), rr, rr);
    p.setBrush(QColor(0x2a, 0x34, 0x40));
    p.drawEllipse(QPointF(cx, ry), rr * 0.45, rr * 0.45);
  }
}

void DrawOpen(QPainter& p) {
  p.setPen(Outline(QColor(0x8a, 0x62, 0x14)));
  p.setBrush(Vertical(7, 27, QColor(0xf3, 0xcd, 0x6c), QColor(0xd0, 0x98, 0x2c)));
  p.drawPath(Shape({{3, 7}, {12, 7}, {14.5, 9.5}, {27, 9.5}, {27, 27}, {3, 27}}));

  Tape(p, QRectF(9, 5.5, 16, 11));

  p.setPen(Outline(QColor(0x8a, 0x62, 0x14)));
  p.setBrush(Vertical(13.5, 27, QColor(0xff, 0xec, 0xb0), QColor(0xf0, 0xbc, 0x46)));
  p.drawPath(Shape({{6, 13.5}, {30.5, 13.5}, {27, 27}, {2.5, 27}}));
  p.setPen(QPen(QColor(255, 255, 255, 170), 0.8));
  p.drawLine(QPointF(6.8, 14.6), QPointF(29.4, 14.6));
}

QPolygonF Octagon(QPointF centre, qreal radius) {
  QPolygonF shape;
  for (int i = 0; i < 8; ++i) {
    const qreal a = qDegreesToRadians(22.5 + 45.0 * i);
    shape << QPointF(centre.x() + radius * qCos(a), centre.y() + radius * qSin(a));
  }
  return shape;
}

void DrawStop(QPainter& p) {
  const QPointF c(16, 16);
  p.setPen(Outline(QColor(0x6e, 0x08, 0x04)));
  p.setBrush(Vertical(3, 29, QColor(0xff, 0x7a, 0x68), QColor(0xb8, 0x12, 0x0a)));
  p.drawPolygon(Octagon(c, 13.5));
  p.setPen(QPen(QColor(255, 255, 255, 220), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawPolygon(Octagon(c, 11.6));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(11, 11, 10, 10), 1.2, 1.2);
  Gloss(p, QRectF(7, 4, 18, 9));
}

void DownArrow(QPainter& p, qreal cx, qreal top, qreal bottom, qreal width, const QColor& light,
               const QColor& dark, const QColor& edge) {
  const qreal shaft = width * 0.42;
  const qreal headTop = bottom - width * 0.62;
  p.setPen(Outline(edge));
  p.setBrush(Vertical(top, bottom, light, dark));
  p.drawPath(Shape({{cx - shaft / 2, top},
                    {cx + shaft / 2, top},
                    {cx + shaft / 2, headTop},
                    {cx + width / 2, headTop},
                    {cx, bottom},
                    {cx - width / 2, headTop},
                    {cx - shaft / 2, headTop}}));
}

void DrawSave(QPainter& p) {
  p.setPen(Outline(QColor(0x3e, 0x4b, 0x5a)));
  p.setBrush(Vertical(17, 28, QColor(0xe6, 0xec, 0xf2), QColor(0x93, 0xa2, 0xb2)));
  p.drawRoundedRect(QRectF(3.5, 17.5, 25, 10), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3e, 0x4b, 0x5a));
  p.drawRoundedRect(QRectF(7, 21.5, 13, 2.2), 1, 1);
  p.setBrush(QColor(0x6c, 0xe0, 0x4a));
  p.drawEllipse(QPointF(24, 22.6), 1.5, 1.5);
  DownArrow(p, 16, 2.5, 20, 15, QColor(0x8c, 0xe0, 0x6a), QColor(0x2a, 0x94, 0x18), QColor(0x1b, 0x5a, 0x10));
}

void DrawSearch(QPainter& p) {
  QPen handle(QColor(0x3a, 0x2a, 0x1a), 5.2, Qt::SolidLine, Qt::RoundCap);
  p.setPen(handle);
  p.drawLine(QPointF(20, 20), QPointF(27.5, 27.5));
  p.setPen(QPen(QColor(0x8a, 0x62, 0x38), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(20.6, 20.6), QPointF(27, 27));

  QRadialGradient glass(QPointF(11, 10), 11);
  glass.setColorAt(0, QColor(0xf4, 0xfb, 0xff, 235));
  glass.setColorAt(1, QColor(0x7d, 0xb8, 0xe8, 235));
  p.setBrush(glass);
  p.setPen(QPen(QColor(0x2a, 0x3a, 0x4c), 2.6));
  p.drawEllipse(QPointF(13, 13), 9, 9);
  p.setPen(QPen(QColor(255, 255, 255, 200), 1.4, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(7.5, 7.5, 11, 11), 100 * 16, 70 * 16);
}

void Paper(QPainter& p, const QRectF& r) {
  const qreal fold = r.width() * 0.28;
  p.setPen(Outline(QColor(0x55, 0x64, 0x74)));
  p.setBrush(Vertical(r.top(), r.bottom(), Qt::white, QColor(0xe2, 0xe8, 0xef)));
  p.drawPath(Shape({r.topLeft(), {r.right() - fold, r.top()}, {r.right(), r.top() + fold}, r.bottomRight(),
                    r.bottomLeft()}));
  p.setBrush(QColor(0xc8, 0xd2, 0xde));
  p.drawPath(Shape({{r.right() - fold, r.top()}, {r.right() - fold, r.top() + fold}, {r.right(), r.top() + fold}}));
}

void DrawLog(QPainter& p) {
  Paper(p, QRectF(6.5, 2.5, 19, 27));
  p.setPen(QPen(QColor(0x3f, 0x7c, 0xc4), 1.3, Qt::SolidLine, Qt::RoundCap));
  const qreal widths[] = {9, 12, 10, 12, 7, 11};
  for (int i = 0; i < 6; ++i) {
    const qreal y = 10.5 + i * 3.0;
    p.drawLine(QPointF(9.5, y), QPointF(9.5 + widths[i], y));
  }
}

void Camera(QPainter& p) {
  p.setPen(Outline(QColor(0x16, 0x1b, 0x21)));
  p.setBrush(Vertical(6, 12, QColor(0x7a, 0x85, 0x92), QColor(0x4a, 0x54, 0x60)));
  p.drawRoundedRect(QRectF(10, 6.5, 10, 5), 1.2, 1.2);
  p.setBrush(Vertical(10, 27, QColor(0x79, 0x86, 0x95), QColor(0x2a, 0x32, 0x3b)));
  p.drawRoundedRect(QRectF(2.5, 10, 27, 16.5), 3, 3);
  QRadialGradient lens(QPointF(14.5, 16.5), 7);
  lens.setColorAt(0, QColor(0xb8, 0xe0, 0xff));
  lens.setColorAt(0.6, QColor(0x2e, 0x6c, 0xb0));
  lens.setColorAt(1, QColor(0x0e, 0x2a, 0x4c));
  p.setPen(QPen(QColor(0xd8, 0xdd, 0xe3), 1.6));
  p.setBrush(lens);
  p.drawEllipse(QPointF(16, 18), 6, 6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xff, 0xe0, 0x8a));
  p.drawRoundedRect(QRectF(23.5, 12.2, 3.5, 2.2), 0.6, 0.6);
}

void Badge(QPainter& p, bool up, const QColor& light, const QColor& dark) {
  const QPointF c(24.5, 24.5);
  p.setPen(Outline(dark.darker(160)));
  p.setBrush(Vertical(18, 31, light, dark));
  p.drawEllipse(c, 6.8, 6.8);
  const qreal s = up ? -1 : 1;  // the arrow's tip: above or below the centre
  const qreal x = c.x();
  const qreal y = c.y();
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(Shape({{x, y + s * 4.2},
                    {x + 3.8, y + s * 0.2},
                    {x + 1.4, y + s * 0.2},
                    {x + 1.4, y - s * 3.8},
                    {x - 1.4, y - s * 3.8},
                    {x - 1.4, y + s * 0.2},
                    {x - 3.8, y + s * 0.2}}));
}

void DrawSnapshotLoad(QPainter& p) {
  Camera(p);
  Badge(p, true, QColor(0x8c, 0xe0, 0x6a), QColor(0x24, 0x8a, 0x14));
}

void DrawSnapshotSave(QPainter& p) {
  Camera(p);
  Badge(p, false, QColor(0x7c, 0xc0, 0xff), QColor(0x15, 0x5c, 0xb0));
}

void Disc(QPainter& p, const QColor& light, const QColor& dark) {
  p.setPen(Outline(dark.darker(150), 1.0));
  p.setBrush(Vertical(2.5, 29.5, light, dark));
  p.drawEllipse(QPointF(16, 16), 13.5, 13.5);
  Gloss(p, QRectF(7, 3.8, 18, 11));
}

void DrawHelp(QPainter& p) {
  Disc(p, QColor(0x7c, 0xbd, 0xff), QColor(0x16, 0x55, 0xaa));
  QPainterPath mark;
  mark.moveTo(11.6, 12.4);
  mark.arcTo(QRectF(11.6, 7.6, 8.8, 8.8), 180, -250);
  mark.quadTo(16, 17.5, 16, 19.6);
  p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(mark);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 24), 2, 2);
}

void DrawAbout(QPainter& p) {
  Disc(p, QColor(0x7a, 0xdc, 0xc6), QColor(0x13, 0x80, 0x6c));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 9.6), 2.3, 2.3);
  p.drawRoundedRect(QRectF(13.9, 13.4, 4.2, 11.6), 1.4, 1.4);
}

// A tape reel: the program's emblem.
void Reel(QPainter& p, QPointF c, qreal r) {
  p.setPen(Outline(QColor(0x7a, 0x2e, 0x02), r * 0.08));
  QRadialGradient body(c - QPointF(r * 0.3, r * 0.4), r * 1.3);
  body.setColorAt(0, QColor(0xff, 0xc2, 0x5a));
  body.setColorAt(1, QColor(0xd9, 0x5a, 0x06));
  p.setBrush(body);
  p.drawEllipse(c, r, r);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x26, 0x1a, 0x10));
  for (int i = 0; i < 3; ++i) {
    const qreal a = qDegreesToRadians(-90.0 + 120.0 * i);
    p.drawEllipse(QPointF(c.x() + r * 0.52 * qCos(a), c.y() + r * 0.52 * qSin(a)), r * 0.26, r * 0.26);
  }
  p.setBrush(QColor(0xff, 0xe6, 0xb0));
  p.drawEllipse(c, r * 0.17, r * 0.17);
}

void DrawOrb(QPainter& p) {
  const QPointF c(16, 16);
  QRadialGradient shell(QPointF(16, 9), 20);
  shell.setColorAt(0, QColor(0x70, 0x70, 0x70));
  shell.setColorAt(0.55, QColor(0x2a, 0x2a, 0x2a));
  shell.setColorAt(1, QColor(0x08, 0x08, 0x08));
  p.setPen(QPen(QColor(0x05, 0x05, 0x05), 0.8));
  p.setBrush(shell);
  p.drawEllipse(c, 15.3, 15.3);
  p.setPen(QPen(QColor(0xa8, 0xa8, 0xa8, 160), 0.7));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, 14.3, 14.3);
  Reel(p, c, 9.2);
  Gloss(p, QRectF(6.5, 2.2, 19, 11.5));
}

void DrawPanelRecovery(QPainter& p) { Reel(p, QPointF(16, 16), 13.5); }

void DrawPanelSnapshots(QPainter& p) { Camera(p); }

void DrawTabViewer(QPainter& p) {
  p.setPen(Outline(QColor(0x4a, 0x55, 0x62), 1.6));
  p.setBrush(Vertical(4, 28, QColor(0xb8, 0xe0, 0xff), QColor(0xe8, 0xf5, 0xff)));
  p.drawRect(QRectF(3, 5, 26, 22));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xff, 0xc8, 0x2c));
  p.drawEllipse(QPointF(22, 11.5), 3.2, 3.2);
  QPainterPath hills;
  hills.moveTo(3.8, 26.2);
  hills.lineTo(3.8, 21);
  hills.quadTo(9, 13, 15, 20);
  hills.quadTo(20, 16, 28.2, 22);
  hills.lineTo(28.2, 26.2);
  hills.closeSubpath();
  p.setBrush(Vertical(14, 27, QColor(0x7c, 0xcc, 0x52), QColor(0x2c, 0x86, 0x1c)));
  p.drawPath(hills);
}

// The file list's background: a pale wash with two soft bands in the lower
// right, faint enough for black text over it. It is stretched to the list.
QImage ListBackground() {
  QImage image(1200, 800, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient wash(0, 0, 0, image.height());
  wash.setColorAt(0, QColor(0xff, 0xff, 0xff));
  wash.setColorAt(1, QColor(0xf3, 0xf6, 0xfa));
  p.fillRect(image.rect(), wash);
  for (int band = 0; band < 2; ++band) {
    QPainterPath path;
    const qreal lift = band * 90.0;
    path.moveTo(0, 800);
    path.lineTo(0, 700 - lift);
    path.cubicTo(380, 610 - lift, 700, 820 - lift, 1200, 520 - lift);
    path.lineTo(1200, 800);
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xdc, 0xe6, 0xf2, band == 0 ? 70 : 45));
    p.drawPath(path);
  }
  p.setPen(QPen(QColor(0xc8, 0xd6, 0xe8, 120), 3));
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(1040, 640), 70.0 + 34 * i, 70.0 + 34 * i);
  return image;
}

// The face of the splash window and of the About dialog: the emblem, the
// name and the version on a dark panel.
void Face(QPainter& p, const QRectF& panel, const QString& lines) {
  QLinearGradient body(panel.topLeft(), panel.bottomLeft());
  body.setColorAt(0, QColor(0x4c, 0x4c, 0x4c));
  body.setColorAt(0.5, QColor(0x2c, 0x2c, 0x2c));
  body.setColorAt(1, QColor(0x18, 0x18, 0x18));
  p.setPen(QPen(QColor(0x8a, 0x8a, 0x8a), 2));
  p.setBrush(body);
  p.drawRoundedRect(panel.adjusted(1, 1, -1, -1), 18, 18);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.save();
  p.translate(panel.left() + 26, panel.top() + 30);
  p.scale(96 / 32.0, 96 / 32.0);
  DrawOrb(p);
  p.restore();
  QFont title(QStringLiteral("Liberation Sans"));
  title.setPixelSize(24);
  title.setBold(true);
  p.setFont(title);
  p.setPen(QColor(0xf4, 0xf4, 0xf4));
  const QRectF text(panel.left() + 140, panel.top() + 34, panel.width() - 160, 64);
  p.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, QStringLiteral("Korvane Ostrel BKF Repair"));
  QFont body2(QStringLiteral("Liberation Sans"));
  body2.setPixelSize(13);
  p.setFont(body2);
  p.setPen(QColor(0xd8, 0xd8, 0xd8));
  p.drawText(QRectF(text.left(), text.bottom() + 4, text.width(), 80), Qt::AlignLeft | Qt::AlignTop, lines);
}

// A picture of `size` holding the face on `surround`; the face's edge is
// drawn without smoothing, so that no pixel there is a blend with it.
QImage FacePicture(QSize size, const QColor& surround, const QString& lines) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(surround);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  Face(p, QRectF(QPointF(0, 0), QSizeF(size)), lines.arg(OSTREL_ARTWORK_VERSION));
  return image;
}

// The splash picture: everything outside the rounded panel is pure magenta,
// which the window cuts out of its shape.
QImage Splash() {
  return FacePicture(QSize(460, 240), QColor(255, 0, 255),
                     QStringLiteral("Version %1\nRecovers files from damaged BKF backups.\nStarting..."));
}

// The About dialog's picture; the dialog puts its OK button near the bottom.
QImage AboutPicture() {
  return FacePicture(QSize(420, 270), QColor(0x22, 0x22, 0x22),
                     QStringLiteral("Version %1\nRecovers files from damaged BKF backups\n(Microsoft Tape Format)."));
}

struct Picture {
  int size;  // base edge in pixels
  Draw draw;
};

const std::map<QString, Picture>& Pictures() {
  static const std::map<QString, Picture> pictures = {
      {"open", {32, DrawOpen}},
      {"stop", {32, DrawStop}},
      {"save", {32, DrawSave}},
      {"search", {32, DrawSearch}},
      {"log", {32, DrawLog}},
      {"snapshot-load", {32, DrawSnapshotLoad}},
      {"snapshot-save", {32, DrawSnapshotSave}},
      {"help", {32, DrawHelp}},
      {"about", {32, DrawAbout}},
      {"app-button", {42, DrawOrb}},
      {"app-icon", {64, DrawOrb}},
      {"panel-recovery", {16, DrawPanelRecovery}},
      {"panel-snapshots", {16, DrawPanelSnapshots}},
      {"tab-log", {16, DrawLog}},
      {"tab-viewer", {16, DrawTabViewer}},
      // The program's icon in the desktop's usual sizes.
      {"icon-16", {16, DrawOrb}},
      {"icon-32", {32, DrawOrb}},
      {"icon-48", {48, DrawOrb}},
      {"icon-64", {64, DrawOrb}},
      {"icon-128", {128, DrawOrb}},
      {"icon-256", {256, DrawOrb}},
  };
  return pictures;
}

bool Paint(const QString& outPath) {
  QString name = QFileInfo(outPath).completeBaseName();
  if (name == QLatin1String("list-background")) return ListBackground().save(outPath, "PNG");
  if (name == QLatin1String("splash")) return Splash().save(outPath, "PNG");
  if (name == QLatin1String("about-picture")) return AboutPicture().save(outPath, "PNG");
  int scale = 1;
  if (name.endsWith(QLatin1String("@2x"))) {
    name.chop(3);
    scale = 2;
  }
  const auto found = Pictures().find(name);
  if (found == Pictures().end()) {
    std::fprintf(stderr, "make_artwork: no picture named %s\n", qPrintable(name));
    return false;
  }
  const int edge = found->second.size * scale;
  QImage image(edge, edge, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(edge / 32.0, edge / 32.0);
    found->second.draw(p);
  }
  return image.save(outPath, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  // Text needs the font database, which needs an application (offscreen).
  QGuiApplication application(argc, argv);
  for (int i = 1; i < argc; ++i) {
    const QString out = QString::fromLocal8Bit(argv[i]);
    QDir().mkpath(QFileInfo(out).absolutePath());
    if (!Paint(out)) {
      std::fprintf(stderr, "make_artwork: cannot write %s\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
