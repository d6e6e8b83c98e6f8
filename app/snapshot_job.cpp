#include "app/snapshot_job.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "app/main_frame.h"
#include "app/panes.h"

namespace ostrel::app {
namespace {

constexpr int kPollMilliseconds = 33;  // about thirty progress updates a second at most

}  // namespace

SnapshotJob::SnapshotJob(CMainFrame& frame) : frame_(frame), worker_([&app = frame.App()] { app.SetProcessRunning(false, /*announce=*/false); }) {
  pollTimer_ = new QTimer(this);
  pollTimer_->setInterval(kPollMilliseconds);
  connect(pollTimer_, &QTimer::timeout, this, &SnapshotJob::ShowNewestProgress);
}

SnapshotJob::~SnapshotJob() { worker_.Abandon(); }

// The elements go before the maker's link, like the scan's.
void SnapshotJob::Begin(const QString& what) {
  what_ = what;
  latest_.Reset();
  CMyRibbonStatusBar* bar = frame_.StatusBar();
  if (progressBar_ == nullptr) {
    progressPane_ = new QLabel(bar);
    progressPane_->setObjectName(QStringLiteral("SnapshotProgressPane"));
    progressBar_ = new QProgressBar(bar);
    progressBar_->setObjectName(QStringLiteral("SnapshotProgressBar"));
    progressBar_->setTextVisible(false);
    progressBar_->setFixedWidth(200);
    bar->AddProgressElement(progressPane_);
    bar->AddProgressElement(progressBar_);
  }
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressPane_->setText(what_);
  pollTimer_->start();
}

void SnapshotJob::End() {
  ShowNewestProgress();
  pollTimer_->stop();
  CMyRibbonStatusBar* bar = frame_.StatusBar();
  for (QWidget* element : {static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(progressBar_)}) {
    if (element == nullptr) continue;
    bar->RemoveProgressElement(element);
    delete element;
  }
  progressBar_ = nullptr;
  progressPane_ = nullptr;
}

void SnapshotJob::ShowNewestProgress() {
  const auto report = latest_.Take();
  if (!report || progressBar_ == nullptr || report->second == 0) return;
  const auto percent = static_cast<int>(report->first * 100 / report->second);
  progressBar_->setValue(percent);
  progressPane_->setText(QStringLiteral("%1: %2%").arg(what_).arg(percent));
}

}  // namespace ostrel::app
