// The Open command: choosing a BKF file and the scan's options, then the scan
// job, whose progress, end and catalogue the main window shows. The command's
// handlers are CMainFrame's (OnOpenBkf, OpenBkfPath, OnStopProcess and the
// scan job's signal handlers, in open_command.cpp); these are the pieces they
// share with the rest of the window.
#pragma once

#include <QString>
#include <cstdint>

namespace ostrel::app {

class CMainFrame;

// A range text as an unsigned decimal number: leading white space skipped,
// reading stops at the first character that is not a digit, no digits give
// 0, and a value past 2^64 - 1 stays at 2^64 - 1.
std::uint64_t ParseRangeText(const QString& text);

// The size of the file at `path` as decimal text; empty (and `size` left
// alone) when the file cannot be opened, with the system's reason in `error`
// when given.
QString ReadFileSize(const QString& path, std::uint64_t& size, QString* error = nullptr);

// Whether a chosen path may be scanned: it contains ".bkf" in any letter case
// and names an existing file.
bool IsBkfPath(const QString& path);

// Shows `refusal` and answers true while a process runs, and also after Stop
// while the scan job still finishes its last window and the window fills the
// tree, or the snapshot job its last record; answers false otherwise.
bool RefuseWhileScanning(CMainFrame& frame, const QString& refusal);

}  // namespace ostrel::app
