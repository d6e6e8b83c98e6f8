// The scan job: from a chosen BKF file to a filled recovery session. It runs
// the scanner of the chosen mode on its worker thread and hands the session
// over at the end; the main window shows its progress, fills the tree and
// writes the log.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "app/job.h"
#include "reader/recovery_session.h"
#include "reader/scanner.h"

namespace ostrel::app {

class ScanJob : public Job {
  Q_OBJECT

 public:
  // Makes the scanner of a recovery mode, filling a session.
  using ScannerFactory = std::function<std::unique_ptr<ostrel::Scanner>(
      ostrel::RecoveryMode mode, ostrel::RecoverySession& session, const ostrel::StopToken& stop)>;

  // What a scan made; taken once after `finished`.
  struct Result {
    // The session scanned into, also when the file could not be opened;
    // null when the work failed before it had one.
    std::unique_ptr<ostrel::RecoverySession> session;
    bool opened = false;
    QString openError;        // why the file could not be opened
    QStringList damageLines;  // what the reads could not deliver, and the scan's note
  };

  explicit ScanJob(CKorvaneBKFFileRepProjApp& app, QObject* parent = nullptr);
  // The work uses this job's members: it is stopped and waited for first.
  ~ScanJob() override { Abandon(); }

  // Tests replace the scanners; the default makes the standard or the
  // advanced scanner.
  void SetScannerFactory(ScannerFactory factory) { factory_ = std::move(factory); }

  // Scans the application state's bkfPath with its recoveryMode,
  // heuristicScan and range; the process must already be marked running.
  void Start();
  // The newest progress report not taken yet (after `progressed`).
  std::optional<ostrel::ProgressReport> TakeProgress() { return latest_.Take(); }
  Result TakeResult() { return std::move(result_); }

 signals:
  // The scanner's window loop has ended (the worker waits for the handlers).
  void windowLoopDone(int percent);
  // A range warning for the user (the worker waits for the handlers).
  void rangeMessage(const QString& text);

 private:
  class Listener;
  JobOutcome Work();

  ScannerFactory factory_;
  NewestReport<ostrel::ProgressReport> latest_;
  Result result_;
};

}  // namespace ostrel::app
