// The hex dump as the preview pane's view: the dispatcher's fallback for every
// file that no other view shows.
#pragma once

#include <QString>

namespace ostrel::preview {

class CKorvaneStaticFileViewer;

// Replaces whatever the pane shows by a hex dump of the file at `path`: the
// current view goes, the bytes of an earlier hex dump are released, then
// CreateHexDumpView. When the file cannot be opened the pane is left without
// a view; nothing is said.
void ShowHexDump(CKorvaneStaticFileViewer& pane, const QString& path);

// Makes a CKorvaneDumpCtrl the pane's current view, filling it, and shows the
// first kMaxDumpBytes bytes of the file at `path` in it (a shorter file
// whole). The pane keeps the bytes. True when the control shows the file;
// false, with no view left in the pane, when the file cannot be opened.
bool CreateHexDumpView(CKorvaneStaticFileViewer& pane, const QString& path);

}  // namespace ostrel::preview
