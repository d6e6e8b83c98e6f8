// What most GUI tests start from: the application state and the main window,
// shown on the offscreen platform, with every prompt answered by a
// ScriptedPrompts.
#pragma once

#include <QSize>
#include <memory>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "tests/app/scripted_prompts.h"

namespace ostrel::testing {

class FrameFixture {
 public:
  // A fresh state and a main window shown at `size`; call from init().
  void SetUp(QSize size = QSize(1000, 700));
  // Fails the running test when a prompt found no scripted answer or an
  // answer was left over; then destroys the window. Call from cleanup().
  void TearDown();
  // A new main window over the same state, as at the next start; not shown.
  void Restart();

  ScriptedPrompts& prompts() { return *prompts_; }
  app::CKorvaneBKFFileRepProjApp& state() { return *state_; }
  app::CMainFrame& frame() { return *frame_; }

 private:
  std::unique_ptr<ScriptedPrompts> prompts_;
  std::unique_ptr<app::CKorvaneBKFFileRepProjApp> state_;
  std::unique_ptr<app::CMainFrame> frame_;
};

}  // namespace ostrel::testing
