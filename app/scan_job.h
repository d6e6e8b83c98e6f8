// The scan job: from a chosen BKF file to a filled catalogue. The Open
// command resets the panes and the log and starts one worker thread, which
// runs the scanner of the chosen mode while the status bar shows its
// progress; at the end the worker hands the scanner (the catalogue) to the
// main window, fills the top level of the tree and reports the outcome.
//
// Progress is coalesced: the scanner may report once per 1 KiB window, the
// scanning thread only stores the newest report, and the user-interface
// thread picks it up at most about thirty times a second, plus once more at
// the end, so a scan of any size never floods the event loop.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/worker.h"
#include "reader/scanner.h"

class QLabel;
class QProgressBar;
class QTimer;

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
// while the scan worker still finishes its last window and fills the tree, or
// the snapshot worker its last record; answers false otherwise.
bool RefuseWhileScanning(CMainFrame& frame, const QString& refusal);

class ScanJob : public QObject {
  Q_OBJECT

 public:
  // Makes the scanner of a recovery mode, filling a session.
  using ScannerFactory = std::function<std::unique_ptr<ostrel::Scanner>(
      ostrel::RecoveryMode mode, ostrel::RecoverySession& session, const ostrel::StopToken& stop)>;

  explicit ScanJob(CMainFrame& frame);
  // Stops a worker that still runs and waits for it; what it would still
  // have shown is dropped.
  ~ScanJob() override;

  // Tests replace the scanners; the default makes the standard or the
  // advanced scanner.
  void SetScannerFactory(ScannerFactory factory) { factory_ = std::move(factory); }

  // Sets the flag, adds the status-bar elements and starts the worker on the
  // application state's bkfPath, recoveryMode, heuristicScan and range.
  void Start();
  // True from Start until the worker thread has done its last step, also
  // after Stop has cleared the flag.
  bool IsWorking() const { return worker_.IsWorking(); }

  // The status-bar elements; null while no scan runs.
  QProgressBar* ProgressBar() const { return progressBar_; }
  QLabel* PercentPane() const { return percentPane_; }
  QLabel* ProgressPane() const { return progressPane_; }
  QLabel* FilesPane() const { return filesPane_; }
  // Progress reports shown since the last Start.
  int ReportsShown() const { return reportsShown_; }

  std::uint64_t fileSize = 0;  // of the file being opened, as ReadFileSize found it

 private:
  class Listener;

  // Handlers of the worker's messages (user-interface thread).
  void ShowProgress(const ostrel::ProgressReport& report);
  void ShowDone(int percent);
  void ShowStatusBar(int add);
  // Shows the newest stored report if it has not been shown.
  void ShowNewestReport();

  void Work();
  void WorkSteps();
  // Runs `call` on the user-interface thread and waits; nothing happens
  // once the job is being destroyed.
  template <typename Call>
  void OnUi(Call&& call);

  CMainFrame& frame_;
  ScannerFactory factory_;
  WorkerThread worker_;
  // The newest report of the scanning thread.
  NewestReport<ostrel::ProgressReport> latest_;
  QTimer* pollTimer_ = nullptr;
  int reportsShown_ = 0;

  QProgressBar* progressBar_ = nullptr;
  QLabel* percentPane_ = nullptr;
  QLabel* progressPane_ = nullptr;
  QLabel* filesPane_ = nullptr;
};

}  // namespace ostrel::app
