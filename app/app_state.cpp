#include "app/app_state.h"

namespace ostrel::app {

CKorvaneBKFFileRepProjApp::CKorvaneBKFFileRepProjApp(Prompts& prompts, QObject* parent)
    : QObject(parent), prompts_(prompts) {
  qRegisterMetaType<ostrel::ProgressReport>();
}

void CKorvaneBKFFileRepProjApp::SetProcessRunning(bool running, bool announce) {
  if (running) {
    stop_.Reset();
  } else {
    stop_.RequestStop();
  }
  running_.store(running);
  if (announce) emit processRunningChanged(running);
}

}  // namespace ostrel::app
