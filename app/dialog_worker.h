// What the dialogs that run a worker thread (saving, searching) share: asking
// before Stop, refusing to close while the worker runs, the destination
// folder picker, and a coalesced "take what the worker has" request, so a
// worker that finds thousands of things a second asks the user-interface
// thread only as often as that thread keeps up.
#pragma once

#include <QDir>
#include <QLineEdit>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>

#include "app/app_state.h"
#include "app/prompts.h"
#include "app/ui_thread.h"

namespace ostrel::app {

inline const QString kSelectDestinationTitle = QStringLiteral("Select destination path to save files");

// "Stop": asks, and on Yes clears the process-running flag.
inline void AskToStop(CKorvaneBKFFileRepProjApp& app, QWidget* owner) {
  if (Tell(app.prompts(), owner, QStringLiteral("Are you sure to stop the running process?"), MessageIcon::Question,
           MessageButtons::YesNo) == MessageAnswer::Yes) {
    app.SetProcessRunning(0);
  }
}

// True (after telling the user) when the dialog must stay open.
inline bool RefuseToClose(CKorvaneBKFFileRepProjApp& app, QWidget* owner, bool running) {
  if (running) Tell(app.prompts(), owner, QStringLiteral("Please stop the running process to close the application."));
  return running;
}

// The folder dialog for a destination edit, starting at what it holds.
inline void BrowseForDestination(Prompts& prompts, QWidget* owner, QLineEdit* edit) {
  FolderDialogRequest request;
  request.owner = owner;
  request.title = kSelectDestinationTitle;
  request.startFolder = edit->text();
  const QString folder = prompts.GetFolder(request);
  if (!folder.isEmpty()) edit->setText(QDir::toNativeSeparators(folder));
}

// Posts `flush` to `receiver`'s thread when no earlier post is still waiting.
// Any thread may call Request.
class CoalescedFlush {
 public:
  CoalescedFlush(QObject* receiver, std::function<void()> flush) : receiver_(receiver), flush_(std::move(flush)) {}

  void Request() {
    if (!queued_.exchange(true)) {
      PostTo(receiver_, [this] {
        queued_ = false;
        flush_();
      });
    }
  }
  bool Queued() const { return queued_.load(std::memory_order_relaxed); }

 private:
  QObject* receiver_;
  std::function<void()> flush_;
  std::atomic<bool> queued_{false};
};

}  // namespace ostrel::app
