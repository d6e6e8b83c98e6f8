// Prompts for the benchmark drivers: every message box answered with OK,
// every dialog cancelled; a driver overrides what it needs answered.
#pragma once

#include "app/prompts.h"

namespace ostrel::bench {

class BenchPrompts : public app::Prompts {
 public:
  app::MessageAnswer ShowMessage(const app::MessageRequest&) override { return app::MessageAnswer::Ok; }
  QString GetSaveFileName(const app::FileDialogRequest&) override { return {}; }
  QString GetOpenFileName(const app::FileDialogRequest&) override { return {}; }
  QString GetFolder(const app::FolderDialogRequest&) override { return {}; }
  bool OpenUrl(const QUrl&) override { return true; }
  QAction* ChooseFromMenu(QMenu*, const QPoint&) override { return nullptr; }
};

}  // namespace ostrel::bench
