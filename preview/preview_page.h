// The small page "bkTmp.htm" that the browser is given instead of a picture,
// a sound or video, or a Flash movie: it embeds the copy lying beside it in
// the temporary folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "preview/preview_types.h"

namespace ostrel::preview {

inline constexpr const char* kPreviewPageName = "bkTmp.htm";

// The page's bytes for the copy at `path` (the full path of the copy), as
// 8-bit text with one zero byte at its end. Each character is stored as its
// low 8 bits, except where that would break the page or the file's address:
// characters above 255 are written as character references, and the
// characters ' " & < > % # ? of the file's name are escaped. A name without
// those comes out character for character. `kind` is Image, Media or Flash;
// `upperExtension` picks an audio element over a video element for the media
// page.
QByteArray PreviewPageBytes(PreviewPage kind, const QString& path, const QString& upperExtension);

// Writes the page of `kind` for the copy at `path` to `folder` (ending in a
// separator) + "bkTmp.htm", created or truncated, and returns that path;
// nothing, having written nothing, when the file cannot be created.
std::optional<QString> WritePreviewPage(PreviewPage kind, const QString& path, const QString& folder,
                                        const QString& upperExtension);

}  // namespace ostrel::preview
