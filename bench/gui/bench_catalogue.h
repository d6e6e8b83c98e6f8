// A synthetic catalogue for the benchmark drivers: one tape, set and volume,
// a folder for every thousand files, names "report_N.ext" in five kinds and
// one name of 2,000 units in every thousand (a long name of one letter).
#pragma once

#include <QFile>
#include <QString>
#include <memory>
#include <string>

#include "app/main_frame.h"
#include "catalogue/catalogue.h"
#include "reader/recovery_session.h"

namespace ostrel::bench {

inline Catalogue BuildBenchCatalogue(int files) {
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
      name = std::u16string(2000, u'a');
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

// Hands `frame` a session over the catalogue of `files` files, as if a scan
// of `bkfPath` had found them.
inline void AdoptBenchCatalogue(app::CMainFrame& frame, int files, const QString& bkfPath) {
  auto session = std::make_unique<RecoverySession>();
  session->catalogue = BuildBenchCatalogue(files);
  session->file.Open(QFile::encodeName(bkfPath).toStdString());
  frame.SetSession(std::move(session));
}

}  // namespace ostrel::bench
