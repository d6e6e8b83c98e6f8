#include "tests/app/frame_fixture.h"

#include <QtTest>

#include "preview/temp_folder.h"

namespace ostrel::testing {

void FrameFixture::SetUp(QSize size) {
  prompts_ = std::make_unique<ScriptedPrompts>();
  state_ = std::make_unique<app::CKorvaneBKFFileRepProjApp>(*prompts_);
  frame_ = std::make_unique<app::CMainFrame>(*state_);
  frame_->resize(size);
  frame_->show();
  QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
}

void FrameFixture::Restart() {
  frame_.reset();
  frame_ = std::make_unique<app::CMainFrame>(*state_);
}

void FrameFixture::TearDown() {
  const QStringList problems = prompts_->Problems();
  const int pending = prompts_->PendingAnswers();
  state_->SetProcessRunning(false, /*announce=*/false);
  frame_.reset();
  state_.reset();
  prompts_.reset();
  preview::CleanTempFolder();
  QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
  QCOMPARE(pending, 0);
}

}  // namespace ostrel::testing
