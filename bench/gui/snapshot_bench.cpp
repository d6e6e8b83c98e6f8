// The snapshot commands' speed, offscreen: a catalogue of FILES files
// (default 1,000,000) saved through the Save snapshot command and loaded
// again through Load, each timed from the command to its end, while a 2 ms
// timer on the user-interface thread measures the longest gap between two of
// its turns (the longest event-loop stall).
//
//   snapshot_bench [FILES] [FOLDER]   (the snapshot is written into FOLDER,
//                                      by default a new temporary folder)
// Prints one line per command: its name, seconds, longest stall in ms, and
// the milliseconds the command call itself held the user-interface thread.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/snapshot_job.h"
#include "bench/gui/bench_catalogue.h"
#include "bench/gui/bench_prompts.h"
#include "reader/scanner.h"

using namespace ostrel;

namespace {

class SnapshotBenchPrompts final : public bench::BenchPrompts {
 public:
  QString path;
  QString GetSaveFileName(const app::FileDialogRequest&) override { return path; }
  QString GetOpenFileName(const app::FileDialogRequest&) override { return path; }
};

// True while a snapshot command still works.
bool Busy(app::CMainFrame& frame) { return frame.App().IsProcessRunning() || frame.SnapshotWork().IsWorking(); }

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int files = argc > 1 ? std::atoi(argv[1]) : 1000000;
  QTemporaryDir temp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/snapshot-bench-XXXXXX")
                              : QDir::tempPath() + QStringLiteral("/snapshot-bench-XXXXXX"));
  if (!temp.isValid()) {
    std::fprintf(stderr, "snapshot_bench: cannot create a folder for the snapshot\n");
    return 2;
  }
  const QString bkfPath = temp.filePath(QStringLiteral("empty.bkf"));
  QFile(bkfPath).open(QIODevice::WriteOnly);

  SnapshotBenchPrompts prompts;
  prompts.path = temp.filePath(QStringLiteral("bench.KVSNAPSHOT"));
  app::CKorvaneBKFFileRepProjApp state(prompts);
  app::CMainFrame frame(state);
  frame.resize(1280, 800);
  frame.show();
  bench::AdoptBenchCatalogue(frame, files, bkfPath);
  state.SetProcessRunning(true);
  frame.ShowCatalogueTopLevel();
  state.SetProcessRunning(false);

  struct Phase {
    const char* name;
    std::function<void()> command;
    double seconds = 0;
    qint64 stallMs = 0;
    qint64 callMs = 0;
  };
  Phase phases[] = {{"save", [&] { frame.OnSaveSnapshot(); }},
                    {"load", [&] { frame.LoadSnapshotPath(prompts.path); }}};
  int current = -1;
  bool measuring = false;
  bool called = false;  // the command has returned (it may let events run before)
  QElapsedTimer clock;
  QElapsedTimer sinceTick;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(2);
  std::function<void()> startNext = [&] {
    if (++current == static_cast<int>(std::size(phases))) {
      QCoreApplication::exit(0);
      return;
    }
    Phase& phase = phases[current];
    measuring = true;
    called = false;
    clock.start();
    sinceTick.start();
    phase.command();
    phase.callMs = clock.elapsed();
    called = true;
  };
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (!measuring) return;
    Phase& phase = phases[current];
    phase.stallMs = std::max(phase.stallMs, sinceTick.elapsed());
    sinceTick.restart();
    if (called && !Busy(frame)) {
      phase.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
      measuring = false;
      QTimer::singleShot(100, &frame, startNext);  // a quiet moment between the two
    }
  });
  tick.start();
  QTimer::singleShot(200, &frame, startNext);
  application.exec();

  const auto loaded = frame.HasCatalogue() ? frame.Session()->catalogue.FileCount() : 0;
  std::printf("%d files, snapshot of %lld bytes; %llu files loaded back\n", files,
              static_cast<long long>(QFileInfo(prompts.path).size()), static_cast<unsigned long long>(loaded));
  for (const Phase& phase : phases) {
    std::printf("%s %.3f %lld %lld\n", phase.name, phase.seconds, static_cast<long long>(phase.stallMs),
                static_cast<long long>(phase.callMs));
  }
  return loaded == static_cast<std::uint64_t>(files) ? 0 : 1;
}
