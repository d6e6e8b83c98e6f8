// Chooses the view for a previewed copy by its extension and builds it in the
// preview pane; the hex dump shows whatever no other view can.
#pragma once

#include <QImage>
#include <QString>
#include <optional>

#include "preview/archive_reader.h"

namespace ostrel::preview {

class CKorvaneStaticFileViewer;

// What can be made ready for a view away from the user-interface thread: the
// decoded picture of a file of the image group, the entries of an archive.
struct PreparedPreview {
  bool decoded = false;  // `image` holds the decoding's result (null: no picture)
  QImage image;
  std::optional<ArchiveReading> archive;
};

// Safe on any thread: decodes the file at `path` when `upperExtension` is in
// the image group, reads its entries when it is in the archive group; does
// nothing for the other groups.
PreparedPreview PreparePreview(const QString& path, const QString& upperExtension);

// `path` is the copy in the temporary folder, `upperExtension` its extension
// in upper case (empty when it has none), `folder` the temporary folder with
// a trailing separator. Image, text, web, archive and mail-folder files get
// their views (a mail folder the hex dump); a file that its view cannot show,
// and any other file, gets the hex dump of `path`. Pictures, sounds, videos
// and Flash movies of the web group are shown through a page written to
// `folder` ("bkTmp.htm"); when that page cannot be written, no view follows. With `prepared` (from
// PreparePreview of the same file), the picture is not decoded again. When a
// view cannot be used at all (the archive library or the browser is missing), `note` (if
// given) receives one line saying why, for the log; otherwise it is left as
// it is.
void ShowPreviewByType(CKorvaneStaticFileViewer& pane, const QString& path, const QString& upperExtension,
                       const QString& folder, const PreparedPreview* prepared = nullptr, QString* note = nullptr);

}  // namespace ostrel::preview
