// What the preview's views share: reading the start of the copied file, and
// the wait cursor while a view is built.
#pragma once

#include <QApplication>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ostrel::preview {

// The first `max` bytes of the regular file at `path` (a shorter file whole),
// or nothing when it is no regular file or cannot be opened. A read that ends
// early keeps what it got.
std::optional<std::vector<std::uint8_t>> ReadFileStart(const QString& path, std::size_t max);

// The wait cursor for the life of the object.
class PreviewWaitCursor {
 public:
  PreviewWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~PreviewWaitCursor() { QApplication::restoreOverrideCursor(); }
  PreviewWaitCursor(const PreviewWaitCursor&) = delete;
  PreviewWaitCursor& operator=(const PreviewWaitCursor&) = delete;
};

}  // namespace ostrel::preview
