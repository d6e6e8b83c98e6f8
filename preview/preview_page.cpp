#include "preview/preview_page.h"

#include <unistd.h>

#include <cerrno>

#include <QFile>

#include "preview/temp_folder.h"

namespace ostrel::preview {
namespace {

// The page is never fetched from anywhere: these addresses only fill the
// attributes the Flash object has always carried.
constexpr const char* kFlashCabinet = "https://flash-player.example.org/swflash.cab";
constexpr const char* kFlashDownloadPage = "https://flash-player.example.org/download";

// A file's name or path inside an attribute: as it stands, except what would
// end the attribute, start a character reference, or cut the file's address
// short, and characters that 8 bits cannot hold.
void AppendNameText(QByteArray& out, const QString& name) {
  for (const char32_t c : name.toUcs4()) {
    switch (c) {
      case U'\'': out.append("&#39;"); break;
      case U'"': out.append("&quot;"); break;
      case U'&': out.append("&amp;"); break;
      case U'<': out.append("&lt;"); break;
      case U'>': out.append("&gt;"); break;
      case U'%': out.append("%25"); break;
      case U'#': out.append("%23"); break;
      case U'?': out.append("%3F"); break;
      default:
        if (c > 0xFF) {
          out.append("&#").append(QByteArray::number(static_cast<quint32>(c))).append(';');
        } else {
          out.append(static_cast<char>(c));
        }
    }
  }
}

QString FileNameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

// The template's stand-in for the file's name, replaced everywhere it occurs.
QByteArray Substituted(const char* templateText, const char* placeholder, const QString& name) {
  QByteArray value;
  AppendNameText(value, name);
  QByteArray page(templateText);
  page.replace(placeholder, value);
  return page;
}

QByteArray ImagePage(const QString& path) {
  QByteArray page("<html><head></head><body><img src='");
  AppendNameText(page, path);
  page.append("'/></body></html>");
  return page;
}

// There is no media-player object to host: an HTML5 element plays the file,
// in the object's place and size, starting by itself as the object did.
QByteArray MediaPage(const QString& path, const QString& upperExtension) {
  const char* element = IsSoundOnlyExtension(upperExtension) ? "audio" : "video";
  const QByteArray templateText = QByteArray("<") + element +
                                  " ID=\"MediaPlayer1\" WIDTH=320 HEIGHT=240 style=\"width:320px;height:240px\""
                                  " controls autoplay src=\"music.mp3\"></" + element + ">";
  return Substituted(templateText.constData(), "music.mp3", FileNameOf(path));
}

QByteArray FlashPage(const QString& path) {
  QString movie = FileNameOf(path);
  movie.remove(QStringLiteral(".swf"), Qt::CaseSensitive);
  while (!movie.isEmpty() && movie.back().isSpace()) movie.chop(1);
  const QByteArray templateText =
      QByteArray("<OBJECT classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\"") + kFlashCabinet +
      "#version=6,0,0,0\" WIDTH=\"500\" HEIGHT=\"250\" id=\"Yourfilename\" ALIGN=\"\">"
      "<PARAM NAME=movie VALUE=\"Yourfilename.swf\"> <PARAM NAME=quality VALUE=high> "
      "<PARAM NAME=bgcolor VALUE=#333399> <EMBED src=\"Yourfilename.swf\" quality=high bgcolor=#333399 "
      "WIDTH=\"320\" HEIGHT=\"240\" NAME=\"Yourfilename\" ALIGN=\"\" TYPE=\"application/x-shockwave-flash\" "
      "PLUGINSPAGE=\"" + kFlashDownloadPage + "\"></EMBED> </OBJECT>";
  return Substituted(templateText.constData(), "Yourfilename", movie);
}

}  // namespace

QByteArray PreviewPageBytes(PreviewPage kind, const QString& path, const QString& upperExtension) {
  QByteArray page;
  switch (kind) {
    case PreviewPage::Image: page = ImagePage(path); break;
    case PreviewPage::Media: page = MediaPage(path, upperExtension); break;
    case PreviewPage::Flash: page = FlashPage(path); break;
    case PreviewPage::None: break;
  }
  page.append('\0');
  return page;
}

std::optional<QString> WritePreviewPage(PreviewPage kind, const QString& path, const QString& folder,
                                        const QString& upperExtension) {
  const QString name = QString::fromLatin1(kPreviewPageName);
  // Truncating means starting anew: whatever holds the name goes first (a
  // link goes as a link), and the page is created as a new file.
  QFile::remove(folder + name);
  QString reason;
  const int fd = CreatePreviewFile(folder, name, &reason);
  if (fd < 0) return std::nullopt;
  const QByteArray bytes = PreviewPageBytes(kind, path, upperExtension);
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += n;
  }
  ::close(fd);
  if (written != bytes.size()) {
    QFile::remove(folder + name);
    return std::nullopt;
  }
  return folder + name;
}

}  // namespace ostrel::preview
