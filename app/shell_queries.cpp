#include "app/shell_queries.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace ostrel::app {
namespace {

// The extension after the last dot, or nothing (".profile" has none).
QString ExtensionOf(const QString& name) {
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot <= 0 || dot == name.size() - 1) return {};
  return name.mid(dot + 1).toLower();
}

struct TypeInfo {
  QString name;
  QIcon icon;
};

// A page with a folded corner and the extension written across it, coloured
// by the kind of file.
QIcon PaintedFileIcon(const QString& extension, const QString& mimeName) {
  QColor band(0x6b, 0x7b, 0x8c);
  if (mimeName.startsWith(QLatin1String("image/"))) band = QColor(0x2e, 0x8b, 0x57);
  else if (mimeName.startsWith(QLatin1String("audio/"))) band = QColor(0x8e, 0x44, 0xad);
  else if (mimeName.startsWith(QLatin1String("video/"))) band = QColor(0xc0, 0x39, 0x2b);
  else if (mimeName.startsWith(QLatin1String("text/"))) band = QColor(0x29, 0x80, 0xb9);
  else if (mimeName.contains(QLatin1String("zip")) || mimeName.contains(QLatin1String("compressed")) ||
           mimeName.contains(QLatin1String("archive")) || mimeName.contains(QLatin1String("tar")))
    band = QColor(0xd3, 0x8b, 0x1f);
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 16.0;
    QPainterPath page;
    page.moveTo(2.5 * s, 0.5 * s);
    page.lineTo(10 * s, 0.5 * s);
    page.lineTo(13.5 * s, 4 * s);
    page.lineTo(13.5 * s, 15.5 * s);
    page.lineTo(2.5 * s, 15.5 * s);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.fillRect(QRectF(2.5 * s, 9 * s, 11 * s, 5 * s), band);
    if (!extension.isEmpty()) {
      QFont font = QApplication::font();
      font.setPixelSize(static_cast<int>(4 * s));
      font.setBold(true);
      p.setFont(font);
      p.setPen(Qt::white);
      p.drawText(QRectF(2.5 * s, 9 * s, 11 * s, 5 * s), Qt::AlignCenter, extension.left(4).toUpper());
    }
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

const TypeInfo& InfoFor(const QString& name) {
  static QHash<QString, TypeInfo> cache;
  const QString extension = ExtensionOf(name);
  auto it = cache.find(extension);
  if (it != cache.end()) return it.value();
  TypeInfo info;
  if (extension.isEmpty()) {
    info.name = QStringLiteral("File");
    info.icon = PaintedFileIcon({}, {});
  } else {
    static const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    const bool known = mime.isValid() && !mime.isDefault();
    info.name = known && !mime.comment().isEmpty() ? mime.comment()
                                                   : extension.toUpper() + QStringLiteral(" File");
    QIcon themed;
    if (known) {
      themed = QIcon::fromTheme(mime.iconName());
      if (themed.isNull()) themed = QIcon::fromTheme(mime.genericIconName());
    }
    info.icon = themed.isNull() ? PaintedFileIcon(extension, known ? mime.name() : QString()) : themed;
  }
  return cache.insert(extension, info).value();
}

}  // namespace

QIcon FolderIcon() {
  static const QIcon icon = [] {
    QIcon themed = QIcon::fromTheme(QStringLiteral("folder"));
    return themed.isNull() ? QApplication::style()->standardIcon(QStyle::SP_DirIcon) : themed;
  }();
  return icon;
}

QIcon FileIcon(const QString& name) { return InfoFor(name).icon; }

QString FileTypeName(const QString& name) { return InfoFor(name).name; }

}  // namespace ostrel::app
