// The catalogue view: the main window's side of the tree pane and the file
// list (CMainFrame's ResetCatalogueView, ShowCatalogueTopLevel,
// PopulateFolder and the tree's message handlers, in catalogue_view.cpp).
// Folders are filled lazily from the session's catalogue, the list shows the
// contents of the selected item, and names and check marks are kept in step
// with the catalogue.
#pragma once

#include "app/app_state.h"

namespace ostrel::app {

// Marks the process running while a folder or the list fills (so that check
// marks set meanwhile stay out of the catalogue and commands refuse), and
// ended again on every way out.
class RunningWhileFilling {
 public:
  explicit RunningWhileFilling(CKorvaneBKFFileRepProjApp& app) : app_(app) { app_.SetProcessRunning(true); }
  ~RunningWhileFilling() { app_.SetProcessRunning(false); }
  RunningWhileFilling(const RunningWhileFilling&) = delete;
  RunningWhileFilling& operator=(const RunningWhileFilling&) = delete;

 private:
  CKorvaneBKFFileRepProjApp& app_;
};

}  // namespace ostrel::app
