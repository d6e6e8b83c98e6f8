#include "preview/preview_io.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace ostrel::preview {

std::optional<std::vector<std::uint8_t>> ReadFileStart(const QString& path, std::size_t max) {
  // A folder or a device is no file to show (and a FIFO would block the open).
  if (!QFileInfo(path).isFile()) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const qint64 wanted = std::min<qint64>(std::max<qint64>(file.size(), 0), static_cast<qint64>(max));
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

}  // namespace ostrel::preview
