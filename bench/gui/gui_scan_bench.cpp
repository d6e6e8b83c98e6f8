// The scan job's speed, offscreen: Open on a BKF file through the desktop
// program's own path (Recovery Selection answered with OK, every message box
// with OK), timed from the command to the worker's end, while a 2 ms timer
// on the user-interface thread measures the longest gap between two of its
// turns (the longest event-loop stall).
//
//   gui_scan_bench FILE [standard|advanced]
// Prints: seconds, files found, longest stall in ms, progress updates shown,
// milliseconds the Open command itself took on the user-interface thread.
#include <QPushButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/prompts.h"
#include "app/range_slider_dlg.h"
#include "app/scan_job.h"
#include "app/scan_status.h"
#include "bench/gui/bench_prompts.h"
#include "reader/scanner.h"

namespace {

class ScanBenchPrompts final : public ostrel::bench::BenchPrompts {
 public:
  explicit ScanBenchPrompts(bool advanced) : advanced_(advanced) {}
  int RunDialog(QDialog& dialog) override {
    auto& selection = static_cast<ostrel::app::CKorvaneRangeSliderDlg&>(dialog);
    if (advanced_) selection.AdvancedMode()->click();
    selection.OkButton()->click();
    return dialog.result();
  }

 private:
  bool advanced_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: gui_scan_bench FILE [standard|advanced]\n");
    return 2;
  }
  const bool advanced = argc > 2 && QString::fromLocal8Bit(argv[2]) == QStringLiteral("advanced");
  ScanBenchPrompts prompts(advanced);
  ostrel::app::CKorvaneBKFFileRepProjApp state(prompts);
  ostrel::app::CMainFrame frame(state);
  frame.resize(1280, 800);
  frame.show();

  QElapsedTimer clock;
  QElapsedTimer sinceTick;
  qint64 longestStall = 0;
  bool scanning = false;
  qint64 openMs = 0;  // the Open command's own time on the user-interface thread
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(2);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (scanning) longestStall = std::max(longestStall, sinceTick.elapsed());
    sinceTick.restart();
    if (scanning && !frame.Job().IsWorking()) {
      scanning = false;
      QCoreApplication::exit(0);  // no closing question
    }
  });

  QTimer::singleShot(200, &frame, [&] {
    clock.start();
    sinceTick.start();
    scanning = true;
    frame.OpenBkfPath(QString::fromLocal8Bit(argv[1]));
    openMs = clock.elapsed();
  });
  tick.start();
  application.exec();
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  const auto files = frame.HasCatalogue() ? frame.Session()->catalogue.FileCount() : 0;
  std::printf("%.3f %llu %lld %d %lld\n", seconds, static_cast<unsigned long long>(files),
              static_cast<long long>(longestStall), frame.ScanStatus().ReportsShown(), static_cast<long long>(openMs));
  return 0;
}
