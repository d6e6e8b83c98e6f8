// The private messages: a send from a worker waits until the user-interface
// thread has handled it; a post returns at once and is handled later; both
// keep their order.
#include <QThread>
#include <QtTest>
#include <atomic>
#include <thread>

#include "app/messages.h"

using ostrel::app::ShellMessages;

class MessagesTest : public QObject {
  Q_OBJECT

 private slots:
  void sendFromWorkerWaitsForTheHandler();
  void postFromWorkerReturnsAtOnce();
  void sendOnTheUiThreadIsADirectCall();
  void mixedSendsAndPostsKeepTheirOrder();
  void progressReportsTravelByValue();
};

void MessagesTest::sendFromWorkerWaitsForTheHandler() {
  ShellMessages messages;
  QThread* handledOn = nullptr;
  int handledRow = -1;
  connect(&messages, &ShellMessages::listPreview, &messages, [&](int row) {
    handledOn = QThread::currentThread();
    handledRow = row;
  });
  std::atomic<int> seenByWorker{-2};
  std::thread worker([&] {
    messages.Send(&ShellMessages::listPreview, 42);
    seenByWorker = handledRow;  // the handler has run when Send returns
  });
  QTRY_COMPARE(seenByWorker.load(), 42);
  worker.join();
  QCOMPARE(handledOn, QThread::currentThread());
}

void MessagesTest::postFromWorkerReturnsAtOnce() {
  ShellMessages messages;
  int handled = 0;
  connect(&messages, &ShellMessages::scanStatusBar, &messages, [&](int add) { handled = add + 10; });
  // This thread does not run its event loop while it waits for the worker: a
  // send would never return, a post does.
  std::thread worker([&] { messages.Post(&ShellMessages::scanStatusBar, 0); });
  worker.join();
  QCOMPARE(handled, 0);
  QCoreApplication::processEvents();
  QCOMPARE(handled, 10);
}

void MessagesTest::sendOnTheUiThreadIsADirectCall() {
  ShellMessages messages;
  int handled = 0;
  connect(&messages, &ShellMessages::scanDone, &messages, [&](int value) { handled = value; });
  messages.Send(&ShellMessages::scanDone, 100);
  QCOMPARE(handled, 100);
  messages.Post(&ShellMessages::scanDone, 7);  // a post waits for the event loop, even here
  QCOMPARE(handled, 100);
  QCoreApplication::processEvents();
  QCOMPARE(handled, 7);
}

void MessagesTest::mixedSendsAndPostsKeepTheirOrder() {
  ShellMessages messages;
  QList<int> order;
  connect(&messages, &ShellMessages::resultClick, &messages, [&](int row) { order.append(row); });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      if (i % 3 == 0) {
        messages.Send(&ShellMessages::resultClick, i);
      } else {
        messages.Post(&ShellMessages::resultClick, i);
      }
    }
    done = true;
  });
  QTRY_VERIFY(done.load());
  worker.join();
  QCoreApplication::processEvents();
  QList<int> expected;
  for (int i = 0; i < 200; ++i) expected.append(i);
  QCOMPARE(order, expected);
}

void MessagesTest::progressReportsTravelByValue() {
  ShellMessages messages;
  ostrel::ProgressReport received;
  connect(&messages, &ShellMessages::scanProgress, &messages,
          [&](const ostrel::ProgressReport& report) { received = report; });
  std::thread worker([&] {
    ostrel::ProgressReport report;
    report.percent = 12.5f;
    report.position = 5'000'000'000ULL;
    report.filesFound = 17;
    report.fileLength = 40'000'000'000ULL;
    messages.Post(&ShellMessages::scanProgress, report);
    report.filesFound = 999;  // the sender's copy may change once posted
  });
  worker.join();
  QCoreApplication::processEvents();
  QCOMPARE(received.filesFound, 17u);
  QCOMPARE(received.position, 5'000'000'000ULL);
  QCOMPARE(received.fileLength, 40'000'000'000ULL);
  QCOMPARE(received.percent, 12.5f);
}

QTEST_MAIN(MessagesTest)
#include "messages_test.moc"
