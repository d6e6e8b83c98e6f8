// Icons and type names for catalogue entries, from the name alone: no file is
// ever touched. Type names come from the MIME database's description of the
// extension; icons from the desktop's icon theme when it has one, otherwise
// from icons painted here, so that they show on a bare machine too. Answers
// are cached by extension. User-interface thread only.
#pragma once

#include <QIcon>
#include <QString>

namespace ostrel::app {

QIcon FolderIcon();
QIcon FileIcon(const QString& name);
// "plain text document" for a.txt, "XYZ File" for an unknown extension,
// "File" for a name without one; "Folder" is the folders' type.
QString FileTypeName(const QString& name);
inline const QString kFolderTypeName = QStringLiteral("Folder");

}  // namespace ostrel::app
