// The snapshot job: Load and Save write or read a recovery snapshot of any
// size on the job's worker thread, while the window shows how far they have
// come and stays responsive. The commands mark the process running before and
// ended after, so every other command refuses meanwhile as during a scan, and
// Stop ends the writing or reading at its next record.
#pragma once

#include <QObject>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "app/job.h"
#include "catalogue/snapshot.h"

namespace ostrel::app {

class SnapshotJob : public Job {
  Q_OBJECT

 public:
  explicit SnapshotJob(CKorvaneBKFFileRepProjApp& app, QObject* parent = nullptr) : Job(app, parent) {}
  // The work uses this job's members: it is stopped and waited for first.
  ~SnapshotJob() override { Abandon(); }

  // Runs `work` on the worker thread; DeliverResult, called by the window
  // at `finished`, then hands its result to `done`. A work that throws fails
  // with the exception's text as its `error`.
  template <typename Result>
  void Run(std::function<Result(const SnapshotProgress&)> work, std::function<void(Result&)> done);
  void DeliverResult() {
    auto deliver = std::move(deliver_);
    deliver_ = nullptr;
    if (deliver) deliver();
  }
  // The newest (done, total) not taken yet (after `progressed`).
  std::optional<std::pair<std::uint64_t, std::uint64_t>> TakeProgress() { return latest_.Take(); }

 private:
  NewestReport<std::pair<std::uint64_t, std::uint64_t>> latest_;
  std::function<void()> deliver_;
};

template <typename Result>
void SnapshotJob::Run(std::function<Result(const SnapshotProgress&)> work, std::function<void(Result&)> done) {
  latest_.Reset();
  auto result = std::make_shared<Result>();
  deliver_ = [result, done = std::move(done)] { done(*result); };
  Launch([this, result, work = std::move(work)] {
    const SnapshotProgress progress = [this](std::uint64_t doneCount, std::uint64_t total) {
      latest_.Store({doneCount, total});
      NoteProgress();
    };
    try {
      *result = work(progress);
    } catch (const std::exception& e) {
      *result = Result{};
      result->error = e.what();
    } catch (...) {
      *result = Result{};
      result->error = "unknown error";
    }
    return result->error.empty() ? JobOutcome::Done : JobOutcome::Failed;
  });
}

}  // namespace ostrel::app
