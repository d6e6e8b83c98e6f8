// What the main window's long operations (the scan, the snapshot load and
// save) share: one worker thread that runs the work and reaches the
// user-interface thread only through blocking calls, and the newest progress
// report, which the worker stores as often as it likes and the
// user-interface thread picks up on a timer, so that no amount of progress
// floods the event loop.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "app/ui_thread.h"

namespace ostrel::app {

// Lives on the user-interface thread; one work at a time.
class WorkerThread : public QObject {
 public:
  // `requestStop` ends the work early (it runs on the user-interface thread).
  explicit WorkerThread(std::function<void()> requestStop) : requestStop_(std::move(requestStop)) {}
  ~WorkerThread() override { Abandon(); }

  // Runs `work` on a new thread, once the previous one has ended.
  void Start(std::function<void()> work) {
    if (thread_.joinable()) thread_.join();
    working_.store(true);
    thread_ = std::thread([this, work = std::move(work)] {
      work();
      working_.store(false);
    });
  }
  // True from Start until the work has returned, also after Stop.
  bool IsWorking() const { return working_.load(); }

  // From the worker: runs `call` on the user-interface thread and waits;
  // nothing happens once the owner is going away.
  template <typename Call>
  void OnUi(Call&& call) {
    if (abandoned_.load()) return;
    SendTo(this, [this, &call] {
      if (!abandoned_.load()) call();
    });
  }

  // Stops a work that still runs and waits for it; what it would still have
  // shown is dropped. Its owner calls this before its own members go.
  void Abandon() {
    abandoned_.store(true);
    if (working_.load()) requestStop_();
    // The worker may be waiting for one of its calls; those calls now do
    // nothing, and the work ends at its next look at the stop token.
    while (working_.load()) {
      QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::function<void()> requestStop_;
  std::thread thread_;
  std::atomic<bool> working_{false};
  std::atomic<bool> abandoned_{false};
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
