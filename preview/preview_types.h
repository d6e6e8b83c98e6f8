// Which view shows a previewed file: chosen by the file's extension, compared
// in upper case against fixed groups. A file whose extension is in no group
// (or that has none) gets the hex dump, which is also what every view falls
// back to when it cannot show the file.
#pragma once

#include <QString>

namespace ostrel::preview {

enum class PreviewGroup {
  Image,    // the image view
  Dbx,      // mail folders: the hex dump
  Text,     // the read-only text view
  Browser,  // the embedded browser, on the file or on a generated page
  Archive,  // the listing of an archive's entries
  Other,    // the hex dump
};

// The page the browser is given instead of the file itself.
enum class PreviewPage {
  None,   // the browser opens the file
  Image,  // a page showing the file as an image
  Media,  // a page playing the file
  Flash,  // a page with a Flash object
};

// The text after the last "." of `name`, letters as they stand; empty when
// the name has no ".".
QString GetFileExtension(const QString& name);

// `upperExtension` is compared exactly: the caller upper-cases it.
PreviewGroup PreviewGroupOf(const QString& upperExtension);
// For the browser group.
PreviewPage PreviewPageOf(const QString& upperExtension);
// The media-page extensions that carry sound only (an audio element plays
// them; the others get a video element).
bool IsSoundOnlyExtension(const QString& upperExtension);

}  // namespace ostrel::preview
