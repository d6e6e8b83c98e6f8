// Search dialog speed, offscreen: searches over a catalogue of FILES names
// (default 1,000,000) with a few patterns, each timed from the search button
// to the end of the search with every hit in the result list. The last
// pattern meets long names that make a naive backtracking matcher crawl.
//
//   search_bench [FILES]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/prompts.h"
#include "app/search_dialog.h"
#include "bench/gui/bench_catalogue.h"
#include "reader/scanner.h"

using namespace ostrel;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int files = argc > 1 ? std::atoi(argv[1]) : 1000000;
  QTemporaryDir dir;
  const QString bkfPath = dir.filePath(QStringLiteral("empty.bkf"));
  QFile(bkfPath).open(QIODevice::WriteOnly);

  app::QtPrompts prompts;
  app::CKorvaneBKFFileRepProjApp state(prompts);
  app::CMainFrame frame(state);
  frame.resize(1280, 800);
  frame.show();
  bench::AdoptBenchCatalogue(frame, files, bkfPath);

  app::CKorvaneDlgSearchBkfFiles dialog(frame);
  dialog.show();
  std::printf("%d file names\n", files);
  for (const char* pattern : {"*.*", "doc", "*.DOC", "report_12345?.txt", "*a*a*a*a*a*a*a*a*b"}) {
    dialog.PatternEdit()->setText(QString::fromLatin1(pattern));
    QEventLoop loop;
    QObject::connect(&dialog, &app::CKorvaneDlgSearchBkfFiles::searchFinished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    dialog.OnSearch();
    if (dialog.IsSearching()) loop.exec();
    std::printf("pattern %-22s %8d hits  %6lld ms\n", pattern, dialog.Results()->rowCount(),
                static_cast<long long>(timer.elapsed()));
  }
  return 0;
}
