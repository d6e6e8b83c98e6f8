#include "preview/preview_types.h"

#include <QSet>
#include <QStringList>

namespace ostrel::preview {
namespace {

QSet<QString> SetOf(const char* words) {
  const QStringList list = QString::fromLatin1(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
  return QSet<QString>(list.begin(), list.end());
}

const QSet<QString>& ImageExtensions() {
  static const QSet<QString> set = SetOf(
      "BMP JPG JPEG PNG CUR SKA WMF TIF TIFF ICO TGA PCX WBMP JP2 PGX PNM RAS JBG MNG RAW CRW NEF CR2 DNG "
      "ORF ARW ERF 3FR DCR X3F MEF RAF MRW PEF SR2");
  return set;
}

// XML is text here: the browser would apply the style sheet a document
// names, which may read other files into what it shows.
const QSet<QString>& TextExtensions() {
  static const QSet<QString> set = SetOf(
      "XML RTF TXT HPP INI INF CPP H LOG NFO DSW SLN MSG ABW IDX LST MBOX README CSV WRI BAT ASM FRM CS HH JAV "
      "JAVA INC MAK MK PAS PL PY RES SRC TRX VBS DSP CGI JSP VCPROJ CSPROJ LIC PHP ASP C REG CXX PRG TEXT "
      "ERR CSS CC DEF IDL ASPX DIZ CMD ADM HTA XHT PDF");
  return set;
}

const QSet<QString>& BrowserImagePages() {
  static const QSet<QString> set = SetOf("GIF EMF JPE JFIF DIB");
  return set;
}

const QSet<QString>& BrowserMediaPages() {
  static const QSet<QString> set = SetOf(
      "MP3 MID MIDI MPG MPEG AVI MP2 AU SND ASF ASX WAV WMA WAX WM WMV WVX RA RAM RM RMM M1V MPA MPE RMI MOV "
      "AIF AIFC AIFF IVF DAT WMZ WMS QT VOB M3U MP2V MPV2");
  return set;
}

const QSet<QString>& SoundOnlyMediaPages() {
  static const QSet<QString> set = SetOf("MP3 MID MIDI MP2 AU SND WAV WMA WAX RA RAM MPA RMI AIF AIFC AIFF M3U");
  return set;
}

const QSet<QString>& BrowserOwnPages() {
  static const QSet<QString> set = SetOf("MHT HTML HTM XAP XTM XTML");
  return set;
}

const QSet<QString>& ArchiveExtensions() {
  static const QSet<QString> set = SetOf(
      "7Z ARJ BZIP2 CAB CHM COMPOUND CPIO DEB GZIP ISO LZH LZMA NSIS RAR RPM SPLIT TAR WIM Z ZIP");
  return set;
}

}  // namespace

QString GetFileExtension(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot + 1);
}

PreviewGroup PreviewGroupOf(const QString& upperExtension) {
  if (ImageExtensions().contains(upperExtension)) return PreviewGroup::Image;
  if (upperExtension == QLatin1String("DBX")) return PreviewGroup::Dbx;
  if (TextExtensions().contains(upperExtension)) return PreviewGroup::Text;
  if (PreviewPageOf(upperExtension) != PreviewPage::None || BrowserOwnPages().contains(upperExtension)) {
    return PreviewGroup::Browser;
  }
  if (ArchiveExtensions().contains(upperExtension)) return PreviewGroup::Archive;
  return PreviewGroup::Other;
}

PreviewPage PreviewPageOf(const QString& upperExtension) {
  if (BrowserImagePages().contains(upperExtension)) return PreviewPage::Image;
  if (BrowserMediaPages().contains(upperExtension)) return PreviewPage::Media;
  if (upperExtension == QLatin1String("SWF")) return PreviewPage::Flash;
  return PreviewPage::None;
}

bool IsSoundOnlyExtension(const QString& upperExtension) { return SoundOnlyMediaPages().contains(upperExtension); }

}  // namespace ostrel::preview
