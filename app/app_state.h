// CKorvaneBKFFileRepProjApp: what the whole user interface and the worker
// threads share. Above all the process-running flag: every long operation sets
// it for its whole run, every command and message handler checks it and
// refuses while it is set, and clearing it is how Stop ends a scan, a copy
// loop or a search early.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>

#include "app/messages.h"
#include "app/prompts.h"

namespace ostrel::app {

class CKorvaneBKFFileRepProjApp : public QObject {
  Q_OBJECT

 public:
  explicit CKorvaneBKFFileRepProjApp(Prompts& prompts, QObject* parent = nullptr);

  // 1 while a long operation runs. The core's loops read it by reference; no
  // lock guards it, single loads and stores are enough.
  std::atomic<int> processRunning{0};
  int rangeKind = 0;      // 1 partial range, 2 whole file
  int recoveryMode = 0;   // 1 standard, 2 advanced
  int heuristicScan = 0;  // 1 when heuristic scanning was chosen
  QString bkfPath;        // the BKF file being recovered
  QString bkfSizeText;    // its size in bytes as decimal text; empty when unknown
  QString bkfSizeError;   // why the size is unknown (the system's words), else empty
  QString rangeMinText;   // partial range: start and end as decimal text
  QString rangeMaxText;

  // The size as decimal text, or, when it could not be read, "unknown" with
  // the reason ("unknown (Permission denied)").
  QString DescribedBkfSize() const {
    if (!bkfSizeText.isEmpty() || bkfSizeError.isEmpty()) return bkfSizeText;
    return QStringLiteral("unknown (%1)").arg(bkfSizeError);
  }

  bool IsProcessRunning() const { return processRunning.load() != 0; }
  // Stores the flag from any thread and tells the user interface, so that the
  // Stop command follows it at once.
  void SetProcessRunning(int value);

  Prompts& prompts() const { return prompts_; }
  ShellMessages& messages() { return messages_; }

 signals:
  // Emitted by SetProcessRunning; queued when it was called off the
  // user-interface thread.
  void processRunningChanged(int value);

 private:
  Prompts& prompts_;
  ShellMessages messages_;
};

}  // namespace ostrel::app
