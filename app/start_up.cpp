#include "app/start_up.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "app/prompts.h"

namespace ostrel::app {

InstanceLock::InstanceLock(const QString& folder)
    : path_(QDir(folder.isEmpty() ? QDir::tempPath() : folder).filePath(kInstanceLockName)) {}

bool InstanceLock::Acquire() {
  lock_ = std::make_unique<QLockFile>(path_);
  // Only a lock whose process still runs counts, however old it is.
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0)) return true;
  lock_.reset();
  return false;
}

bool RefuseSecondInstance(InstanceLock& lock, Prompts& prompts) {
  if (lock.Acquire()) return false;
  Tell(prompts, nullptr, QStringLiteral("Another instance of application is already running"));
  return true;
}

QStringList HelpFileCandidates(const QString& programFolder) {
  const QDir folder(programFolder);
  return {folder.filePath(kHelpFileName),
          QDir::cleanPath(folder.filePath(QStringLiteral("../share/ostrel-bkf-repair/")) + QLatin1Char('/') +
                          kHelpFileName)};
}

void ShowHelp(Prompts& prompts, QWidget* owner, const QString& programFolder) {
  for (const QString& path : HelpFileCandidates(programFolder)) {
    if (QFileInfo(path).isFile()) {
      prompts.OpenUrl(QUrl::fromLocalFile(path));
      return;
    }
  }
  Tell(prompts, owner, QStringLiteral("Korvane Ostrel BKF Repair help file not found, please re-install the software. "));
}

}  // namespace ostrel::app
