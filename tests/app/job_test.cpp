// The job base: progress reaches the user-interface thread coalesced and once
// more before the end; `finished` carries the outcome and the job counts as
// working until its handlers have returned; Stop, a throwing work and an
// owner going away end a job cleanly.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "app/app_state.h"
#include "app/job.h"
#include "tests/app/scripted_prompts.h"

using ostrel::app::CKorvaneBKFFileRepProjApp;
using ostrel::app::Job;
using ostrel::app::JobOutcome;

namespace {

// A job whose work the test writes.
class TestJob : public Job {
 public:
  using Job::Job;
  void Run(std::function<JobOutcome(TestJob&)> work) {
    Launch([this, work = std::move(work)] { return work(*this); });
  }
  using Job::NoteProgress;
  using Job::OnUi;
  using Job::Stop;
};

}  // namespace

class JobTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    prompts_ = std::make_unique<ostrel::testing::ScriptedPrompts>();
    app_ = std::make_unique<CKorvaneBKFFileRepProjApp>(*prompts_);
  }
  void cleanup() {
    app_.reset();
    prompts_.reset();
  }

  void progressIsCoalescedAndShownOnceMoreAtTheEnd() {
    TestJob job(*app_);
    std::atomic<int> noted{0};
    int shown = 0;
    int shownAtEnd = -1;
    bool workingAtEnd = false;
    JobOutcome outcome = JobOutcome::Failed;
    connect(&job, &Job::progressed, this, [&] { ++shown; });
    connect(&job, &Job::finished, this, [&](JobOutcome o) {
      outcome = o;
      shownAtEnd = shown;
      workingAtEnd = job.IsWorking();
    });
    QElapsedTimer clock;
    clock.start();
    app_->SetProcessRunning(true);
    job.Run([&](TestJob& j) {
      // A burst of notes, then a pause, then one last note just before the end.
      for (int i = 0; i < 200000; ++i) {
        j.NoteProgress();
        ++noted;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      j.NoteProgress();
      return JobOutcome::Done;
    });
    QTRY_VERIFY_WITH_TIMEOUT(!job.IsWorking(), 10000);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(outcome, JobOutcome::Done);
    QVERIFY(workingAtEnd);  // still working while the window handles the end
    QVERIFY2(shown >= 2, "the burst and the last note are both shown");
    QVERIFY2(shown <= elapsed / 30 + 3, qPrintable(QStringLiteral("%1 in %2 ms").arg(shown).arg(elapsed)));
    QCOMPARE(shownAtEnd, shown);  // the last progress comes before the end
  }

  void stopAndFailureEndTheWork_data() {
    QTest::addColumn<int>("how");  // 0 Stop, 1 a throwing work
    QTest::addColumn<JobOutcome>("expected");
    QTest::newRow("Stop") << 0 << JobOutcome::Stopped;
    QTest::newRow("throws") << 1 << JobOutcome::Failed;
  }
  void stopAndFailureEndTheWork() {
    QFETCH(int, how);
    QFETCH(JobOutcome, expected);
    TestJob job(*app_);
    QSignalSpy finished(&job, &Job::finished);
    app_->SetProcessRunning(true);
    job.Run([how](TestJob& j) {
      if (how == 1) throw std::runtime_error("fault");
      while (!j.Stop().StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return JobOutcome::Stopped;
    });
    if (how == 0) {
      QTest::qWait(20);
      QVERIFY(job.IsWorking());
      app_->SetProcessRunning(false);  // Stop
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).value<JobOutcome>(), expected);
    QTRY_VERIFY(!job.IsWorking());
  }

  // An owner going away while the worker waits in a call to the window:
  // the call is dropped, the work ends at its next look at the stop token,
  // and nothing is emitted any more.
  void abandonWhileTheWorkerWaitsForTheWindow() {
    std::atomic<bool> reachedCall{false};
    std::atomic<bool> callRan{false};
    QSignalSpy* finished = nullptr;
    {
      TestJob job(*app_);
      finished = new QSignalSpy(&job, &Job::finished);
      app_->SetProcessRunning(true);
      job.Run([&](TestJob& j) {
        reachedCall = true;
        j.OnUi([&] { callRan = true; });
        while (!j.Stop().StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return JobOutcome::Stopped;
      });
      // The worker is now blocked in OnUi: the window's thread has not run
      // the event loop yet.
      while (!reachedCall) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      job.Abandon();
      QVERIFY(!job.IsWorking());
      QVERIFY(!app_->IsProcessRunning());
      QCOMPARE(finished->count(), 0);
    }
    QVERIFY(!callRan);
    delete finished;
  }

 private:
  std::unique_ptr<ostrel::testing::ScriptedPrompts> prompts_;
  std::unique_ptr<CKorvaneBKFFileRepProjApp> app_;
};

QTEST_MAIN(JobTest)
#include "job_test.moc"
