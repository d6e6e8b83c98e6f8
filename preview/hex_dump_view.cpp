#include "preview/hex_dump_view.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "preview/dump_ctrl.h"
#include "preview/preview_io.h"
#include "preview/static_file_viewer.h"

namespace ostrel::preview {
void ShowHexDump(CKorvaneStaticFileViewer& pane, const QString& path) {
  pane.DestroyCurrentView();
  pane.SetDumpBuffer({});
  CreateHexDumpView(pane, path);
}

bool CreateHexDumpView(CKorvaneStaticFileViewer& pane, const QString& path) {
  const PreviewWaitCursor wait;
  auto* control = new CKorvaneDumpCtrl;
  pane.SetCurrentView(control);
  control->SetDumpReadOnly();

  std::optional<std::vector<std::uint8_t>> bytes = ReadFileStart(path, kMaxDumpBytes);
  if (!bytes) {
    pane.DestroyCurrentView();
    return false;
  }
  control->SetTipFormat(QStringLiteral("Address : %RH Hex : %2H"), true);
  // The pane owns the bytes; the control only points at them, and the pane
  // destroys the control before it lets the bytes go (ShowHexDump).
  pane.SetDumpBuffer(std::move(*bytes));
  const std::vector<std::uint8_t>& shown = pane.DumpBuffer();
  control->SetDumpData(static_cast<int>(shown.size()), shown.data());
  return true;
}

}  // namespace ostrel::preview
