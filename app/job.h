// The one way the desktop program runs long work: a job owns a worker
// thread, the stop request of the process it runs (the application state's
// stop token), coalesced progress and a finished signal with its outcome.
// A job only does its work; the window or dialog that started it connects to
// its signals and does all the window work itself.
//
// Progress is coalesced: the worker notes new progress as often as it likes,
// and the user-interface thread is told (`progressed`) at most about thirty
// times a second, plus once more before `finished`, so no amount of progress
// floods the event loop.
//
// While a job runs it can reach the user-interface thread only through
// blocking calls (OnUi), which do nothing once its owner is going away.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "app/app_state.h"
#include "app/ui_thread.h"

namespace ostrel::app {

// How a job's work ended.
enum class JobOutcome {
  Done,     // it ran to its end
  Stopped,  // a stop request ended it early
  Failed,   // it could not do its work (the job says why)
};

class Job : public QObject {
  Q_OBJECT

 public:
  explicit Job(CKorvaneBKFFileRepProjApp& app, QObject* parent = nullptr);
  // Stops a work that still runs and waits for it; what it would still have
  // shown is dropped. A derived job whose members the work uses calls
  // Abandon in its own destructor, before those members go; so does an owner
  // whose members the work uses.
  ~Job() override;

  // True from Launch until the handlers of `finished` have returned, also
  // after Stop.
  bool IsWorking() const { return working_.load(); }
  // Stops a work that still runs and waits for it, dropping its signals.
  void Abandon();

 signals:
  // On the user-interface thread: newer progress is waiting.
  void progressed();
  // On the user-interface thread, once the work has returned; the job keeps
  // counting as working until every handler has returned.
  void finished(ostrel::app::JobOutcome outcome);

 protected:
  // Runs `work` on a new thread, once the previous one has ended. A work
  // that throws ends as Failed.
  void Launch(std::function<JobOutcome()> work);
  // From the worker: there is newer progress to show.
  void NoteProgress() { progressWaiting_.store(true, std::memory_order_relaxed); }
  // From the worker: runs `call` on the user-interface thread and waits.
  template <typename Call>
  void OnUi(Call&& call) {
    if (abandoned_.load()) return;
    SendTo(this, [this, &call] {
      if (!abandoned_.load()) call();
    });
  }
  const StopToken& Stop() const { return app_.StopRequest(); }
  CKorvaneBKFFileRepProjApp& App() const { return app_; }

 private:
  void EmitProgress();

  CKorvaneBKFFileRepProjApp& app_;
  QTimer* progressTimer_ = nullptr;
  std::thread thread_;
  std::atomic<bool> working_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> progressWaiting_{false};
};

// The newest of a worker's reports; any thread may store, one thread takes.
template <typename Report>
class NewestReport {
 public:
  void Store(const Report& report) {
    std::lock_guard lock(mutex_);
    latest_ = report;
    ++stored_;
  }
  // The newest report if it has not been taken yet.
  std::optional<Report> Take() {
    std::lock_guard lock(mutex_);
    if (stored_ == taken_) return std::nullopt;
    taken_ = stored_;
    return latest_;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    latest_ = {};
    stored_ = taken_ = 0;
  }

 private:
  std::mutex mutex_;
  Report latest_{};
  std::uint64_t stored_ = 0;
  std::uint64_t taken_ = 0;
};

}  // namespace ostrel::app

Q_DECLARE_METATYPE(ostrel::app::JobOutcome)
