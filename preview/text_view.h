// The text view: the start of a file as read-only text, for the text group of
// the preview's extension table.
#pragma once

#include <QString>
#include <cstddef>

namespace ostrel::preview {

class CKorvaneStaticFileViewer;

// Text views show at most this many bytes of a file.
inline constexpr std::size_t kMaxTextBytes = 1048576;

// Makes a read-only text control the pane's current view (the caller has
// destroyed the old one) showing the file's first kMaxTextBytes bytes up to
// the first zero byte, each byte as the character of the same code (no code
// page, byte-order mark or UTF-16 detection), in the pane's text font. False,
// with no view left, when the file cannot be read.
bool ShowTextView(CKorvaneStaticFileViewer& pane, const QString& path);

}  // namespace ostrel::preview
