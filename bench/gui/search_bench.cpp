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
#include <memory>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/prompts.h"
#include "app/search_dialog.h"
#include "reader/scanner.h"

using namespace ostrel;

namespace {

Catalogue Build(int files) {
  Catalogue cat;
  auto& tree = cat.Tree();
  const auto tape = tree.AddNode(u"Bench tape", 0);
  const auto set = tree.AddNode(u"SET 1 :Bench", tape);
  const auto volume = tree.AddNode(u"C:", set);
  std::uint64_t folder = volume;
  static const char16_t* const kExtensions[] = {u".doc", u".txt", u".jpg", u".bin", u""};
  for (int i = 0; i < files; ++i) {
    if (i % 1000 == 0) folder = tree.AddNode(u"Folder", volume);
    FileNode f;
    f.parent = folder;
    f.index = cat.FileCount();
    f.dataPosition = 1;
    f.dataLength = static_cast<std::uint64_t>(i);
    std::u16string name;
    if (i % 1000 == 999) {
      name = std::u16string(2000, u'a');  // a long name of one letter
    } else {
      const std::string number = std::to_string(i);
      name = u"report_" + std::u16string(number.begin(), number.end()) + kExtensions[i % 5];
    }
    const auto index = cat.AppendFile(f, name);
    if (tree.NodeAt(folder).firstFile == kNone) tree.NodeAt(folder).firstFile = index;
    tree.NodeAt(folder).lastFile = index;
  }
  return cat;
}

}  // namespace

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
  auto scanner = std::make_unique<bkf>(state.processRunning);
  scanner->Adopt(Build(files), bkfPath.toStdString());
  frame.SetScanner(std::move(scanner));

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
