#include "preview/preview_dispatch.h"

#include <exception>

#include "preview/archive_listing.h"
#include "preview/browser_view.h"
#include "preview/hex_dump_view.h"
#include "preview/image_view.h"
#include "preview/preview_io.h"
#include "preview/preview_page.h"
#include "preview/preview_types.h"
#include "preview/static_file_viewer.h"
#include "preview/text_view.h"

namespace ostrel::preview {

PreparedPreview PreparePreview(const QString& path, const QString& upperExtension) {
  PreparedPreview prepared;
  switch (PreviewGroupOf(upperExtension)) {
    case PreviewGroup::Image:
      prepared.decoded = true;
      prepared.image = DecodeImageFile(path);
      break;
    case PreviewGroup::Archive:
      prepared.archive = ReadArchiveOf(path);
      break;
    default:
      break;
  }
  return prepared;
}

void ShowPreviewByType(CKorvaneStaticFileViewer& pane, const QString& path, const QString& upperExtension,
                       const QString& folder, const PreparedPreview* prepared,
                       QString* note) {
  const PreviewWaitCursor wait;
  switch (PreviewGroupOf(upperExtension)) {
    case PreviewGroup::Image: {
      pane.DestroyCurrentView();
      bool shown = false;
      try {
        shown = prepared != nullptr && prepared->decoded ? ShowDecodedImage(pane, prepared->image)
                                                         : ShowImageView(pane, path);
      } catch (const std::exception&) {
        // A decoder that throws while the view is built leaves the pane empty.
        return;
      }
      if (!shown) ShowHexDump(pane, path);
      return;
    }
    case PreviewGroup::Dbx:
      pane.DestroyCurrentView();
      ShowHexDump(pane, path);
      return;
    case PreviewGroup::Text:
      pane.DestroyCurrentView();
      if (!ShowTextView(pane, path)) ShowHexDump(pane, path);
      return;
    case PreviewGroup::Browser: {
      pane.DestroyCurrentView();
      QString why;
      if (!BrowserAvailable(&why)) {
        if (note != nullptr) *note = QStringLiteral("Web pages and media are shown as a hex dump: ") + why + '.';
        ShowHexDump(pane, path);
        return;
      }
      QString target = path;
      if (const PreviewPage page = PreviewPageOf(upperExtension); page != PreviewPage::None) {
        const std::optional<QString> written = WritePreviewPage(page, path, folder, upperExtension);
        if (!written) return;  // no page, no view
        target = *written;
      }
      if (!ShowBrowserView(pane, target, folder)) ShowHexDump(pane, path);
      return;
    }
    case PreviewGroup::Archive:
      pane.DestroyCurrentView();
      if (prepared != nullptr && prepared->archive) {
        if (ShowArchiveReading(pane, path, *prepared->archive, note) == 0) ShowHexDump(pane, path);
      } else if (ShowArchiveListing(pane, path, note) == 0) {
        ShowHexDump(pane, path);
      }
      return;
    case PreviewGroup::Other:
      ShowHexDump(pane, path);
      return;
  }
}

}  // namespace ostrel::preview
