// The preview request: a row of the file list picked, its file's data copied
// into the private temporary folder on a job, and the copy shown in the "File
// Viewer" tab by the view its extension calls for.
#pragma once

#include <QString>
#include <cstdint>

class QTreeWidgetItem;

namespace ostrel::app {

// Files whose data is this long or longer are not previewed.
inline constexpr std::uint64_t kPreviewRefusalSize = 11534336;

inline const QString kPreviewTooLarge =
    QStringLiteral("The file size is more than 10MB, please save file to see preview .");
inline const QString kPreviewContinuation =
    QStringLiteral("File must have its beginning in a earlier file, please save file to see preview.");
inline const QString kPreviewSplit =
    QStringLiteral("Selected BKF file seems to be split.please save file to see preview.");

// The first child of `parent`, in the tree's order, whose label is exactly
// `text` (letter case counts), or nullptr.
QTreeWidgetItem* FindChildItemByText(QTreeWidgetItem* parent, const QString& text);

// The name a mail message's copy is renamed to, so that the browser takes it
// for a page: the file name in upper case with every ".EML" made ".HTM".
QString MailPageName(const QString& fileName);

}  // namespace ostrel::app
