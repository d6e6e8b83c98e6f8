// CKorvaneBKFFileRepProjApp: what the whole user interface and the worker
// threads share. Above all whether a long operation runs: every long
// operation marks it for its whole run, every command and message handler
// checks it and refuses meanwhile, and Stop ends it, which also asks the
// core's loops (a scan, a copy, a search) through the stop token to end early.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>

#include "base/stop_token.h"
#include "reader/recovery_session.h"

#include "app/messages.h"
#include "app/prompts.h"

namespace ostrel::app {

class CKorvaneBKFFileRepProjApp : public QObject {
  Q_OBJECT

 public:
  explicit CKorvaneBKFFileRepProjApp(Prompts& prompts, QObject* parent = nullptr);

  // The range chosen in Recovery Selection; None before the first choice.
  enum class RangeKind { None = 0, Partial = 1, WholeFile = 2 };

  RangeKind rangeKind = RangeKind::None;
  RecoveryMode recoveryMode = RecoveryMode::Standard;
  bool heuristicScan = false;
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

  bool IsProcessRunning() const { return running_.load(); }
  // From any thread. True marks a long operation as running and clears the
  // stop token for it; false marks it ended and asks its loops to stop (which
  // is how Stop works). The user interface is told, so that the Stop command
  // follows at once, unless `announce` is false.
  void SetProcessRunning(bool running, bool announce = true);
  // What the core's loops of the running operation read.
  const StopToken& StopRequest() const { return stop_; }

  Prompts& prompts() const { return prompts_; }
  ShellMessages& messages() { return messages_; }

 signals:
  // Emitted by SetProcessRunning; queued when it was called off the
  // user-interface thread.
  void processRunningChanged(bool running);

 private:
  Prompts& prompts_;
  ShellMessages messages_;
  StopToken stop_;
  // Single loads and stores are enough: nothing else is published with it.
  std::atomic<bool> running_{false};
};

}  // namespace ostrel::app
