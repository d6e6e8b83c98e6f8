// The private folder that holds the copy of the file being previewed (and, for
// some types, a generated page). It lives under the system's temporary path
// and is emptied before every preview, before every scan, when the program
// starts and when it closes.
#pragma once

#include <QString>

namespace ostrel::preview {

// QDir::tempPath() + "/BKFTmpOstrelv4", without a trailing separator.
QString GetTempFolderPath();

// Deletes the temporary folder with everything in it, if it exists. Failures
// are ignored: whatever cannot be deleted stays, and so do the folders above
// it. When the folder's path is a symbolic link, only the link goes.
void CleanTempFolder();

// Deletes everything inside `folder` (not `folder` itself): files, symbolic
// links and sub-folders, depth first. A symbolic link is removed as a link and
// never followed, so nothing outside `folder` is ever touched. Does nothing
// when `folder` is itself a symbolic link or not a folder.
void DeleteFolderContents(const QString& folder);

}  // namespace ostrel::preview
