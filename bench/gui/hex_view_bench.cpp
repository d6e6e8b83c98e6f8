// Painting speed of the hex dump view, offscreen: a 1 MiB file shown in a
// pane of WIDTH × HEIGHT pixels (default 1280 × 360), scrolled from the top
// to the end one page per frame, then LINES frames (default 2,000) one row at
// a time, each frame painted synchronously and timed. The goal is under
// 16 ms per frame.
//
//   hex_view_bench [WIDTH HEIGHT [LINES]]
// Prints, per way of scrolling: frames, mean, median, 99th percentile and
// slowest frame in milliseconds.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "preview/dump_ctrl.h"
#include "preview/hex_dump_view.h"
#include "preview/static_file_viewer.h"

using namespace ostrel::preview;

namespace {

struct Frames {
  std::vector<double> ms;
  void Report(const char* name, int perRow) {
    if (ms.empty()) return;
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double m : sorted) sum += m;
    const auto at = [&](double share) { return sorted[std::min(sorted.size() - 1, std::size_t(share * sorted.size()))]; };
    std::printf("%-6s frames %6zu  bytes/row %3d  mean %6.3f ms  median %6.3f ms  p99 %6.3f ms  max %6.3f ms  %s\n",
                name, sorted.size(), perRow, sum / double(sorted.size()), at(0.5), at(0.99), sorted.back(),
                sorted.back() < 16.0 ? "(under 16 ms)" : "(OVER 16 ms)");
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int width = argc > 2 ? std::atoi(argv[1]) : 1280;
  const int height = argc > 2 ? std::atoi(argv[2]) : 360;
  const int lines = argc > 3 ? std::atoi(argv[3]) : 2000;

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("random.bin"));
  {
    QByteArray bytes(kMaxDumpBytes, Qt::Uninitialized);
    std::mt19937 random(42);
    for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
      std::fprintf(stderr, "hex_view_bench: cannot write %s\n", qPrintable(path));
      return 2;
    }
  }

  CKorvaneStaticFileViewer pane;
  pane.resize(width, height);
  pane.show();
  QElapsedTimer open;
  open.start();
  ShowHexDump(pane, path);
  auto* view = pane.CurrentViewAs<CKorvaneDumpCtrl>();
  if (view == nullptr) {
    std::fprintf(stderr, "hex_view_bench: the view did not open\n");
    return 2;
  }
  view->setFocus();
  QApplication::processEvents();
  std::printf("opened %d bytes in %lld ms; pane %d x %d\n", view->Count(), static_cast<long long>(open.elapsed()),
              width, height);

  QScrollBar* bar = view->ScrollBar();
  const auto frame = [&](Frames& frames, QAbstractSlider::SliderAction action) {
    bar->triggerAction(action);
    QElapsedTimer timer;
    timer.start();
    view->repaint();
    frames.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
  };
  view->repaint();  // the first paint sets up glyph caches

  Frames pages;
  while (bar->value() < bar->maximum()) frame(pages, QAbstractSlider::SliderPageStepAdd);
  const bool atEnd = view->TopUnit() + view->Layout().UnitsVisible() >= view->Count();
  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  Frames rows;
  for (int i = 0; i < lines && bar->value() < bar->maximum(); ++i) frame(rows, QAbstractSlider::SliderSingleStepAdd);

  const int perRow = view->Layout().BytesPerRow();
  pages.Report("page", perRow);
  rows.Report("line", perRow);
  if (!atEnd) {
    std::fprintf(stderr, "hex_view_bench: paging did not reach the end\n");
    return 1;
  }
  return 0;
}
