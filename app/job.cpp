#include "app/job.h"

#include <QCoreApplication>
#include <QEvent>
#include <chrono>

namespace ostrel::app {
namespace {

constexpr int kProgressMilliseconds = 33;  // about thirty progress updates a second at most

}  // namespace

Job::Job(CKorvaneBKFFileRepProjApp& app, QObject* parent) : QObject(parent), app_(app) {
  progressTimer_ = new QTimer(this);
  progressTimer_->setInterval(kProgressMilliseconds);
  connect(progressTimer_, &QTimer::timeout, this, &Job::EmitProgress);
}

Job::~Job() { Abandon(); }

void Job::EmitProgress() {
  if (progressWaiting_.exchange(false)) emit progressed();
}

void Job::Launch(std::function<JobOutcome()> work) {
  if (thread_.joinable()) thread_.join();
  working_.store(true);
  abandoned_.store(false);
  progressWaiting_.store(false);
  progressTimer_->start();
  thread_ = std::thread([this, work = std::move(work)] {
    JobOutcome outcome = JobOutcome::Failed;
    try {
      outcome = work();
    } catch (...) {
      outcome = JobOutcome::Failed;
    }
    // The last progress before the end, then the end; the worker waits for
    // both, so the job counts as working until the window has done its part.
    OnUi([this, outcome] {
      progressTimer_->stop();
      EmitProgress();
      emit finished(outcome);
    });
    working_.store(false);
  });
}

void Job::Abandon() {
  abandoned_.store(true);
  if (working_.load()) app_.SetProcessRunning(false, /*announce=*/false);
  // The worker may be waiting for one of its calls; those calls now do
  // nothing, and the work ends at its next look at the stop token.
  while (working_.load()) {
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (thread_.joinable()) thread_.join();
  progressTimer_->stop();
}

}  // namespace ostrel::app
