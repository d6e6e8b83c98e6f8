// The two ways a worker thread reaches the user-interface thread, after the
// window messages they replace: a send runs the call on the receiver's thread
// and waits for it; a post queues it and returns at once. Calls posted (or
// sent) from one thread are carried out in the order they were made.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace ostrel::app {

// On the receiver's own thread the call runs at once. From another thread the
// caller blocks until the receiver's thread has run it, so the receiver's
// thread must never wait for the caller.
template <typename Call>
void SendTo(QObject* receiver, Call&& call) {
  if (QThread::currentThread() == receiver->thread()) {
    std::forward<Call>(call)();
  } else {
    QMetaObject::invokeMethod(receiver, std::forward<Call>(call), Qt::BlockingQueuedConnection);
  }
}

// Runs later on the receiver's thread, also when posted from that thread.
template <typename Call>
void PostTo(QObject* receiver, Call&& call) {
  QMetaObject::invokeMethod(receiver, std::forward<Call>(call), Qt::QueuedConnection);
}

}  // namespace ostrel::app
