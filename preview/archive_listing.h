// The archive listing: the entries inside an archive (path and type, with the
// desktop's icons) as the preview pane's view. The entries are read by
// archive_reader.h; a file it cannot read is shown as a hex dump.
#pragma once

#include <QString>
#include <QTableView>
#include <vector>

#include "preview/archive_reader.h"

namespace ostrel::preview {

class CKorvaneStaticFileViewer;

// The list: two columns, "File Name" (the entry's path and icon) and "File
// Type" ("Folder", or the desktop's name for the file's type), one row an
// entry in the archive's order, grid lines, whole rows selected.
class CArchiveListView : public QTableView {
  Q_OBJECT

 public:
  explicit CArchiveListView(const CKorvaneStaticFileViewer& pane);
  // Replaces the rows.
  void SetEntries(std::vector<ArchiveEntry> entries);
  int EntryCount() const;
};

// Makes a CArchiveListView of the file's entries the pane's current view.
// The format is the one named by the extension of `path` (in any case).
// 1 when the list shows the archive (also with no rows); 0 when it cannot be
// read: the pane then shows the hex dump of `path`. When the reason is that
// the archive library cannot be used, `note` (if given) receives one line
// saying so, for the log.
int ShowArchiveListing(CKorvaneStaticFileViewer& pane, const QString& path, QString* note = nullptr);

// The two halves of ShowArchiveListing, so that the reading, which the
// library may take a while over, can run on another thread: the entries of
// the archive at `path` (its format from the extension), and the listing of
// a reading done before (or the hex dump of `path` when it failed).
ArchiveReading ReadArchiveOf(const QString& path);
int ShowArchiveReading(CKorvaneStaticFileViewer& pane, const QString& path, ArchiveReading reading,
                       QString* note = nullptr);

}  // namespace ostrel::preview
