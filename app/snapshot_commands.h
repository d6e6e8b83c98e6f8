// The "BKF File Snapshots" commands (CMainFrame's OnSaveSnapshot,
// OnLoadSnapshot and LoadSnapshotPath, in snapshot_commands.cpp): Save writes
// the session's catalogue and the path of its BKF file to a recovery
// snapshot; Load makes a new session from a stored catalogue and opens the
// BKF file it names, without scanning again. Both mark the process running
// for their whole run and do their writing or reading on the snapshot job.
#pragma once

#include <QString>
#include <QStringList>

namespace ostrel::app {

inline const QString kLoadRefusal = QStringLiteral("Please stop the running process to load recovery snapshot.");
inline const QString kSaveRefusal = QStringLiteral("Please stop the running process to save recovery snapshot.");
inline const QString kLoadAborted = QStringLiteral("Snapshot loading process aborted.");

// The file dialogs' filter for snapshots.
inline QStringList SnapshotFilters() { return {QStringLiteral(".KorvaneBKF Files (*.KVSNAPSHOT)")}; }

}  // namespace ostrel::app
