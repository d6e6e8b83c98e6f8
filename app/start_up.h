// What happens around the main window's start: the single-instance rule and
// the Help command's file.
//
// One instance runs per machine: a lock file in the system's temporary
// folder, named after the program's single-instance mutex, is held for the
// life of the process. A lock left by a run that crashed names a process that
// no longer runs and does not count.
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

class QWidget;

namespace ostrel::app {

class Prompts;

inline const QString kInstanceLockName =
    QStringLiteral("KORVANEOSTRELBKFREP05CA3573-B449-4e0b-83F5-7FD612E378E9KORVANEBKFREP.lock");
inline const QString kHelpFileName = QStringLiteral("Korvane Ostrel BKF Repair.html");

class InstanceLock {
 public:
  // The lock file `kInstanceLockName` in `folder` (the system's temporary
  // folder by default).
  explicit InstanceLock(const QString& folder = QString());

  // True when this process now holds the lock: no other instance runs.
  bool Acquire();
  QString Path() const { return path_; }

 private:
  QString path_;
  std::unique_ptr<QLockFile> lock_;
};

// When another instance holds `lock`, says so (no owner window) and answers
// true: the program then ends with a failure code.
bool RefuseSecondInstance(InstanceLock& lock, Prompts& prompts);

// Where the help file is looked for: next to the program, and, for an
// installed program, in the shared data folder beside its own (…/bin and
// …/share/ostrel-bkf-repair).
QStringList HelpFileCandidates(const QString& programFolder);

// The Help command: opens the first help file that exists with the desktop,
// or says that it is missing.
void ShowHelp(Prompts& prompts, QWidget* owner, const QString& programFolder);

}  // namespace ostrel::app
