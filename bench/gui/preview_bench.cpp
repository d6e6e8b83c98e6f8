// The preview's speed, offscreen: a backup with a 10 MiB text file, a large
// JPEG picture and 10 MiB of binary data is scanned, its volume listed, and
// each file's row previewed through the window's own request, three times.
// Timed from the request to the shown view, while a 2 ms timer on the
// user-interface thread measures the longest gap between two of its turns
// (the longest event-loop stall).
//
//   preview_bench WORKDIR
// Prints one line per file: name, size, best time in ms, longest stall in ms.
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/file_list_model.h"
#include "app/main_frame.h"
#include "app/messages.h"
#include "app/panes.h"
#include "bench/gui/bench_prompts.h"
#include "preview/static_file_viewer.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "widgets/check_tree.h"

namespace {

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;

constexpr std::size_t kTenMiB = 10485760;

std::vector<std::uint8_t> TextFile() {
  std::string text;
  text.reserve(kTenMiB);
  for (int line = 0; text.size() < kTenMiB; ++line) {
    text += "line " + std::to_string(line) + ": the scanner resynchronises on every block ID it finds\r\n";
  }
  text.resize(kTenMiB);
  return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Photo() {
  QImage image(5000, 3500, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] = qRgb((x * 7 + y) & 255, (y * 3) & 255, ((x ^ y) * 5) & 255);
  }
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 97);
  return {jpeg.begin(), jpeg.end()};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: preview_bench WORKDIR\n");
    return 2;
  }
  const std::string bkf = std::string(argv[1]) + "/preview-bench.bkf";
  const std::vector<std::uint8_t> photo = Photo();
  {
    MtfWriter w;
    w.Tape(u"Tape");
    w.Sset(1, u"Bench");
    w.Volb(u"C:");
    w.File(u"notes.txt", {Stan(TextFile())});
    w.File(u"photo.jpg", {Stan(photo)});
    w.File(u"data.bin", {Stan(kTenMiB, 3)});
    if (!w.WriteTo(bkf)) {
      std::fprintf(stderr, "preview_bench: cannot write %s\n", bkf.c_str());
      return 1;
    }
  }

  ostrel::bench::BenchPrompts prompts;
  ostrel::app::CKorvaneBKFFileRepProjApp state(prompts);
  ostrel::app::CMainFrame frame(state);
  frame.resize(1280, 800);
  frame.show();
  state.SetProcessRunning(true);
  auto session = ostrel::fixtures::ScanSession(bkf);
  if (!session) {
    std::fprintf(stderr, "preview_bench: the scan failed\n");
    return 1;
  }
  frame.SetSession(std::move(session));
  frame.ShowCatalogueTopLevel();
  state.SetProcessRunning(false);
  QTreeWidgetItem* item = frame.CheckTree()->topLevelItem(0);
  for (int depth = 0; depth < 3; ++depth) {
    emit state.messages().treeSelect(item, ostrel::widgets::kHitLabel);
    if (depth < 2) item = item->child(0);
  }

  QElapsedTimer sinceTick;
  qint64 longestStall = 0;
  bool previewing = false;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(2);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (previewing) longestStall = std::max(longestStall, sinceTick.elapsed());
    sinceTick.restart();
  });
  tick.start();

  const auto* rows = frame.List()->Rows();
  for (int row = 0; row < rows->rowCount(); ++row) {
    qint64 best = -1;
    qint64 worstStall = 0;
    for (int run = 0; run < 3; ++run) {
      QApplication::processEvents();
      QElapsedTimer clock;
      clock.start();
      sinceTick.start();
      longestStall = 0;
      previewing = true;
      emit state.messages().listPreview(row);
      while (state.IsProcessRunning()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
      previewing = false;
      // A stall that the view's building ended counts too.
      longestStall = std::max(longestStall, sinceTick.elapsed());
      const qint64 ms = clock.elapsed();
      if (best < 0 || ms < best) best = ms;
      worstStall = std::max(worstStall, longestStall);
    }
    const char* view = frame.FileViewer()->CurrentView() != nullptr
                           ? frame.FileViewer()->CurrentView()->metaObject()->className()
                           : "none";
    std::printf("%-10s %9zu bytes  %-28s best %4lld ms  longest stall %4lld ms\n",
                rows->Row(row).name.toLocal8Bit().constData(),
                static_cast<std::size_t>(rows->Row(row).name == QStringLiteral("photo.jpg") ? photo.size() : kTenMiB), view, static_cast<long long>(best),
                static_cast<long long>(worstStall));
  }
  state.SetProcessRunning(false);
  return 0;
}
