// The snapshot commands' worker: Load and Save write or read a recovery
// snapshot of any size on a worker thread, while the status bar shows how far
// they have come and the window stays responsive. The commands set the
// process-running flag before and clear it after, so every other command
// refuses meanwhile as during a scan, and Stop (which clears the flag) ends
// the writing or reading at its next record.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <utility>

#include "app/worker.h"
#include "catalogue/snapshot.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace ostrel::app {

class CMainFrame;

class SnapshotJob : public QObject {
  Q_OBJECT

 public:
  explicit SnapshotJob(CMainFrame& frame);
  // Stops a worker that still runs and waits for it; its result is dropped.
  ~SnapshotJob() override;

  // Shows the status-bar elements labelled `what`, runs `work` on the worker
  // thread and then `done` with its result on the user-interface thread
  // (with the elements gone). A work that throws fails with the exception's
  // text as its `error`.
  template <typename Result>
  void Run(const QString& what, std::function<Result(const SnapshotProgress&)> work,
           std::function<void(Result&)> done);

  // True from Run until `done` has returned, also after Stop.
  bool IsWorking() const { return worker_.IsWorking(); }
  // The status-bar elements; null while no snapshot work runs.
  QProgressBar* ProgressBar() const { return progressBar_; }
  QLabel* ProgressPane() const { return progressPane_; }

 private:
  void Begin(const QString& what);
  void End();
  void ShowNewestProgress();

  CMainFrame& frame_;
  WorkerThread worker_;
  NewestReport<std::pair<std::uint64_t, std::uint64_t>> latest_;  // done, total
  QTimer* pollTimer_ = nullptr;
  QString what_;
  QProgressBar* progressBar_ = nullptr;
  QLabel* progressPane_ = nullptr;
};

template <typename Result>
void SnapshotJob::Run(const QString& what, std::function<Result(const SnapshotProgress&)> work,
                      std::function<void(Result&)> done) {
  Begin(what);
  worker_.Start([this, work = std::move(work), done = std::move(done)] {
    const SnapshotProgress progress = [this](std::uint64_t doneCount, std::uint64_t total) {
      latest_.Store({doneCount, total});
    };
    Result result;
    try {
      result = work(progress);
    } catch (const std::exception& e) {
      result = Result{};
      result.error = e.what();
    } catch (...) {
      result = Result{};
      result.error = "unknown error";
    }
    worker_.OnUi([&] {
      End();
      done(result);
    });
  });
}

}  // namespace ostrel::app
