#include "app/app_state.h"

namespace ostrel::app {

CKorvaneBKFFileRepProjApp::CKorvaneBKFFileRepProjApp(Prompts& prompts, QObject* parent)
    : QObject(parent), prompts_(prompts) {
  qRegisterMetaType<ostrel::ProgressReport>();
}

void CKorvaneBKFFileRepProjApp::SetProcessRunning(int value) {
  processRunning.store(value);
  emit processRunningChanged(value);
}

}  // namespace ostrel::app
