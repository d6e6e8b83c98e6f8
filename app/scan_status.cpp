#include "app/scan_status.h"

#include <QLabel>
#include <QProgressBar>
#include <QString>

#include "app/panes.h"

namespace ostrel::app {
namespace {

constexpr int kProgressBarWidth = 550;
constexpr int kProgressBarMinWidth = 50;

}  // namespace

void ScanStatusBar::Show() {
  reportsShown_ = 0;
  if (progressBar_ == nullptr) {
    const QString label = QStringLiteral("Korvane Ostrel BKF Repair");
    progressBar_ = new QProgressBar(bar_);
    progressBar_->setObjectName(QStringLiteral("ScanProgressBar"));
    // 550 x 26 where the window is wide enough; on a narrower window the bar
    // gives way, so that the texts beside it and the maker's link stay whole.
    progressBar_->setFixedHeight(26);
    progressBar_->setMinimumWidth(kProgressBarMinWidth);
    progressBar_->setMaximumWidth(kProgressBarWidth);
    progressBar_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    progressBar_->setTextVisible(false);
    // The first texts only reserve the panes' widths.
    percentPane_ = new QLabel(QStringLiteral(".............  "), bar_);
    percentPane_->setObjectName(QStringLiteral("ScanPercentPane"));
    progressPane_ = new QLabel(QStringLiteral("..") + QString(61, QLatin1Char(' ')) + QStringLiteral("."), bar_);
    progressPane_->setObjectName(QStringLiteral("ScanProgressPane"));
    filesPane_ = new QLabel(QStringLiteral("..") + QString(30, QLatin1Char(' ')) + QStringLiteral("."), bar_);
    filesPane_->setObjectName(QStringLiteral("ScanFilesPane"));
    for (QWidget* element : {static_cast<QWidget*>(progressBar_), static_cast<QWidget*>(percentPane_),
                             static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(filesPane_)}) {
      element->setAccessibleName(label);
      if (auto* pane = qobject_cast<QLabel*>(element)) pane->setMinimumWidth(pane->sizeHint().width());
      bar_->AddProgressElement(element, element == progressBar_ ? 1 : 0);
    }
    bar_->updateGeometry();
    window_->update();
  }
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
}

void ScanStatusBar::Hide() {
  for (QWidget* element : {static_cast<QWidget*>(progressBar_), static_cast<QWidget*>(percentPane_),
                           static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(filesPane_)}) {
    if (element == nullptr) continue;
    bar_->RemoveProgressElement(element);
    delete element;
  }
  progressBar_ = nullptr;
  percentPane_ = progressPane_ = filesPane_ = nullptr;
  bar_->updateGeometry();
  window_->update();
}

void ScanStatusBar::ShowProgress(const ostrel::ProgressReport& report) {
  if (progressBar_ == nullptr) return;
  ++reportsShown_;
  progressPane_->setText(QStringLiteral("Progress: %1/%2").arg(report.position).arg(report.fileLength));
  progressBar_->setValue(static_cast<int>(report.percent));
  percentPane_->setText(QString::asprintf("%.2f%%", static_cast<double>(report.percent)));
  filesPane_->setText(QStringLiteral("File Found: %1").arg(report.filesFound));
  for (QWidget* pane : {static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(progressBar_),
                        static_cast<QWidget*>(percentPane_), static_cast<QWidget*>(filesPane_)}) {
    pane->repaint();
  }
}

void ScanStatusBar::ShowDone(int percent) {
  if (progressBar_ != nullptr) progressBar_->setValue(percent);
}

}  // namespace ostrel::app

namespace ostrel::app {

void SnapshotStatusBar::Show(const QString& what) {
  what_ = what;
  if (progressBar_ == nullptr) {
    progressPane_ = new QLabel(bar_);
    progressPane_->setObjectName(QStringLiteral("SnapshotProgressPane"));
    progressBar_ = new QProgressBar(bar_);
    progressBar_->setObjectName(QStringLiteral("SnapshotProgressBar"));
    progressBar_->setTextVisible(false);
    progressBar_->setFixedWidth(200);
    bar_->AddProgressElement(progressPane_);
    bar_->AddProgressElement(progressBar_);
  }
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressPane_->setText(what_);
}

void SnapshotStatusBar::Hide() {
  for (QWidget* element : {static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(progressBar_)}) {
    if (element == nullptr) continue;
    bar_->RemoveProgressElement(element);
    delete element;
  }
  progressBar_ = nullptr;
  progressPane_ = nullptr;
}

void SnapshotStatusBar::ShowProgress(std::uint64_t done, std::uint64_t total) {
  if (progressBar_ == nullptr || total == 0) return;
  const auto percent = static_cast<int>(done * 100 / total);
  progressBar_->setValue(percent);
  progressPane_->setText(QStringLiteral("%1: %2%").arg(what_).arg(percent));
}

}  // namespace ostrel::app
