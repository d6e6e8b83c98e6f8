// The private folder that holds the copy of the file being previewed (and, for
// some types, a generated page). It lives under the system's temporary path
// and is emptied before every preview, before every scan, when the program
// starts and when it closes.
//
// The temporary path is shared by every user of the machine, so the folder is
// made private: created with mode 0700 and, once opened without following a
// link, checked to be a folder the user owns with mode 0700. When a folder of
// that name exists and is not such a folder (another user's, a symbolic link,
// one that others may read), the per-user place is used instead:
// $XDG_RUNTIME_DIR/BKFTmpOstrelv4, else /tmp/BKFTmpOstrelv4-<uid>, under the
// same checks. Nothing is ever written into a folder that fails them.
#pragma once

#include <QString>

namespace ostrel::preview {

// The folder in use, without a trailing separator: QDir::tempPath() +
// "/BKFTmpOstrelv4" when that is free or a private folder of the user's,
// else the per-user place. Nothing is created.
QString GetTempFolderPath();

// Makes the folder in use (when missing) and checks it. Answers its path, or
// an empty path with the reason in `reason`.
QString PrepareTempFolder(QString* reason);

// Creates the file `name` in the prepared `folder` for writing, new (never
// through an existing name or a link), readable by the user alone. `name`
// must already be one safe component: no '/', no NUL, not "." or "..", at
// most 255 bytes; anything else is refused. Answers the descriptor, or -1
// with the reason and, in `error`, the system's error number (EINVAL for a
// name refused here; 0 when the folder failed its checks).
int CreatePreviewFile(const QString& folder, const QString& name, QString* reason, int* error = nullptr);

// Renames the file `from` to `to` inside the prepared `folder`, never over an
// existing name. False when it could not.
bool RenamePreviewFile(const QString& folder, const QString& from, const QString& to);

// Whether `path` is a regular file inside `folder` (at any depth) once ".."
// and symbolic links are resolved in both: the only files the preview's
// browser may load. A link in the folder to a file elsewhere, a path that
// climbs out, a folder, a pipe, a socket or a device are not; nothing is
// when `folder` cannot be resolved. Looks without opening anything (opening
// a pipe waits for a writer).
bool IsFileInsideFolder(const QString& folder, const QString& path);

// Deletes the temporary folder with everything in it, in both places, if it
// exists and is the user's. Failures are ignored: whatever cannot be deleted
// stays, and so do the folders above it. When the folder's path is a symbolic
// link, only the link goes; another user's folder is never touched.
void CleanTempFolder();

// Deletes everything inside `folder` (not `folder` itself): files, symbolic
// links and sub-folders, depth first. A symbolic link is removed as a link and
// never followed, so nothing outside `folder` is ever touched. Does nothing
// when `folder` is itself a symbolic link or not a folder.
void DeleteFolderContents(const QString& folder);

}  // namespace ostrel::preview
