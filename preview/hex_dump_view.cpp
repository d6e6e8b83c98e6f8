#include "preview/hex_dump_view.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <optional>
#include <vector>

#include "preview/dump_ctrl.h"
#include "preview/static_file_viewer.h"

namespace ostrel::preview {
namespace {

// The wait cursor for the life of the object.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// The first kMaxDumpBytes bytes of a regular file, or nothing when it cannot
// be opened. A read that ends early keeps what it got.
std::optional<std::vector<std::uint8_t>> ReadDumpBytes(const QString& path) {
  // A folder or a device is no file to dump (and a FIFO would block the open).
  if (!QFileInfo(path).isFile()) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const qint64 wanted = std::min<qint64>(std::max<qint64>(file.size(), 0), kMaxDumpBytes);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(wanted));
  qint64 got = 0;
  while (got < wanted) {
    const qint64 n = file.read(reinterpret_cast<char*>(bytes.data()) + got, wanted - got);
    if (n <= 0) break;
    got += n;
  }
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

}  // namespace

void ShowHexDump(CKorvaneStaticFileViewer& pane, const QString& path) {
  pane.DestroyCurrentView();
  pane.SetDumpBuffer({});
  CreateHexDumpView(pane, path);
}

bool CreateHexDumpView(CKorvaneStaticFileViewer& pane, const QString& path) {
  const WaitCursor wait;
  auto* control = new CKorvaneDumpCtrl;
  pane.SetCurrentView(control);
  control->SetDumpReadOnly();

  std::optional<std::vector<std::uint8_t>> bytes = ReadDumpBytes(path);
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
